#include "worker/repair_worker.h"

#include "common/messages.h"
#include "common/run_log.h"
#include "common/system_folder.h"
#include "discovery/host.h"
#include "discovery/product.h"
#include "options/option_set.h"
#include "repair/com_servers.h"
#include "repair/dotnet_assemblies.h"
#include "repair/progress_row.h"
#include "repair/registry_repairs.h"
#include "worker/host_repair.h"
#include "worker/run_outcome.h"

#include <objbase.h>

#include <optional>
#include <string>

bool silentMode = false;

namespace {

constexpr char ComInitFailed[] = "Unable to initialize COM!";
constexpr char ErrorCaption[] = "Error";
constexpr char CleanupComCaption[] = "Unregistering COM Servers... Processing:";
constexpr char CleanupNetCaption[] = "Unregistering .NET Assemblies... Processing:";
// The ArcObjects row, hidden in a cleanup run: caption, file label, bar, icon.
constexpr int ArcObjectsRowControls[] = {IDC_ARC_CAPTION, IDC_ARC_LABEL, IDC_ARC_BAR, IDC_ARC_ICON};

// COM for this thread, left again on every path. S_FALSE (already
// initialised) needs its CoUninitialize as well; a failure has none to pair.
struct ComApartment {
    HRESULT result = CoInitialize(nullptr);
    ComApartment() = default;
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment()
    {
        if (SUCCEEDED(result))
            CoUninitialize();
    }
};

// The named option is present; or "silent"/"nogui" is the only option; or
// there is none. "log" and "exit_codes" are not counted: they choose no step.
bool IsStepSelected(const OptionSet& options, const char* name)
{
    const int count = StepOptionCount(options);
    return (count > 0 && options.Has(name)) || (count == 1 && silentMode) || count == 0;
}

std::optional<std::string> SettleProductHome(const OptionSet& options, bool& sxsRequired)
{
    if (!options.Has("qex_home"))
        return FindProductHome(FindLatestSharedVersion());
    std::optional<std::string> home;
    options.TryGetValue("qex_home", home);
    if (options.Has("sxs_required"))
        sxsRequired = SxsRequiredOption(options);
    return TypedHome(home);
}

// What the run starts from, for the log only.
void LogWhatIsInstalled(const OptionSet& options, const std::optional<std::string>& productHome)
{
    if (!RunLogOpen())
        return;
    const std::string notFound = "not found";
    LogLine({"host: home ", FindHostHome().value_or(notFound), ", version ", FindHostVersion().value_or(notFound)});
    LogLine({"raster folder: ", FindRasterHome().value_or(notFound)});
    const std::optional<std::string> shared = FindLatestSharedVersion();
    LogLine({"QEX: shared version ", shared.value_or(notFound), ", home ", FindProductHome(shared).value_or(notFound)});
    if (options.Has("qex_home"))
        LogLine({"QEX: home given: ", productHome.value_or("none")});
    LogLine({".NET Framework ", DotNetRuntimeVersion, ": ", FindDotNetDirectory(DotNetRuntimeVersion).value_or(notFound)});
    LogLine({"LUMERA ", LumeraVersion, ": home ", FindLumeraHome(LumeraVersion).value_or(notFound)});
}

void LogSkipped(const char* step, const char* why)
{
    LogLine({"skip ", step, ": ", why});
}

void RunCleanup(HWND window, const std::optional<std::string>& productHome, bool sxsRequired, RunOutcome& outcome)
{
    for (int id : ArcObjectsRowControls)
        ShowWindow(GetDlgItem(window, id), SW_HIDE);
    SetDlgItemTextA(window, IDC_COM_CAPTION, CleanupComCaption);
    SetDlgItemTextA(window, IDC_NET_CAPTION, CleanupNetCaption);
    if (!productHome) {
        outcome.noProductInstallation = true;
        LogSkipped("the cleanup", "no QEX home");
        return;
    }
    NotePass(outcome.comRow, UnregisterProductComServers(*productHome, sxsRequired, window));
    NotePass(outcome.netRow, UnregisterAssemblies(*productHome, window));
}

// The product's pass on the COM row, which the raster folder's pass may have
// used already: the row starts again from the hourglass, unless that pass
// failed, whose failure then stays shown to the end of the run.
void RegisterProductServers(HWND window, const std::string& productHome, bool sxsRequired, RunOutcome& outcome)
{
    const std::optional<std::string> rasterFailure = outcome.comRowFailedFile;
    if (!rasterFailure)
        ReportStatus(window, ComRow, STATUS_CODE_PENDING);
    std::optional<std::string> failedFile;
    NotePass(outcome.comRow, RegisterProductComServers(productHome, sxsRequired, window, failedFile));
    if (rasterFailure)
        ReportRowFailure(window, ComRow, *rasterFailure);
    else
        outcome.comRowFailedFile = failedFile;
}

void RunRepair(const WorkerContext& context, const OptionSet& options, const std::optional<std::string>& productHome,
               bool& sxsRequired, RunOutcome& outcome)
{
    if (IsStepSelected(options, "repair_arcgis"))
        RepairHost(context, options, sxsRequired, outcome);
    else
        LogSkipped("the host repair", "not selected");

    if (productHome) {
        if (IsStepSelected(options, "repair_qex_com"))
            RegisterProductServers(context.window, *productHome, sxsRequired, outcome);
        else
            LogSkipped("the QEX COM servers", "not selected");
        if (IsStepSelected(options, "repair_qex_net"))
            NotePass(outcome.netRow, RegisterAssemblies(*productHome, context.window));
        else
            LogSkipped("the QEX assemblies", "not selected");
        if (FixThreadingModel() == RegistryWrite::Failed)
            outcome.registryNotWritten = true;
    } else {
        outcome.noProductInstallation =
            IsStepSelected(options, "repair_qex_com") || IsStepSelected(options, "repair_qex_net");
        LogSkipped("the QEX COM servers, assemblies and threading model", "no QEX home");
    }

    if (!IsStepSelected(options, "sync_afcore"))
        LogSkipped("the AfCore.dll copy", "not selected");
    else if (const std::optional<Replaced> afCore = SyncAfCore(options)) {
        outcome.afCoreNotReplaced = *afCore == Replaced::Not;
        if (WaitsForRestart(*afCore))
            outcome.restartNeeded = true;
    }
}

// The cleanup or the repair. Whatever a step meets (memory running out, say),
// nothing leaves this thread: the step that was working stays unfinished on
// its row, the later ones are skipped, and the run still finishes.
void RunSteps(const WorkerContext& context, const OptionSet& options, RunOutcome& outcome)
{
    try {
        bool sxsRequired = true;
        const std::optional<std::string> productHome = SettleProductHome(options, sxsRequired);
        LogWhatIsInstalled(options, productHome);
        if (options.Has("cleanup") && StepOptionCount(options) == 1)
            RunCleanup(context.window, productHome, sxsRequired, outcome);
        else
            RunRepair(context, options, productHome, sxsRequired, outcome);
    } catch (...) {
    }
}

// The log's last lines, and the exit code they name: 0 unless -exit_codes.
DWORD EndRun(const OptionSet& options, RunOutcome& outcome)
{
    const std::string comFile = outcome.comRowFailedFile ? " (" + *outcome.comRowFailedFile + ")" : "";
    LogLine({"row COM servers: ", RowOutcomeText(outcome.comRow), comFile});
    LogLine({"row .NET assemblies: ", RowOutcomeText(outcome.netRow)});
    LogLine({"row ArcObjects: ", RowOutcomeText(outcome.arcObjectsRow)});

    const auto exitCode = [&] {
        outcome.logNotWritten = RunLogFailed();
        return options.Has("exit_codes") ? ExitCodeBits(outcome) : 0;
    };
    LogLine({"done, exit code ", std::to_string(exitCode())});
    // The last line itself may not be written: the code still says so.
    return exitCode();
}

// Lets the user close the window; in silent mode closes it.
void Finish(HWND window)
{
    EnableWindow(GetDlgItem(window, IDOK), TRUE);
    if (HMENU menu = GetSystemMenu(window, FALSE))
        EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
    if (silentMode)
        SendMessageA(window, UM_FINISH, 0, 0);
}

DWORD Run(const WorkerContext& context, const OptionSet& options)
{
    if (options.Has("silent") || options.Has("nogui"))
        silentMode = true;

    const ComApartment com;
    if (com.result != S_OK && !silentMode)
        MessageBoxA(nullptr, ComInitFailed, ErrorCaption, MB_OK | MB_ICONERROR);

    RunOutcome outcome;
    RunSteps(context, options, outcome);
    const DWORD exitCode = EndRun(options, outcome);
    Finish(context.window);
    return exitCode;
}

} // namespace

DWORD WINAPI RepairWorker(LPVOID parameter)
{
    const WorkerContext& context = *static_cast<const WorkerContext*>(parameter);
    return Run(context, *context.options);
}
