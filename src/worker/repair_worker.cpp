#include "worker/repair_worker.h"

#include "common/messages.h"
#include "common/system_folder.h"
#include "discovery/product.h"
#include "options/option_set.h"
#include "repair/com_servers.h"
#include "repair/dotnet_assemblies.h"
#include "repair/progress_row.h"
#include "repair/registry_repairs.h"
#include "worker/host_repair.h"

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

// The named option is present; or "silent"/"nogui" is the only option; or there is none.
bool IsStepSelected(const OptionSet& options, const char* name)
{
    return (options.Any() && options.Has(name)) || (options.Count() == 1 && silentMode) || !options.Any();
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

void RunCleanup(HWND window, const std::string& productHome, bool sxsRequired)
{
    for (int id : ArcObjectsRowControls)
        ShowWindow(GetDlgItem(window, id), SW_HIDE);
    SetDlgItemTextA(window, IDC_COM_CAPTION, CleanupComCaption);
    SetDlgItemTextA(window, IDC_NET_CAPTION, CleanupNetCaption);
    UnregisterProductComServers(productHome, sxsRequired, window);
    UnregisterAssemblies(productHome, window);
}

// The product's pass on the COM row, which the raster folder's pass may have
// used already: the row starts again from the hourglass, unless that pass
// failed, whose failure then stays shown to the end of the run.
void RegisterProductServers(HWND window, const std::string& productHome, bool sxsRequired,
                            const std::optional<std::string>& rasterFailure)
{
    if (!rasterFailure)
        ReportStatus(window, ComRow, STATUS_CODE_PENDING);
    RegisterProductComServers(productHome, sxsRequired, window);
    if (rasterFailure)
        ReportRowFailure(window, ComRow, *rasterFailure);
}

void RunRepair(const WorkerContext& context, const OptionSet& options, const std::optional<std::string>& productHome,
               bool& sxsRequired)
{
    std::optional<std::string> rasterFailure;
    if (IsStepSelected(options, "repair_arcgis"))
        RepairHost(context, options, sxsRequired, rasterFailure);
    if (productHome) {
        if (IsStepSelected(options, "repair_qex_com"))
            RegisterProductServers(context.window, *productHome, sxsRequired, rasterFailure);
        if (IsStepSelected(options, "repair_qex_net"))
            RegisterAssemblies(*productHome, context.window);
        FixThreadingModel();
    }
    if (IsStepSelected(options, "sync_afcore"))
        SyncAfCore(options);
}

// The cleanup or the repair. Whatever a step meets (memory running out, say),
// nothing leaves this thread: the step that was working stays unfinished on
// its row, the later ones are skipped, and the run still finishes.
void RunSteps(const WorkerContext& context, const OptionSet& options)
{
    try {
        bool sxsRequired = true;
        const std::optional<std::string> productHome = SettleProductHome(options, sxsRequired);
        if (options.Has("cleanup") && options.Count() == 1)
            RunCleanup(context.window, productHome.value_or(""), sxsRequired);
        else
            RunRepair(context, options, productHome, sxsRequired);
    } catch (...) {
    }
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

void Run(const WorkerContext& context, const OptionSet& options)
{
    if (options.Has("silent") || options.Has("nogui"))
        silentMode = true;

    const ComApartment com;
    if (com.result != S_OK && !silentMode)
        MessageBoxA(nullptr, ComInitFailed, ErrorCaption, MB_OK | MB_ICONERROR);

    RunSteps(context, options);
    Finish(context.window);
}

} // namespace

DWORD WINAPI RepairWorker(LPVOID parameter)
{
    const WorkerContext& context = *static_cast<const WorkerContext*>(parameter);
    Run(context, *context.options);
    return 0;
}
