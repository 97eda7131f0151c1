#include "common/process.h"

#include "common/path.h"
#include "common/run_log.h"
#include "common/system_folder.h"

#include <vector>

std::optional<unique_process_information> StartProcess(const std::string& commandLine, DWORD creationFlags,
                                                       const char* workingDirectory, const char* applicationName)
{
    // CreateProcessA may write into its command line.
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(applicationName, line.data(), nullptr, nullptr, FALSE, creationFlags, nullptr, workingDirectory,
                        &startup, &info))
        return std::nullopt;
    unique_process_information process;
    process.process.reset(info.hProcess);
    process.thread.reset(info.hThread);
    return process;
}

std::optional<unique_process_information> StartProcessInSystemFolder(const std::string& commandLine,
                                                                     DWORD creationFlags)
{
    const std::optional<std::string> systemFolder = SystemFolder();
    return StartProcess(commandLine, creationFlags, systemFolder ? systemFolder->c_str() : nullptr);
}

void WaitForProcess(const unique_process_information& process)
{
    WaitForSingleObject(process.process.get(), INFINITE);
}

ProcessRun RunToEnd(const std::string& commandLine, DWORD creationFlags, const char* workingDirectory,
                    bool (*succeeded)(DWORD exitCode))
{
    const std::optional<std::string> systemFolder = workingDirectory ? std::nullopt : SystemFolder();
    const char* folder = workingDirectory ? workingDirectory : systemFolder ? systemFolder->c_str() : nullptr;
    const std::string run = "run " + commandLine + " in " + (folder ? folder : "the current folder");
    std::optional<unique_process_information> process = StartProcess(commandLine, creationFlags, folder);
    if (!process) {
        LogLine({run, ": failed to start, error ", std::to_string(GetLastError())});
        return {};
    }
    LogLine({run, ": started, waiting for it to end"});
    WaitForProcess(*process);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process->process.get(), &exitCode)) {
        LogLine({run, ": failed, no exit code, error ", std::to_string(GetLastError())});
        return {};
    }
    const bool ok = succeeded(exitCode);
    LogLine({run, ok ? ": ok" : ": failed", ", exit code ", std::to_string(exitCode)});
    return {exitCode, ok};
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string SystemToolPath(const char* fileName)
{
    const std::optional<std::string> folder = SystemFolder();
    return folder ? JoinPath(*folder, fileName) : fileName;
}
