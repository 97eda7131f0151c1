#include "worker/host_repair.h"

#include "common/file_copy.h"
#include "common/path.h"
#include "common/process.h"
#include "common/system_folder.h"
#include "common/unique_any.h"
#include "discovery/host.h"
#include "discovery/product.h"
#include "options/option_set.h"
#include "repair/arcobjects.h"
#include "repair/com_servers.h"
#include "repair/registry_repairs.h"

#include <cstdlib>
#include <vector>

namespace {

constexpr char PatchProductVersion[] = "8.7.0";   // shared version that carries the patch installers
constexpr char PatchedExtensionVersion[] = "8.3"; // extension that needs the second patch
constexpr char LumeraVersion[] = "8.7";
constexpr char HostFallbackFolder[] = "archome\\ntx86\\";
constexpr char Patch1Folder[] = "Install\\Patch1\\";
constexpr char Patch2Folder[] = "Install\\Patch2\\";
constexpr char PatchProgram[] = "Setup.exe";
constexpr char PatchArguments[] = " /qn";
constexpr char PatchLaunchFailed[] = "Unable to launch SxS patch installer!";
constexpr char PatchCaption[] = "RepairQEXApps";
// The command line and the working directory each fit a buffer of this size.
constexpr size_t PatchBufferSize = 1004;

constexpr char HostAfCore[] = "\\Bin\\AfCore.dll";                 // after the host home, always with a backslash
constexpr char ProductAfCore[] = "Archome\\NTx86\\Bin\\AfCore.dll"; // joined to the product home
constexpr char LumeraAfCore[] = "Bin\\NTx86\\AfCore.dll";           // joined to the imaging product's home

// The option's directory, absolute; nullopt when it is absent, a flag or empty.
std::optional<std::string> DirectoryOption(const OptionSet& options, const char* name)
{
    std::optional<std::string> value;
    options.TryGetValue(name, value);
    return TypedHome(value);
}

void ReportPatchLaunchFailure()
{
    if (!silentMode)
        MessageBoxA(nullptr, PatchLaunchFailed, PatchCaption, MB_OK | MB_ICONERROR);
}

// The short form of a path, or the path itself when it has none.
std::string ShortPath(const std::string& path)
{
    std::vector<char> buffer(path.size() + 1, '\0');
    DWORD length = GetShortPathNameA(path.c_str(), buffer.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size())
        return path;
    return std::string(buffer.data(), length);
}

// Runs the side-by-side patch installer that the machine still lacks and
// waits for it; host version "8.3.0" only.
void RunPatchStep(bool& sxsRequired)
{
    std::optional<std::string> home = FindProductHome(PatchProductVersion);
    if (!home) {
        sxsRequired = false;
        return;
    }
    const std::string shortHome = ShortPath(*home);

    const char* folder = nullptr;
    if (IsExtensionInstalled(PatchedExtensionVersion) && !IsPatch2Installed())
        folder = Patch2Folder;
    else if (!IsPatch1Installed())
        folder = Patch1Folder;

    if (folder) {
        const std::string workingDirectory = JoinPath(shortHome, folder);
        // Quoted: a short form may still hold spaces, and Windows would try C:\Program.exe first.
        const std::string commandLine = Quoted(workingDirectory + PatchProgram) + PatchArguments;
        // A home too long for the buffers is refused, never cut into another path.
        std::optional<unique_process_information> installer;
        if (commandLine.size() < PatchBufferSize && workingDirectory.size() < PatchBufferSize)
            installer = StartProcess(commandLine, 0, workingDirectory.c_str());
        if (installer)
            WaitForProcess(*installer);
        else
            ReportPatchLaunchFailure();
    }
    sxsRequired = true;
}

void DecideSideBySide(const OptionSet& options, bool& sxsRequired)
{
    if (options.Has("sxs_required")) {
        sxsRequired = SxsRequiredOption(options);
        return;
    }
    const std::optional<std::string> version = FindHostVersion();
    if (!version)
        return;
    if (*version == "8.3.0")
        RunPatchStep(sxsRequired);
    else if (*version == "9.0.0.0")
        sxsRequired = false;
    else if (*version == "9.1")
        sxsRequired = true;
}

std::optional<std::string> LumeraTarget(const OptionSet& options)
{
    if (options.Has("lumera_home"))
        return DirectoryOption(options, "lumera_home");
    return FindLumeraHome(LumeraVersion);
}

void CopyFromHost(const OptionSet& options)
{
    const std::optional<std::string> source =
        options.Has("arcgis_home") ? DirectoryOption(options, "arcgis_home") : FindHostHome();
    const std::optional<std::string> target = LumeraTarget(options);
    if (source && target)
        ReplaceWithCompleteCopy(*source + HostAfCore, JoinPath(*target, LumeraAfCore));
}

void CopyFromProduct(const OptionSet& options)
{
    const std::optional<std::string> source =
        options.Has("qex_home") ? DirectoryOption(options, "qex_home") : FindProductHome(PatchProductVersion);
    const std::optional<std::string> target = LumeraTarget(options);
    if (source && target)
        ReplaceWithCompleteCopy(JoinPath(*source, ProductAfCore), JoinPath(*target, LumeraAfCore));
}

} // namespace

bool SxsRequiredOption(const OptionSet& options)
{
    const std::optional<std::string> value = options.GetValue("sxs_required");
    return value && std::strtol(value->c_str(), nullptr, 10) == 1;
}

std::optional<std::string> RepairHost(const WorkerContext& context, const OptionSet& options, bool& sxsRequired,
                                      std::optional<std::string>& comRowFailure)
{
    std::optional<std::string> hostHome;
    if (options.Has("arcgis_home")) {
        hostHome = DirectoryOption(options, "arcgis_home");
    } else if ((hostHome = FindHostHome())) {
        WriteRasterEnvironment();
        if (const std::optional<std::string> rasterHome = FindRasterHome()) {
            DecideSideBySide(options, sxsRequired);
            // Narrower than the step selection: a lone "silent" or "nogui" does not select it.
            if (options.Has("repair_qex_com") || !options.Any()) {
                RegisterProductComServers(*rasterHome, sxsRequired, context.window, comRowFailure);
                FixThreadingModel();
            }
        }
    } else if (const std::optional<std::string> home = FindProductHome(PatchProductVersion)) {
        hostHome = JoinPath(*home, HostFallbackFolder);
    }

    if (hostHome)
        RegisterArcObjects(*hostHome, context.window);
    return hostHome;
}

void SyncAfCore(const OptionSet& options)
{
    const std::optional<std::string> version = FindHostVersion();
    if (!version) {
        CopyFromProduct(options);
        return;
    }
    const double number = std::strtod(version->c_str(), nullptr);
    if (number == 9.0 || number == 9.1)
        CopyFromHost(options);
    else if (number == 8.3)
        CopyFromProduct(options);
}
