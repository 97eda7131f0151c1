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
#include "repair/registration_check.h"
#include "repair/registry_repairs.h"
#include "worker/host_repair.h"
#include "worker/run_outcome.h"

#include <objbase.h>

#include <cstdio>
#include <optional>
#include <string>

bool silentMode = false;

namespace {

constexpr char ComInitFailed[] = "Unable to initialize COM!";
constexpr char ErrorCaption[] = "Error";
constexpr char CleanupComCaption[] = "Unregistering COM Servers... Processing:";
constexpr char CleanupNetCaption[] = "Unregistering .NET Assemblies... Processing:";
constexpr char VerifyComCaption[] = "Checking COM Servers... Processing:";
constexpr char VerifyNetCaption[] = "Checking .NET Assemblies... Processing:";
constexpr char VerifyArcObjectsCaption[] = "Checking ArcObjects... Processing:";
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
// there is none. "log", "exit_codes" and "verify" are not counted: they choose no step.
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
    if (!IsRunLogOpen())
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
    outcome.working = Step::ComServers;
    NotePass(outcome.comRow, UnregisterProductComServers(*productHome, sxsRequired, window));
    outcome.working = Step::Assemblies;
    NotePass(outcome.netRow, UnregisterAssemblies(*productHome, window));
    outcome.working = Step::None;
}

// A -verify run shows the repair's three rows under captions of its own.
void ShowVerifyCaptions(HWND window)
{
    SetDlgItemTextA(window, IDC_COM_CAPTION, VerifyComCaption);
    SetDlgItemTextA(window, IDC_NET_CAPTION, VerifyNetCaption);
    SetDlgItemTextA(window, IDC_ARC_CAPTION, VerifyArcObjectsCaption);
}

// The product's pass on the COM row, which the raster folder's pass may have
// used already: the row starts again from the hourglass, unless that pass
// failed, whose failure then stays shown to the end of the run.
void RegisterProductServers(HWND window, const std::string& productHome, bool sxsRequired, StepMode mode,
                            RunOutcome& outcome)
{
    const std::optional<std::string> rasterFailure = outcome.comRowFailedFile;
    if (!rasterFailure)
        ReportStatus(window, ComRow, STATUS_CODE_PENDING);
    std::optional<std::string> failedFile;
    NotePass(outcome.comRow, RegisterProductComServers(productHome, sxsRequired, window, failedFile, mode));
    if (rasterFailure)
        ReportRowFailure(window, ComRow, *rasterFailure);
    else
        outcome.comRowFailedFile = failedFile;
}

void RunRepair(const WorkerContext& context, const OptionSet& options, const std::optional<std::string>& productHome,
               bool& sxsRequired, RunOutcome& outcome)
{
    const StepMode mode = ModeOf(options);
    if (IsStepSelected(options, "repair_arcgis"))
        RepairHost(context, options, sxsRequired, outcome);
    else
        LogSkipped("the host repair", "not selected");

    if (productHome) {
        outcome.working = Step::ComServers;
        if (IsStepSelected(options, "repair_qex_com"))
            RegisterProductServers(context.window, *productHome, sxsRequired, mode, outcome);
        else
            LogSkipped("the QEX COM servers", "not selected");
        outcome.working = Step::Assemblies;
        if (IsStepSelected(options, "repair_qex_net"))
            NotePass(outcome.netRow, RegisterAssemblies(*productHome, context.window, mode));
        else
            LogSkipped("the QEX assemblies", "not selected");
        outcome.working = Step::Registry;
        if (FixThreadingModel(mode) == RegistryWrite::Failed)
            outcome.registryNotWritten = true;
    } else {
        outcome.noProductInstallation =
            IsStepSelected(options, "repair_qex_com") || IsStepSelected(options, "repair_qex_net");
        LogSkipped("the QEX COM servers, assemblies and threading model", "no QEX home");
    }

    outcome.working = Step::AfCore;
    if (!IsStepSelected(options, "sync_afcore"))
        LogSkipped("the AfCore.dll copy", "not selected");
    else if (const std::optional<Replaced> afCore = SyncAfCore(options)) {
        outcome.afCoreNotReplaced = *afCore == Replaced::Not;
        if (WaitsForRestart(*afCore))
            outcome.restartNeeded = true;
    }
    outcome.working = Step::None;
}

// The row that a step reports on, if any.
const ProgressRow* RowOf(Step step)
{
    switch (step) {
    case Step::ComServers:
        return &ComRow;
    case Step::Assemblies:
        return &NetRow;
    case Step::ArcObjects:
        return &ArcObjectsRow;
    default:
        return nullptr;
    }
}

// The check, the cleanup or the repair. Whatever a step meets (memory
// running out, say), nothing leaves this thread: the step that was working
// fails, on its row and in its bit, the later ones are skipped, and the run
// still finishes, saying that it was cut short.
void RunSteps(const WorkerContext& context, const OptionSet& options, RunOutcome& outcome)
{
    try {
        bool sxsRequired = true;
        const std::optional<std::string> productHome = SettleProductHome(options, sxsRequired);
        LogWhatIsInstalled(options, productHome);
        if (ModeOf(options) == StepMode::Verify) {
            ShowVerifyCaptions(context.window);
            RunRepair(context, options, productHome, sxsRequired, outcome);
        } else if (options.Has("cleanup") && StepOptionCount(options) == 1) {
            RunCleanup(context.window, productHome, sxsRequired, outcome);
        } else {
            RunRepair(context, options, productHome, sxsRequired, outcome);
        }
    } catch (...) {
        outcome.cutShort = true;
        FailStep(outcome, outcome.working);
        if (const ProgressRow* row = RowOf(outcome.working))
            ReportStatus(context.window, *row, STATUS_CODE_FAILURE);
        LogLine({"the run was cut short: an error (such as memory running out) ended the step at work; "
                 "the steps after it were skipped"});
    }
}

// The log's last line and the exit code it names: 0 unless -exit_codes; a
// -verify run always gives the bit sum, what a repair would change.
// Counted once; a last line that cannot be written adds its bit.
DWORD LogDone(const OptionSet& options, RunOutcome& outcome) noexcept
{
    const bool verify = ModeOf(options) == StepMode::Verify;
    const bool exitCodes = options.Has("exit_codes");
    outcome.logNotWritten = RunLogFailed();
    DWORD exitCode = verify ? ExitCodeBits(outcome) : exitCodes ? ExitCode(outcome) : 0;
    char line[sizeof "done, exit code 4294967295"];
    std::snprintf(line, sizeof line, "done, exit code %lu", static_cast<unsigned long>(exitCode));
    LogLine({line});
    if ((exitCodes || verify) && !outcome.logNotWritten && RunLogFailed())
        exitCode = ExitCodeBits(outcome) | LogNotWrittenBit;
    return exitCode;
}

// The log's last lines, and the exit code they name.
// Memory running out here only costs lines of the log.
DWORD EndRun(const OptionSet& options, RunOutcome& outcome) noexcept
{
    const auto text = ModeOf(options) == StepMode::Verify ? RowCheckText : RowOutcomeText;
    try {
        const std::string comFile = outcome.comRowFailedFile ? " (" + *outcome.comRowFailedFile + ")" : "";
        LogLine({"row COM servers: ", text(outcome.comRow), comFile});
    } catch (...) {
        LogLine({"row COM servers: ", text(outcome.comRow)});
    }
    LogLine({"row .NET assemblies: ", text(outcome.netRow)});
    LogLine({"row ArcObjects: ", text(outcome.arcObjectsRow)});
    if (outcome.restartStarted || outcome.restartNeeded)
        LogLine({outcome.restartStarted ? "a restart of the machine has been started"
                                        : "a restart of the machine is needed to finish the repair"});

    return LogDone(options, outcome);
}

// Lets the user close the window; in silent mode closes it.
void Finish(HWND window) noexcept
{
    EnableWindow(GetDlgItem(window, IDOK), TRUE);
    if (HMENU menu = GetSystemMenu(window, FALSE))
        EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
    if (silentMode)
        SendMessageA(window, UM_FINISH, 0, 0);
}

DWORD Run(WorkerContext& context, const OptionSet& options)
{
    if (options.Has("silent") || options.Has("nogui"))
        silentMode = true;

    const ComApartment com;
    if (com.result != S_OK && !silentMode)
        MessageBoxA(nullptr, ComInitFailed, ErrorCaption, MB_OK | MB_ICONERROR);

    RunOutcome outcome;
    RunSteps(context, options, outcome);
    const DWORD exitCode = EndRun(options, outcome);
    context.workDone = true;
    Finish(context.window);
    return exitCode;
}

} // namespace

DWORD WINAPI RepairWorker(LPVOID parameter)
{
    WorkerContext& context = *static_cast<WorkerContext*>(parameter);
    return Run(context, *context.options);
}

DWORD EndInterruptedRun(const WorkerContext& context) noexcept
{
    // A check's capture that the thread left behind must not outlive it.
    ReleaseAbandonedCapture();
    RunOutcome outcome;
    outcome.cutShort = true;
    LogLine({"the run was cut short: the worker's thread ended inside a step"});
    const DWORD exitCode = LogDone(*context.options, outcome);
    Finish(context.window);
    return exitCode;
}
