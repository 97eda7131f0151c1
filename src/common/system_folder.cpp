#include "common/system_folder.h"

#include "common/path.h"

#include <new>

std::optional<std::string> SystemFolder()
{
    char folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::nullopt;
    return std::string(folder, length);
}

HMODULE LoadSystemLibrary(const char* fileName) noexcept
{
    // Out of memory for the path, no library: the caller goes on without it,
    // as when the library is missing.
    try {
        const std::optional<std::string> folder = SystemFolder();
        if (!folder)
            return nullptr;
        return LoadLibraryExA(JoinPath(*folder, fileName).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::optional<std::string> FullPath(const std::string& path)
{
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return std::nullopt;
    std::string full(needed, '\0');
    const DWORD length = GetFullPathNameA(path.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed)
        return std::nullopt;
    full.resize(length);
    return full;
}

namespace {

// The long form of a path that is there; nullopt for a path to nothing.
std::optional<std::string> LongPath(const std::string& path)
{
    const DWORD needed = GetLongPathNameA(path.c_str(), nullptr, 0);
    if (needed == 0)
        return std::nullopt;
    std::string longPath(needed, '\0');
    const DWORD length = GetLongPathNameA(path.c_str(), &longPath[0], needed);
    if (length == 0 || length >= needed)
        return std::nullopt;
    longPath.resize(length);
    return longPath;
}

} // namespace

std::optional<std::string> FullLongPath(const std::string& path)
{
    const std::optional<std::string> full = FullPath(path);
    if (!full)
        return std::nullopt;
    if (std::optional<std::string> longPath = LongPath(*full))
        return longPath;
    // A file that is not there (a program named without its ".exe") keeps
    // its name as written; the folders above it are still made long.
    const size_t separator = full->rfind('\\');
    if (separator != std::string::npos)
        if (std::optional<std::string> folder = LongPath(full->substr(0, separator)))
            return *folder + full->substr(separator);
    return full;
}

bool FolderExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<std::string> TypedHome(std::optional<std::string> typed)
{
    if (!typed || typed->empty() || !IsPathText(*typed))
        return std::nullopt;
    if (IsAbsolutePath(*typed))
        return typed;
    // Made full, a spelling such as "//./C:/x" may still name a device.
    std::optional<std::string> full = FullPath(*typed);
    if (full && !IsAbsolutePath(*full))
        return std::nullopt;
    return full;
}
