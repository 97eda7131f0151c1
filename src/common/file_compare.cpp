#include "common/file_compare.h"

#include "common/unique_any.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

constexpr DWORD CompareChunk = 64 * 1024;

// Opened for reading only, sharing everything: a check disturbs nobody.
unique_file OpenForReading(const std::string& path)
{
    return unique_file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

std::string Unreadable(const char* which, DWORD error)
{
    return std::string("the ") + which + " cannot be read (error " + std::to_string(error) + ")";
}

// A whole chunk, or what is left before the end.
bool ReadChunk(HANDLE file, std::vector<char>& buffer, DWORD& read)
{
    read = 0;
    while (read < buffer.size()) {
        DWORD got = 0;
        if (!ReadFile(file, buffer.data() + read, static_cast<DWORD>(buffer.size()) - read, &got, nullptr))
            return false;
        if (got == 0)
            break;
        read += got;
    }
    return true;
}

} // namespace

std::optional<std::string> FileDifference(const std::string& source, const std::string& target)
{
    unique_file from = OpenForReading(source);
    if (!from)
        return Unreadable("source", GetLastError());
    unique_file to = OpenForReading(target);
    if (!to) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return std::string("the target is missing");
        return Unreadable("target", error);
    }
    std::vector<char> expected(CompareChunk), actual(CompareChunk);
    for (;;) {
        DWORD expectedRead = 0, actualRead = 0;
        if (!ReadChunk(from.get(), expected, expectedRead))
            return Unreadable("source", GetLastError());
        if (!ReadChunk(to.get(), actual, actualRead))
            return Unreadable("target", GetLastError());
        if (expectedRead != actualRead || !std::equal(expected.begin(), expected.begin() + expectedRead, actual.begin()))
            return std::string("the target differs");
        if (expectedRead == 0)
            return std::nullopt;
    }
}
