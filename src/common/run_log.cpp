#include "common/run_log.h"

#include "common/unique_any.h"

#include <windows.h>

#include <cstdio>
#include <new>

namespace {

// A run as SYSTEM may log to a folder that users can write to. So a link
// there is opened as itself, never followed to where a user points it; and
// a pipe's server may only identify this run, never act as it.
constexpr DWORD LogOpenFlags =
    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// Opened on the UI thread before the worker starts; written by one thread at a time.
unique_file logFile;
bool logFailed = false;

// Only a file on disk that is no link: a pipe's server would read the run,
// and a device (COM1) may hold a write for ever.
bool IsPlainDiskFile(HANDLE file)
{
    if (GetFileType(file) != FILE_TYPE_DISK)
        return false;
    BY_HANDLE_FILE_INFORMATION information{};
    return GetFileInformationByHandle(file, &information) &&
           !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

} // namespace

bool OpenRunLogFile(const std::string& path)
{
    logFile.reset(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, LogOpenFlags, nullptr));
    if (logFile && !IsPlainDiskFile(logFile.get()))
        logFile.reset();
    logFailed = !logFile;
    return static_cast<bool>(logFile);
}

void CloseRunLog() noexcept
{
    logFile.reset();
    logFailed = false;
}

bool IsRunLogOpen()
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
        // The process id tells apart the lines of two runs that share a log.
        char stamp[sizeof "YYYY-MM-DD HH:MM:SS [4294967295] "];
        std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u [%lu] ", now.wYear % 10000u,
                      now.wMonth % 100u, now.wDay % 100u, now.wHour % 100u, now.wMinute % 100u, now.wSecond % 100u,
                      GetCurrentProcessId());
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
