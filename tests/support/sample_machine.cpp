#include "support/sample_machine.h"

#include "common/control_ids.h"
#include "support/bench.h"
#include "support/discovery_packages.h"
#include "support/program_driver.h"

#include <windows.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <algorithm>

namespace {

constexpr char kMarkerKey[] = "Software\\QexTest\\ComMarkers";
constexpr char kOlderProductKey[] = "SOFTWARE\\Torvane\\Shared\\8.6.0\\Environment";
constexpr char kLumeraRootKey[] = "SOFTWARE\\NORVAK";

const char* const kRasterValues[] = {"QEX_HOME", "LUMERA_HOME", "QEX_ARCH", "QEX_ARCH_MODE"};

std::string CommonFilesFolder()
{
    return ReadString(HKEY_LOCAL_MACHINE, CurrentVersionKey, "CommonFilesDir")
        .value_or("C:\\Program Files\\Common Files");
}

std::string Strip(const std::string& folder)
{
    return folder.back() == '\\' ? folder.substr(0, folder.size() - 1) : folder;
}

std::string ServerFolder(const std::string& home)
{
    return home + "bin\\ntx86";
}

std::vector<std::string> ArcObjectsLibraries(const std::string& version)
{
    if (version == "8.3.0")
        return {"Geometry.dll", "SpatialReference.dll", "ESRICore.olb", "ESRITin.olb"};
    if (version == "9.0.0.0" || version == "9.1")
        return {"Geometry.dll"};
    return {};
}

std::string Shown(HKEY root, const std::string& subKey, const char* name)
{
    std::optional<std::string> text = ReadString(root, subKey, name);
    return text ? "\"" + *text + "\"" : "(absent)";
}

std::string FileState(const std::string& path)
{
    std::optional<std::string> text = ReadFileText(path);
    return text ? "\"" + *text + "\"" : "(missing)";
}

std::string PatchFolder(int which)
{
    return SampleMachine::ProductHome() + "Install\\Patch" + std::to_string(which) + "\\";
}

} // namespace

SampleMachine::SampleMachine(std::string hostVersion) : hostVersion_(std::move(hostVersion)) {}

SampleMachine::~SampleMachine()
{
    if (seeded_)
        Remove();
}

std::string SampleMachine::HostHome() { return "C:\\Program Files\\ArcGIS\\"; }
std::string SampleMachine::ProductHome() { return "C:\\Program Files\\Torvane\\QEX\\"; }
std::string SampleMachine::ExtensionHome() { return "C:\\Program Files\\Torvane\\Mirel\\"; }
std::string SampleMachine::LumeraHome() { return "C:\\Program Files\\NORVAK\\LUMERA\\"; }
std::string SampleMachine::FrameworkFolder() { return "C:\\Sample .NET\\Framework\\"; }
std::string SampleMachine::HostAfCore() { return HostHome() + "bin\\AfCore.dll"; }
std::string SampleMachine::ProductAfCore() { return ProductHome() + "Archome\\NTx86\\Bin\\AfCore.dll"; }
std::string SampleMachine::LumeraAfCore() { return LumeraHome() + "Bin\\NTx86\\AfCore.dll"; }

std::string SampleMachine::RasterServerFolder() const
{
    // 9.0.0.0: the raster environment, once repaired, points at the extension.
    if (hostVersion_ == "9.0.0.0")
        return ServerFolder(ExtensionHome());
    if (hostVersion_ == "9.1")
        return CommonFilesFolder() + "\\ESRI\\Raster\\bin\\ntx86";
    return ServerFolder(HostHome() + "Raster\\");
}

const std::vector<std::string>& SampleMachine::ProductServers()
{
    static const std::vector<std::string> servers = {"AsmBinder.dll", "ComBridge.dll", "QexCore.dll",
                                                     "QexMap.dll", "QexViewer.ocx"};
    return servers;
}

std::vector<std::string> SampleMachine::RasterServers() const
{
    return {"AsmBinder.dll", "ComBridge.dll", "RasterCore.dll"};
}

const std::vector<std::string>& SampleMachine::Assemblies()
{
    static const std::vector<std::string> assemblies = {
        "AxTrilens.dll",     "GadgetKit.dll",       "Torvane.QEX.Interop.dll",
        "DockSuite.dll",     "SGCmdsLib.dll",       "SGEditTasksCtrl.dll",
        "SGDIALOGSLib.dll",  "SurfaceGraderSettings.dll", "MOSAIQLib.dll"};
    return assemblies;
}

bool SampleMachine::Seed()
{
    Remove();
    seeded_ = true;
    bool ok = true;

    // The host, its libraries and its raster component.
    if (!hostVersion_.empty()) {
        ok &= SetString(HKEY_LOCAL_MACHINE, HostKey, "InstallDir", HostHome());
        ok &= SetString(HKEY_LOCAL_MACHINE, HostKey, "RealVersion", hostVersion_);
        CreateFolders(HostHome() + "bin");
        ok &= WriteFileText(HostAfCore(), "AfCore.dll of ArcGIS " + hostVersion_);
        for (const std::string& library : ArcObjectsLibraries(hostVersion_))
            ok &= CopyFixture("com_server.dll", HostHome() + "bin\\" + library);
        for (const std::string& server : RasterServers())
            ok &= CopyFixture("com_server.dll", RasterServerFolder() + "\\" + server);
    }
    // A stale raster environment that the host 9.0.0.0 repair rewrites.
    if (hostVersion_ == "9.0.0.0") {
        ok &= SetString(HKEY_LOCAL_MACHINE, RasterKey, "QEX", "stale");
        ok &= SetString(HKEY_LOCAL_MACHINE, RasterEnvironmentKey, "QEX_HOME", StaleRasterHome);
        ok &= SetString(HKEY_LOCAL_MACHINE, RasterEnvironmentKey, "LUMERA_HOME", StaleRasterHome);
    }

    // QEX 8.7.0 (and an older shared version that must not win).
    ok &= SetString(HKEY_LOCAL_MACHINE, ProductKey, "QEX_HOME", ProductHome());
    ok &= SetString(HKEY_LOCAL_MACHINE, kOlderProductKey, "QEX_HOME", "C:\\Program Files\\Torvane\\QEX 8.6\\");
    for (const std::string& server : ProductServers())
        ok &= CopyFixture("com_server.dll", ServerFolder(ProductHome()) + "\\" + server);
    ok &= CopyFixture("com_unregister_only.dll", ServerFolder(ProductHome()) + "\\QexResources.dll");
    for (const std::string& assembly : Assemblies())
        ok &= WriteFileText(ServerFolder(ProductHome()) + "\\" + assembly, "assembly");
    CreateFolders(ProductHome() + "Archome\\NTx86\\Bin");
    ok &= WriteFileText(ProductAfCore(), "AfCore.dll of QEX 8.7.0");
    for (int which : {1, 2}) {
        ok &= CopyFixture("patch_setup.exe", PatchFolder(which) + "Setup.exe");
        ok &= CopyFixture(("qex_patch_" + std::to_string(which) + ".msi").c_str(), PatchFolder(which) + "patch.msi");
    }

    // The extension of the host's version, and LUMERA with an outdated AfCore.dll.
    const std::string extensionVersion = hostVersion_ == "8.3.0" ? "8.3" : "9.0";
    ok &= SetString(HKEY_LOCAL_MACHINE, std::string(ExtensionsKey) + "\\" + extensionVersion, "InstallDir",
                    ExtensionHome());
    CreateFolders(ServerFolder(ExtensionHome()));
    ok &= SetString(HKEY_LOCAL_MACHINE, LumeraKey, "LumeraHome", LumeraHome());
    CreateFolders(LumeraHome() + "Bin\\NTx86");
    ok &= WriteFileText(LumeraAfCore(), "AfCore.dll, outdated");

    // The framework's registration tool.
    installRoot_ = std::make_unique<ScopedValue>(HKEY_LOCAL_MACHINE, FrameworkKey, "InstallRoot");
    ok &= installRoot_->SetString(FrameworkFolder());
    ok &= CopyFixture("regasm.exe", FrameworkFolder() + "v1.0.3705\\regasm.exe");

    // The class whose threading model the repair sets.
    ok &= SetString(HKEY_CLASSES_ROOT, ClassServerKey, "ThreadingModel", "Apartment");
    ClearRegistrationMarkers();
    return ok;
}

void SampleMachine::Remove()
{
    for (const char* key : {HostKey, RasterKey, SharedKey, ExtensionsKey, kLumeraRootKey})
        DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
    DeleteKeyTree(HKEY_CLASSES_ROOT, ClassKey);
    installRoot_.reset();
    for (int which = 1; which <= patchPackageCount; ++which)
        if (IsProductRecorded(PatchProductCode(which)))
            RemovePatchPackage(which);
    for (const std::string& folder : {Strip(HostHome()), std::string("C:\\Program Files\\Torvane"),
                                      std::string("C:\\Program Files\\NORVAK"), Strip(FrameworkFolder()),
                                      CommonFilesFolder() + "\\ESRI"})
        RemoveTree(folder);
    RemoveTree("C:\\Sample .NET");
    ClearRegistrationMarkers();
    seeded_ = false;
}

int RegistrationCount(const std::string& moduleFileName)
{
    return ReadCount(HKEY_CURRENT_USER, std::string(kMarkerKey) + "\\" + moduleFileName, "Registered");
}

int UnregistrationCount(const std::string& moduleFileName)
{
    return ReadCount(HKEY_CURRENT_USER, std::string(kMarkerKey) + "\\" + moduleFileName, "Unregistered");
}

void ClearRegistrationMarkers()
{
    DeleteKeyTree(HKEY_CURRENT_USER, kMarkerKey);
}

std::optional<std::string> ThreadingModelValue()
{
    return ReadString(HKEY_CLASSES_ROOT, ClassServerKey, "ThreadingModel");
}

std::optional<std::string> RasterEnvironmentValue(const char* name)
{
    return ReadString(HKEY_LOCAL_MACHINE, RasterEnvironmentKey, name);
}

std::vector<std::string> RegasmRuns()
{
    return ReadLines(SampleMachine::FrameworkFolder() + "v1.0.3705\\regasm.log");
}

std::vector<std::string> PatchRuns(int which)
{
    return ReadLines(PatchFolder(which) + "setup.log");
}

MachineState CaptureState(const SampleMachine& machine)
{
    MachineState state;
    state["registry|HKLM\\" + std::string(RasterKey) + " QEX"] = Shown(HKEY_LOCAL_MACHINE, RasterKey, "QEX");
    for (const char* value : kRasterValues)
        state["registry|HKLM\\" + std::string(RasterEnvironmentKey) + " " + value] =
            Shown(HKEY_LOCAL_MACHINE, RasterEnvironmentKey, value);
    state["registry|HKCR\\" + std::string(ClassServerKey) + " ThreadingModel"] =
        Shown(HKEY_CLASSES_ROOT, ClassServerKey, "ThreadingModel");

    std::vector<std::pair<std::string, std::string>> modules;
    // The utilities carry the same names in every server folder: their counts add up.
    for (const std::string& server : SampleMachine::ProductServers()) {
        const bool utility = server == "AsmBinder.dll" || server == "ComBridge.dll";
        modules.emplace_back(utility ? server + " (every server folder)" : "QEX bin\\ntx86\\" + server, server);
    }
    modules.emplace_back("QEX bin\\ntx86\\QexResources.dll", "QexResources.dll");
    if (!machine.HostVersion().empty()) {
        for (const std::string& library : ArcObjectsLibraries(machine.HostVersion()))
            modules.emplace_back("ArcGIS bin\\" + library, library);
        modules.emplace_back("raster bin\\ntx86\\RasterCore.dll", "RasterCore.dll");
    }
    for (const auto& [label, file] : modules) {
        const int registered = RegistrationCount(file);
        const int unregistered = UnregistrationCount(file);
        state["com|" + label] = registered || unregistered
                                    ? "registered " + std::to_string(registered) + "x, unregistered " +
                                          std::to_string(unregistered) + "x"
                                    : "untouched";
    }

    const std::vector<std::string> regasm = RegasmRuns();
    for (size_t i = 0; i < regasm.size(); ++i)
        state["run|regasm #" + std::to_string(i + 1)] = regasm[i];
    for (int which : {1, 2}) {
        const std::vector<std::string> runs = PatchRuns(which);
        for (size_t i = 0; i < runs.size(); ++i)
            state["run|Patch" + std::to_string(which) + " Setup.exe #" + std::to_string(i + 1)] = runs[i];
        state["installer|patch product " + std::string(PatchProductCode(which))] =
            IsProductRecorded(PatchProductCode(which)) ? "installed" : "not installed";
    }
    state["file|" + SampleMachine::LumeraAfCore()] = FileState(SampleMachine::LumeraAfCore());
    return state;
}

std::vector<std::string> DescribeChanges(const MachineState& before, const MachineState& after)
{
    std::vector<std::string> lines;
    MachineState all = before;
    all.insert(after.begin(), after.end());
    for (const auto& entry : all) {
        const std::string& key = entry.first;
        auto was = before.find(key);
        auto now = after.find(key);
        const std::string from = was == before.end() ? "" : was->second;
        const std::string to = now == after.end() ? "" : now->second;
        if (from == to)
            continue;
        const size_t bar = key.find('|');
        const std::string category = key.substr(0, bar);
        const std::string item = key.substr(bar + 1);
        if (category == "run")
            lines.push_back("run       " + item + ": " + to);
        else
            lines.push_back((category + "          ").substr(0, 10) + item + ": " + from + " -> " + to);
    }
    return lines;
}

namespace {

constexpr DWORD kRunLimitMs = 180000;

// Message boxes are dialogs of the program other than its progress window.
bool IsMessageBox(HWND window)
{
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    // Visible only once it is complete, caption and text set.
    const bool visible = GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE;
    return visible && lstrcmpA(className, "#32770") == 0 && WindowTitle(window) != kWindowTitle;
}

BOOL CALLBACK AppendStaticText(HWND control, LPARAM parameter)
{
    char className[32] = {};
    GetClassNameA(control, className, sizeof className);
    char text[512] = {};
    GetWindowTextA(control, text, sizeof text);
    auto* texts = reinterpret_cast<std::string*>(parameter);
    if (lstrcmpiA(className, "Static") == 0 && text[0])
        *texts += (texts->empty() ? "" : " ") + std::string(text);
    return TRUE;
}

std::string DescribeMessageBox(HWND box)
{
    std::string texts;
    EnumChildWindows(box, AppendStaticText, reinterpret_cast<LPARAM>(&texts));
    return WindowTitle(box) + ": " + texts;
}

// The program's threads other than its window's, taken once the window's
// thread has answered a message: it then runs its message loop, so it has
// started the worker, which is among them unless it has ended already. The
// program starts no other thread (nor does Wine in it).
std::optional<std::vector<unique_handle>> WorkerThreads(HWND window)
{
    DWORD processId = 0;
    const DWORD windowThread = GetWindowThreadProcessId(window, &processId);
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kRunLimitMs, &answer))
        return std::nullopt;
    unique_file snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot)
        return std::nullopt;
    std::vector<unique_handle> threads;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != processId || entry.th32ThreadID == windowThread)
            continue;
        // One that has ended is signalled, or can no longer be opened: either way it counts as ended.
        if (HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, entry.th32ThreadID))
            threads.emplace_back(thread);
    }
    return threads;
}

bool AllEnded(const std::vector<unique_handle>& threads)
{
    return std::all_of(threads.begin(), threads.end(), [](const unique_handle& thread) {
        return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
    });
}

RowState ReadRow(HWND window, int caption, int label, int bar, int icon)
{
    RowState row;
    row.visible = ControlVisible(window, bar);
    row.bar = BarPosition(window, bar);
    row.status = IconStatus(window, icon);
    row.caption = ControlText(window, caption);
    row.label = ControlText(window, label);
    return row;
}

} // namespace

WindowRows ReadRows(HWND window)
{
    return {ReadRow(window, IDC_COM_CAPTION, IDC_COM_LABEL, IDC_COM_BAR, IDC_COM_ICON),
            ReadRow(window, IDC_NET_CAPTION, IDC_NET_LABEL, IDC_NET_BAR, IDC_NET_ICON),
            ReadRow(window, IDC_ARC_CAPTION, IDC_ARC_LABEL, IDC_ARC_BAR, IDC_ARC_ICON)};
}

std::string RepairCommandLine(const std::string& options)
{
    return "\"" + ProgramPath() + "\"" + (options.empty() ? "" : " " + options);
}

RepairRun RunRepair(const std::string& options, RunEnd end, const std::function<void(HWND)>& atFinish,
                    const RunPlace& place, const std::function<void(HWND)>& whileWorking)
{
    RepairRun result;
    const std::string programPath = place.program.empty() ? ProgramPath() : place.program;
    // The program's own AppDefaults key goes as a whole afterwards.
    std::optional<ScopedKey> appDefaults, overrides;
    if (!place.searchedFirst.empty()) {
        const std::string key = std::string("Software\\Wine\\AppDefaults\\") + PathFindFileNameA(programPath.c_str());
        appDefaults.emplace(HKEY_CURRENT_USER, key);
        overrides.emplace(HKEY_CURRENT_USER, key + "\\DllOverrides");
        for (const std::string& library : place.searchedFirst)
            overrides->SetString(library.c_str(), "native,builtin");
    }
    const std::string commandLine =
        place.optionsOnly ? options : "\"" + programPath + "\"" + (options.empty() ? "" : " " + options);
    // A run that closes itself is held inside its work (at its first stand-in
    // COM server or regasm.exe), so that its window is looked at while it works.
    std::optional<RunGate> gate;
    if (end == RunEnd::ByItself)
        gate.emplace();
    RunningProgram program(commandLine, place.currentFolder.empty() ? nullptr : place.currentFolder.c_str(),
                           place.optionsOnly ? programPath.c_str() : nullptr);
    if (!program.Started())
        return result;
    const DWORD start = GetTickCount();
    HWND window = program.FindWindowOf(20000);
    HWND ok = window ? GetDlgItem(window, IDOK) : nullptr;
    DWORD processId = 0;
    if (window)
        GetWindowThreadProcessId(window, &processId);
    std::vector<HWND> seenBoxes;
    if (window && whileWorking && !IsWindowEnabled(ok))
        whileWorking(window);
    // The work is done when the worker thread has ended, whatever OK shows.
    std::optional<std::vector<unique_handle>> workers;
    if (window && end == RunEnd::ByOk)
        workers = WorkerThreads(window);
    bool held = false;
    while (window && program.Running() && GetTickCount() - start < kRunLimitMs) {
        for (HWND box : WindowsOf(processId)) {
            if (!IsMessageBox(box) || std::find(seenBoxes.begin(), seenBoxes.end(), box) != seenBoxes.end())
                continue;
            seenBoxes.push_back(box);
            result.messageBoxes.push_back(DescribeMessageBox(box));
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        // Arrived before this look, the run is still held while it is taken.
        const bool arrived = gate && !held && gate->Arrived();
        if (IsWindow(window) && (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE))
            result.everVisible = true;
        if (arrived) {
            held = true;
            gate->Open();
        }
        if (workers && AllEnded(*workers)) {
            result.windowRead = true;
            result.okEnabled = IsWindowEnabled(ok) != FALSE;
            const WindowRows rows = ReadRows(window);
            result.com = rows.com;
            result.net = rows.net;
            result.arc = rows.arc;
            if (atFinish)
                atFinish(window);
            // With OK still disabled nothing would end the run: the owner ends it, with no exit code.
            if (!result.okEnabled)
                return result;
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
            break;
        }
        Sleep(5);
    }
    result.exitCode = program.WaitForExit(10000);
    return result;
}
