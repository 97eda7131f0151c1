#include "repair/dotnet_assemblies.h"

#include "common/path.h"
#include "common/process.h"
#include "common/registry.h"
#include "common/run_log.h"
#include "repair/progress_row.h"

namespace {

constexpr char FrameworkKey[] = "SOFTWARE\\Microsoft\\.NETFramework";
constexpr char InstallRootValue[] = "InstallRoot";
constexpr char VersionPrefix[] = "v";
constexpr char ServerFolderName[] = "bin\\ntx86";
constexpr char RegasmFileName[] = "regasm.exe";
constexpr char RegisterSwitch[] = "/codebase";
constexpr char UnregisterSwitch[] = "/unregister";

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

bool RunRegasmOverAssemblies(std::string_view installDir, const char* switchText, HWND window)
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
        if (!frameworkFolder)
            LogLine({"run regasm.exe for ", assembly, ": failed to start, no .NET Framework ", DotNetRuntimeVersion});
        if (!frameworkFolder || !RunRegasm(RegasmCommandLine(*frameworkFolder, switchText, serverFolder, assembly)))
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

bool RegisterAssemblies(std::string_view installDir, HWND window)
{
    return RunRegasmOverAssemblies(installDir, RegisterSwitch, window);
}

bool UnregisterAssemblies(std::string_view installDir, HWND window)
{
    return RunRegasmOverAssemblies(installDir, UnregisterSwitch, window);
}
