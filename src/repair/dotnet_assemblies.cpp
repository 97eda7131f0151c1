#include "repair/dotnet_assemblies.h"

#include "common/path.h"
#include "common/process.h"
#include "common/registry.h"
#include "common/run_log.h"
#include "common/unique_any.h"
#include "repair/progress_row.h"
#include "repair/reg_file.h"
#include "repair/registration_check.h"

#include <vector>

namespace {

constexpr char FrameworkKey[] = "SOFTWARE\\Microsoft\\.NETFramework";
constexpr char InstallRootValue[] = "InstallRoot";
constexpr char VersionPrefix[] = "v";
constexpr char ServerFolderName[] = "bin\\ntx86";
constexpr char RegasmFileName[] = "regasm.exe";
constexpr char RegisterSwitch[] = "/codebase";
constexpr char UnregisterSwitch[] = "/unregister";
// A check asks for the registration as a registry file instead ("/regfile:"
// and the file, then "/codebase"), which regasm.exe writes and does not apply.
constexpr char RegFileSwitch[] = "/regfile:";
constexpr char RegFilePrefix[] = "qex";
// Far more than nine assemblies' registrations write; a larger file is not regasm.exe's.
constexpr DWORD LargestRegFile = 16 * 1024 * 1024;

constexpr const char* ProductAssemblies[] = {
    "AxTrilens.dll",       "GadgetKit.dll",       "Torvane.QEX.Interop.dll",
    "DockSuite.dll",       "SGCmdsLib.dll",       "SGEditTasksCtrl.dll",
    "SGDIALOGSLib.dll",    "SurfaceGraderSettings.dll", "MOSAIQLib.dll",
};
constexpr int AssemblyCount = sizeof ProductAssemblies / sizeof ProductAssemblies[0];

// Both paths quoted: a framework root with a space must not make Windows
// run a different program. No fixed length: a long folder is never cut
// into another command.
std::string RegasmCommandLine(const std::string& frameworkFolder, const char* switchText,
                              const std::string& serverFolder, const char* assembly)
{
    return Quoted(frameworkFolder + "\\" + RegasmFileName) + " " + switchText + " " +
           Quoted(serverFolder + "\\" + assembly);
}

// One run at a time, each waited for. regasm.exe reports an error (such as
// an assembly it cannot find) by a non-zero exit code. It starts in the
// system folder: the assemblies' registration code runs with our rights, and
// its native libraries must not be looked for in the caller's folder.
bool RunRegasm(const std::string& commandLine)
{
    return RunToEnd(commandLine, CREATE_NO_WINDOW, nullptr, [](DWORD exitCode) { return exitCode == 0; }).succeeded;
}

// A file of our own in the temporary folder, created empty, for regasm.exe
// to write; deleted on every path. An empty path when none could be made.
struct TemporaryFile {
    std::string path;
    DWORD error = ERROR_SUCCESS;
    TemporaryFile()
    {
        char folder[MAX_PATH + 1] = "";
        char name[MAX_PATH + 1] = "";
        const DWORD length = GetTempPathA(sizeof folder, folder);
        if (length > 0 && length < sizeof folder && GetTempFileNameA(folder, RegFilePrefix, 0, name))
            path = name;
        else
            error = GetLastError();
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile()
    {
        if (!path.empty())
            DeleteFileA(path.c_str());
    }
};

std::optional<std::string> ReadWholeFile(const std::string& path)
{
    unique_file file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > LargestRegFile)
        return std::nullopt;
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!text.empty() && (!ReadFile(file.get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr) ||
                          read != text.size()))
        return std::nullopt;
    return text;
}

std::optional<HKEY> RootNamed(const std::string& name)
{
    if (name == "HKEY_CLASSES_ROOT")
        return HKEY_CLASSES_ROOT;
    if (name == "HKEY_LOCAL_MACHINE")
        return HKEY_LOCAL_MACHINE;
    if (name == "HKEY_CURRENT_USER")
        return HKEY_CURRENT_USER;
    if (name == "HKEY_USERS")
        return HKEY_USERS;
    return std::nullopt;
}

// The file's strings as the REG_SZ values that the registration writes.
RegistrationKeys AsRegistration(const std::vector<RegFileKey>& keys)
{
    RegistrationKeys registration;
    for (const RegFileKey& key : keys) {
        RegistrationKey entry{RootNamed(key.root).value_or(HKEY_CLASSES_ROOT), key.path, {}};
        for (const RegFileValue& value : key.values)
            entry.values.push_back({value.name, {REG_SZ, value.data + '\0'}});
        registration.push_back(std::move(entry));
    }
    return registration;
}

// regasm.exe writes the registration it would make into a file of ours;
// each of its values is then compared with the registry.
bool CheckAssembly(const std::string& frameworkFolder, const std::string& serverFolder, const char* assembly)
{
    const std::string assemblyPath = serverFolder + "\\" + assembly;
    const TemporaryFile regFile;
    if (regFile.path.empty()) {
        LogLine({"check ", assemblyPath, ": not in place, no temporary file (error ", std::to_string(regFile.error),
                 ")"});
        return false;
    }
    const std::string switches = RegFileSwitch + Quoted(regFile.path) + " " + RegisterSwitch;
    if (!RunRegasm(RegasmCommandLine(frameworkFolder, switches.c_str(), serverFolder, assembly))) {
        LogLine({"check ", assemblyPath, ": not in place, regasm.exe wrote no registry file"});
        return false;
    }
    const std::optional<std::string> text = ReadWholeFile(regFile.path);
    const std::optional<std::vector<RegFileKey>> keys = text ? ParseRegFile(*text) : std::nullopt;
    if (!keys) {
        LogLine({"check ", assemblyPath, ": not in place, the registry file regasm.exe wrote cannot be read"});
        return false;
    }
    const std::optional<std::string> difference = RegistrationDifference(AsRegistration(*keys));
    if (difference)
        LogLine({"check ", assemblyPath, ": not in place, ", *difference});
    else
        LogLine({"check ", assemblyPath, ": in place"});
    return !difference;
}

bool ApplyToAssembly(const std::string& frameworkFolder, const char* switchText, const std::string& serverFolder,
                     const char* assembly, StepMode mode)
{
    if (mode == StepMode::Verify)
        return CheckAssembly(frameworkFolder, serverFolder, assembly);
    return RunRegasm(RegasmCommandLine(frameworkFolder, switchText, serverFolder, assembly));
}

bool RunRegasmOverAssemblies(std::string_view installDir, const char* switchText, HWND window, StepMode mode)
{
    if (installDir.empty())
        return false;
    const std::string serverFolder = JoinPath(installDir, ServerFolderName);
    const std::optional<std::string> frameworkFolder = FindDotNetDirectory(DotNetRuntimeVersion);

    std::optional<std::string> failedAssembly;
    for (int i = 1; i <= AssemblyCount; ++i) {
        const char* assembly = ProductAssemblies[i - 1];
        ReportLabel(window, NetRow, assembly);
        // Without a framework folder there is nothing to start: a failed launch.
        if (!frameworkFolder && mode == StepMode::Verify)
            LogLine({"check ", assembly, ": not in place, no .NET Framework ", DotNetRuntimeVersion});
        else if (!frameworkFolder)
            LogLine({"run regasm.exe for ", assembly, ": failed to start, no .NET Framework ", DotNetRuntimeVersion});
        if (!frameworkFolder || !ApplyToAssembly(*frameworkFolder, switchText, serverFolder, assembly, mode))
            NoteFailure(failedAssembly, assembly);
        ReportPosition(window, NetRow, (100 * i) / AssemblyCount);
    }
    // The last position shows success; a failed run overrides it.
    if (failedAssembly)
        ReportRowFailure(window, NetRow, *failedAssembly);
    return !failedAssembly;
}

} // namespace

std::optional<std::string> FindDotNetDirectory(std::string_view version)
{
    if (version.empty())
        return std::nullopt;
    // The framework writes InstallRoot with its trailing backslash. An empty,
    // relative or unreadable root would leave a folder relative to the current
    // directory: no folder at all is the safer answer.
    const std::optional<std::string> installRoot =
        AbsoluteHome(ReadRegistryString(HKEY_LOCAL_MACHINE, FrameworkKey, InstallRootValue));
    if (!installRoot)
        return std::nullopt;
    return *installRoot + VersionPrefix + std::string(version);
}

bool RegisterAssemblies(std::string_view installDir, HWND window, StepMode mode)
{
    return RunRegasmOverAssemblies(installDir, RegisterSwitch, window, mode);
}

bool UnregisterAssemblies(std::string_view installDir, HWND window)
{
    return RunRegasmOverAssemblies(installDir, UnregisterSwitch, window, StepMode::Repair);
}
