#pragma once

#include "common/unique_any.h"

#include <optional>
#include <string>

// CreateProcessA with no inherited handles, the caller's environment, a
// start-up record that is zero but for its size, and (unless one is given) no
// application name. nullopt when the process could not be started.
std::optional<unique_process_information> StartProcess(const std::string& commandLine, DWORD creationFlags,
                                                       const char* workingDirectory = nullptr,
                                                       const char* applicationName = nullptr);

// As StartProcess, starting in the system folder: a child that loads
// libraries by bare name never finds them in the caller's current folder.
std::optional<unique_process_information> StartProcessInSystemFolder(const std::string& commandLine,
                                                                     DWORD creationFlags);

// Waits, without a time limit, for the process to end.
void WaitForProcess(const unique_process_information& process);

// A process run to its end: started in workingDirectory (the system folder
// when null) and waited for without a time limit. The log shows what is
// waited for, then the exit code, as a failure unless succeeded(exit code)
// holds.
struct ProcessRun {
    std::optional<DWORD> exitCode; // nullopt: it could not be started, or its code not read
    bool succeeded = false;        // it ran, and succeeded(exit code) held
};
ProcessRun RunToEnd(const std::string& commandLine, DWORD creationFlags, const char* workingDirectory,
                    bool (*succeeded)(DWORD exitCode));

// "text" in double quotes.
std::string Quoted(const std::string& text);

// The system folder's copy of a tool, such as C:\windows\system32\regsvr32.exe
// (a 32-bit program on 64-bit Windows is redirected to SysWOW64).
std::string SystemToolPath(const char* fileName);
