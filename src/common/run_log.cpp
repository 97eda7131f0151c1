#include "common/run_log.h"

#include "common/unique_any.h"

#include <windows.h>

#include <cstdio>
#include <new>

namespace {

// Opened on the UI thread before the worker starts; written by one thread at a time.
unique_file logFile;
bool logFailed = false;

} // namespace

bool OpenRunLog(const std::string& path)
{
    logFile.reset(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    logFailed = !logFile;
    return static_cast<bool>(logFile);
}

bool RunLogOpen()
{
    return static_cast<bool>(logFile);
}

void LogLine(std::initializer_list<std::string_view> parts) noexcept
{
    if (!logFile)
        return;
    try {
        SYSTEMTIME now{};
        GetLocalTime(&now);
        char stamp[sizeof "YYYY-MM-DD HH:MM:SS "];
        std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear % 10000u, now.wMonth % 100u,
                      now.wDay % 100u, now.wHour % 100u, now.wMinute % 100u, now.wSecond % 100u);
        std::string line(stamp);
        for (std::string_view part : parts)
            line += part;
        line += "\r\n";
        // One write for the whole line; nothing is kept back, nothing forced to disk.
        DWORD written = 0;
        if (!WriteFile(logFile.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
            written != line.size())
            logFailed = true;
    } catch (const std::bad_alloc&) {
        logFailed = true;
    }
}

bool RunLogFailed()
{
    return logFailed;
}

std::string HexCode(unsigned long code)
{
    char text[sizeof "0xFFFFFFFF"];
    std::snprintf(text, sizeof text, "0x%08lX", code);
    return text;
}
