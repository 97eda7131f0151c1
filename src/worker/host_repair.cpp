#include "worker/host_repair.h"

#include "common/file_compare.h"
#include "common/file_copy.h"
#include "common/path.h"
#include "common/process.h"
#include "common/run_log.h"
#include "common/system_folder.h"
#include "common/unique_any.h"
#include "discovery/host.h"
#include "discovery/product.h"
#include "options/option_set.h"
#include "repair/arcobjects.h"
#include "repair/com_servers.h"
#include "repair/registry_repairs.h"
#include "worker/run_outcome.h"

#include <cstdlib>
#include <vector>

namespace {

constexpr char PatchProductVersion[] = "8.7.0";   // shared version that carries the patch installers
constexpr char PatchedExtensionVersion[] = "8.3"; // extension that needs the second patch
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

// The option's directory, made full against the current folder when it is
// typed relative; nullopt when it is absent, a flag or empty, or holds a
// double quote or a control character, which no path holds.
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

// 1641 and 3010 are a patch's success that leaves the restart to come.
void NotePatchRestart(DWORD exitCode, RunOutcome& outcome)
{
    if (exitCode == RestartStartedCode) {
        outcome.restartStarted = true;
        LogLine({"the side-by-side patch has started a restart of the machine"});
    } else if (exitCode == RestartRequiredCode) {
        outcome.restartNeeded = true;
        LogLine({"the side-by-side patch needs a restart of the machine to finish"});
    }
}

// Runs the side-by-side patch installer that the machine still lacks and
// waits for it; host version "8.3.0" only. The patch fails when it could not
// be started or ended with a code that is no success; one that asks for a
// restart, or has started it, makes the run say so. In a -verify run the
// patch that would be started fails, and is not started.
void RunPatchStep(bool& sxsRequired, RunOutcome& outcome, StepMode mode)
{
    std::optional<std::string> home = FindProductHome(PatchProductVersion);
    if (!home) {
        LogLine({"skip the side-by-side patch: no QEX ", PatchProductVersion, "; the utilities not required"});
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
        if (mode == StepMode::Verify) {
            LogLine({"check the side-by-side patch: not in place, a repair would start ", commandLine});
            outcome.patchFailed = true;
            sxsRequired = true;
            return;
        }
        // A home too long for the buffers is refused, never cut into another path.
        ProcessRun run;
        if (commandLine.size() < PatchBufferSize && workingDirectory.size() < PatchBufferSize)
            run = RunToEnd(commandLine, 0, workingDirectory.c_str(), [](DWORD code) { return IsPatchSuccess(code); });
        else
            LogLine({"run ", commandLine, ": failed to start, the path is too long"});
        outcome.patchFailed |= !run.succeeded;
        if (!run.exitCode)
            ReportPatchLaunchFailure();
        else if (run.succeeded)
            NotePatchRestart(*run.exitCode, outcome);
    } else {
        LogLine({"skip the side-by-side patch: installed"});
    }
    sxsRequired = true;
}

void DecideSideBySide(const OptionSet& options, bool& sxsRequired, RunOutcome& outcome)
{
    if (options.Has("sxs_required")) {
        sxsRequired = SxsRequiredOption(options);
    } else if (const std::optional<std::string> version = FindHostVersion()) {
        if (*version == "8.3.0") {
            outcome.working = Step::Patch;
            RunPatchStep(sxsRequired, outcome, ModeOf(options));
        } else if (*version == "9.0.0.0") {
            sxsRequired = false;
        } else if (*version == "9.1") {
            sxsRequired = true;
        }
    }
    LogLine({"side-by-side utilities ", sxsRequired ? "required" : "not required"});
}

std::optional<std::string> LumeraTarget(const OptionSet& options)
{
    if (options.Has("lumera_home"))
        return DirectoryOption(options, "lumera_home");
    return FindLumeraHome(LumeraVersion);
}

// The log's word on a replacement: how it went, or what failed.
std::string ReplacementText(const Replacement& replacement)
{
    switch (replacement.how) {
    case Replaced::Now:
        return replacement.text.empty() ? "ok" : "ok, " + replacement.text;
    case Replaced::OldAtRestart:
        return "ok, the old one in use is renamed to " + replacement.text + " and deleted at restart";
    case Replaced::AtRestart:
        return "in use: the copy " + replacement.text + " takes its place at restart";
    case Replaced::Not:
        break;
    }
    return "failed, " + replacement.text;
}

// In a -verify run nothing is copied: Replaced::Now when the target holds the
// source's bytes, Replaced::Not when it is missing or differs.
std::optional<Replaced> CopyAfCore(const std::optional<std::string>& source, const char* sourceName,
                                   const std::optional<std::string>& target, StepMode mode)
{
    if (!source || !target) {
        LogLine({"skip the AfCore.dll copy: no ", !source ? sourceName : "LUMERA", " home"});
        return std::nullopt;
    }
    const std::string targetFile = JoinPath(*target, LumeraAfCore);
    if (mode == StepMode::Verify) {
        const std::optional<std::string> difference = FileDifference(*source, targetFile);
        LogLine({"check ", targetFile, " against ", *source, difference ? ": not in place, " : ": in place",
                 difference.value_or("")});
        return difference ? Replaced::Not : Replaced::Now;
    }
    const Replacement replacement = ReplaceWithCompleteCopy(*source, targetFile);
    LogLine({"copy ", *source, " over ", targetFile, ": ", ReplacementText(replacement)});
    return replacement.how;
}

std::optional<Replaced> CopyFromHost(const OptionSet& options)
{
    const std::optional<std::string> home =
        options.Has("arcgis_home") ? DirectoryOption(options, "arcgis_home") : FindHostHome();
    const std::optional<std::string> source = home ? std::optional<std::string>(*home + HostAfCore) : std::nullopt;
    return CopyAfCore(source, "host", LumeraTarget(options), ModeOf(options));
}

std::optional<Replaced> CopyFromProduct(const OptionSet& options)
{
    const std::optional<std::string> home =
        options.Has("qex_home") ? DirectoryOption(options, "qex_home") : FindProductHome(PatchProductVersion);
    const std::optional<std::string> source =
        home ? std::optional<std::string>(JoinPath(*home, ProductAfCore)) : std::nullopt;
    return CopyAfCore(source, "QEX", LumeraTarget(options), ModeOf(options));
}

} // namespace

StepMode ModeOf(const OptionSet& options)
{
    return options.Has("verify") ? StepMode::Verify : StepMode::Repair;
}

bool SxsRequiredOption(const OptionSet& options)
{
    const std::optional<std::string> value = options.GetValue("sxs_required");
    return value && std::strtol(value->c_str(), nullptr, 10) == 1;
}

void RepairHost(const WorkerContext& context, const OptionSet& options, bool& sxsRequired, RunOutcome& outcome)
{
    const StepMode mode = ModeOf(options);
    std::optional<std::string> hostHome;
    if (options.Has("arcgis_home")) {
        hostHome = DirectoryOption(options, "arcgis_home");
        LogLine({"skip the raster environment and the raster folder: the host home is given"});
    } else if ((hostHome = FindHostHome())) {
        outcome.working = Step::Registry;
        std::optional<std::string> environmentHome;
        if (WriteRasterEnvironment(mode, &environmentHome) == RegistryWrite::Failed)
            outcome.registryNotWritten = true;
        // A check writes nothing: its raster folder is the one that the repaired environment would name.
        const std::optional<std::string> rasterHome =
            mode == StepMode::Verify && environmentHome ? environmentHome : FindRasterHome();
        if (rasterHome) {
            DecideSideBySide(options, sxsRequired, outcome);
            // Narrower than the step selection: a lone "silent" or "nogui" does not select it.
            if (options.Has("repair_qex_com") || StepOptionCount(options) == 0) {
                outcome.working = Step::ComServers;
                NotePass(outcome.comRow, RegisterProductComServers(*rasterHome, sxsRequired, context.window,
                                                                   outcome.comRowFailedFile, mode));
                outcome.working = Step::Registry;
                if (FixThreadingModel(mode) == RegistryWrite::Failed)
                    outcome.registryNotWritten = true;
            } else {
                LogLine({"skip the COM servers of the raster folder: not selected"});
            }
        } else {
            LogLine({"skip the side-by-side decision and the raster folder's COM servers: no raster folder"});
        }
    } else if (const std::optional<std::string> home = FindProductHome(PatchProductVersion)) {
        hostHome = JoinPath(*home, HostFallbackFolder);
        LogLine({"skip the raster environment and the raster folder: no host"});
    }

    if (hostHome) {
        outcome.working = Step::ArcObjects;
        bool registryFailed = false;
        NotePass(outcome.arcObjectsRow, RegisterArcObjects(*hostHome, context.window, &registryFailed, mode));
        outcome.registryNotWritten |= registryFailed;
    } else {
        LogLine({"skip the host repair: no host"});
    }
    outcome.working = Step::None;
}

std::optional<Replaced> SyncAfCore(const OptionSet& options)
{
    const std::optional<std::string> version = FindHostVersion();
    if (!version)
        return CopyFromProduct(options);
    const double number = std::strtod(version->c_str(), nullptr);
    if (number == 9.0 || number == 9.1)
        return CopyFromHost(options);
    if (number == 8.3)
        return CopyFromProduct(options);
    LogLine({"skip the AfCore.dll copy: host version ", *version});
    return std::nullopt;
}
