#include "support/sample_machine.h"

#include "common/control_ids.h"
#include "support/bench.h"
#include "support/discovery_packages.h"
#include "support/program_driver.h"

#include <windows.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>

namespace {

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
    // QexCore.dll also registers the threading model that the repair then sets to "Both".
    for (const std::string& server : ProductServers())
        ok &= CopyFixture(server == "QexCore.dll" ? "com_server_class.dll" : "com_server.dll",
                          ServerFolder(ProductHome()) + "\\" + server);
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
    ClearMarkers();
    return ok;
}

void SampleMachine::Remove()
{
    for (const char* key : {"SOFTWARE\\ESRI", "SOFTWARE\\Torvane", kLumeraRootKey})
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
    ClearMarkers();
    seeded_ = false;
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

std::string RepairRun::Outcome() const
{
    std::string text = exitCode ? "exit code " + std::to_string(*exitCode) : std::string("no exit code");
    if (messageBoxes.empty())
        return text + ", no message box";
    for (const std::string& box : messageBoxes)
        text += ", message box: " + box;
    return text;
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
    std::optional<RunGate> gate;
    if (whileWorking)
        gate.emplace();
    const ShowWatch watch;
    RunningProgram program(place.optionsOnly ? options : CommandLine(programPath, options),
                           place.currentFolder.empty() ? nullptr : place.currentFolder.c_str(),
                           place.optionsOnly ? programPath.c_str() : nullptr);
    if (!program.Started())
        return result;
    result.processId = program.ProcessId();
    const DWORD start = GetTickCount();
    if (gate && gate->WaitForArrival(program, kRunLimitMs)) {
        whileWorking(ProgressWindowOf(program.ProcessId()));
        result.heldWhileWorking = true;
    }
    if (gate)
        gate->Open();
    HWND window = program.FindWindowOf(20000);
    HWND ok = window ? GetDlgItem(window, IDOK) : nullptr;
    // The work is done when the worker thread has ended, whatever OK shows.
    std::optional<std::vector<unique_handle>> workers;
    if (window && end == RunEnd::ByOk)
        workers = WorkerThreads(window);
    std::vector<HWND> seenBoxes;
    PollUntil([&] {
        for (HWND box : WindowsOf(program.ProcessId())) {
            if (!IsMessageBox(box) || std::find(seenBoxes.begin(), seenBoxes.end(), box) != seenBoxes.end())
                continue;
            seenBoxes.push_back(box);
            result.messageBoxes.push_back(DescribeMessageBox(box));
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        if (!workers || !AllEnded(*workers))
            return !window || !program.Running();
        result.windowRead = true;
        result.okEnabled = IsWindowEnabled(ok) != FALSE;
        const WindowRows rows = ReadRows(window);
        result.com = rows.com;
        result.net = rows.net;
        result.arc = rows.arc;
        if (atFinish)
            atFinish(window);
        if (result.okEnabled)
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
        return true;
    }, kRunLimitMs - std::min(kRunLimitMs, GetTickCount() - start), 5);
    // With OK still disabled nothing would end the run: the owner ends it, with no exit code.
    if (result.windowRead && !result.okEnabled)
        return result;
    result.exitCode = program.WaitForExit(kRunLimitMs - std::min(kRunLimitMs, GetTickCount() - start));
    if (watch.Active())
        result.everVisible = watch.Shown(kWindowTitle);
    return result;
}

namespace {

constexpr char kSpacedProgramFolder[] = "C:\\Repair  Tools\\copy of the utility";
constexpr size_t kLongestCommandLine = 32766; // CreateProcessA's limit, without the terminator
constexpr size_t kSixtyFourKiB = 64 * 1024;

bool SetRaw(const std::string& subKey, const char* name, DWORD type, const std::string& bytes,
            HKEY root = HKEY_LOCAL_MACHINE)
{
    const LONG status = SetValue(root, subKey, name, type, bytes.data(), static_cast<DWORD>(bytes.size()));
    if (status != ERROR_SUCCESS)
        std::fprintf(stderr, "cannot set %s [%s]: error %ld\n", subKey.c_str(), name, status);
    return status == ERROR_SUCCESS;
}

std::string Terminated(const std::string& text) { return text + std::string(1, '\0'); }

std::string Dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), sizeof value); }

// A folder path under C:\ of exactly length characters, ending with a backslash.
std::string LongFolder(size_t length)
{
    std::string path = "C:\\Long";
    while (path.size() + 1 < length)
        path += path.size() % 200 == 0 ? '\\' : 'x';
    return path + "\\";
}

bool DeleteFiles(const std::vector<std::string>& paths)
{
    bool ok = true;
    for (const std::string& path : paths)
        ok &= DeleteFileA(path.c_str()) != 0;
    return ok;
}

} // namespace

const std::vector<SpoiledMachine>& SpoiledMachines()
{
    const std::string product = SampleMachine::ProductHome();
    const std::string servers = ServerFolder(product) + "\\";
    static const std::vector<SpoiledMachine> rows = {
        {"unspoiled sample machine", "9.0.0.0", [](Spoiling&) { return true; }},
        {"control: a run that deletes one file and overwrites another", "9.0.0.0",
         [product](Spoiling& setup) {
             setup.program = "C:\\windows\\system32\\cmd.exe";
             setup.options = "/c del \"" + SampleMachine::HostAfCore() + "\" & echo spoiled> \"" +
                             SampleMachine::ProductAfCore() + "\"";
             return true;
         },
         true},

        // Registry data of the wrong type and size in the keys discovery reads.
        {"host InstallDir as REG_DWORD", "9.0.0.0",
         [](Spoiling&) { return SetRaw(HostKey, "InstallDir", REG_DWORD, Dword(0x5c3a43)); }},
        {"host InstallDir as REG_BINARY, no terminator", "9.0.0.0",
         [](Spoiling&) { return SetRaw(HostKey, "InstallDir", REG_BINARY, SampleMachine::HostHome() + "\xff\xfe"); }},
        {"host InstallDir zero-length REG_SZ", "9.0.0.0",
         [](Spoiling&) { return SetRaw(HostKey, "InstallDir", REG_SZ, ""); }},
        {"host InstallDir 64 KiB REG_SZ", "9.0.0.0",
         [](Spoiling&) { return SetRaw(HostKey, "InstallDir", REG_SZ, Terminated(std::string(kSixtyFourKiB, 'h'))); }},
        {"host RealVersion as REG_MULTI_SZ", "9.0.0.0",
         [](Spoiling&) { return SetRaw(HostKey, "RealVersion", REG_MULTI_SZ, std::string("9.0.0.0\0" "8.3.0\0\0", 16)); }},
        {"host RealVersion unterminated REG_SZ", "9.0.0.0",
         [](Spoiling&) { return SetRaw(HostKey, "RealVersion", REG_SZ, "9.0.0.0"); }},
        {"host RealVersion 64 KiB of digits", "8.3.0",
         [](Spoiling&) { return SetRaw(HostKey, "RealVersion", REG_SZ, Terminated("8.3" + std::string(kSixtyFourKiB, '0'))); }},
        {"QEX_HOME as REG_EXPAND_SZ", "9.0.0.0",
         [](Spoiling&) { return SetRaw(ProductKey, "QEX_HOME", REG_EXPAND_SZ, Terminated("%ProgramFiles%\\Torvane\\QEX\\")); }},
        {"QEX_HOME unterminated REG_SZ", "9.0.0.0",
         [product](Spoiling&) { return SetRaw(ProductKey, "QEX_HOME", REG_SZ, product); }},
        {"QEX_HOME zero-length REG_SZ", "8.3.0",
         [](Spoiling&) { return SetRaw(ProductKey, "QEX_HOME", REG_SZ, ""); }},
        {"QEX_HOME 64 KiB REG_SZ", "8.3.0",
         [](Spoiling&) { return SetRaw(ProductKey, "QEX_HOME", REG_SZ, Terminated(std::string(kSixtyFourKiB, 'q'))); }},
        {"shared version key names of 200 and 13 characters", "9.0.0.0",
         [](Spoiling&) {
             return SetRaw(std::string(SharedKey) + "\\9." + std::string(198, '9') + "\\Environment",
                           "QEX_HOME", REG_SZ, Terminated("C:\\Nowhere\\")) &&
                    SetRaw(std::string(SharedKey) + "\\9.99999.99999\\Environment", "QEX_HOME", REG_SZ,
                           Terminated("C:\\Nowhere\\"));
         }},
        {"extension InstallDir as REG_MULTI_SZ", "9.0.0.0",
         [](Spoiling&) {
             return SetRaw(std::string(ExtensionsKey) + "\\9.0", "InstallDir", REG_MULTI_SZ,
                           std::string("C:\\A\0C:\\B\0\0", 10));
         }},
        {"LumeraHome as REG_DWORD", "9.0.0.0",
         [](Spoiling&) { return SetRaw(LumeraKey, "LumeraHome", REG_DWORD, Dword(1)); }},
        {"LumeraHome 64 KiB REG_BINARY", "9.0.0.0",
         [](Spoiling&) { return SetRaw(LumeraKey, "LumeraHome", REG_BINARY, std::string(kSixtyFourKiB, '\x7f')); }},
        {"raster QEX_HOME 64 KiB, LUMERA_HOME REG_DWORD", "9.0.0.0",
         [](Spoiling&) {
             return SetRaw(RasterEnvironmentKey, "QEX_HOME", REG_SZ, Terminated(std::string(kSixtyFourKiB, 'r'))) &&
                    SetRaw(RasterEnvironmentKey, "LUMERA_HOME", REG_DWORD, Dword(7));
         }},
        {"framework InstallRoot unterminated, 64 KiB", "9.0.0.0",
         [](Spoiling&) { return SetRaw(FrameworkKey, "InstallRoot", REG_SZ, std::string(kSixtyFourKiB, 'n')); }},
        {"framework InstallRoot as REG_DWORD", "9.0.0.0",
         [](Spoiling&) { return SetRaw(FrameworkKey, "InstallRoot", REG_DWORD, Dword(0)); }},
        {"ThreadingModel as REG_BINARY", "9.0.0.0",
         [](Spoiling&) { return SetRaw(ClassServerKey, "ThreadingModel", REG_BINARY, "Both", HKEY_CLASSES_ROOT); }},

        // Paths with spaces.
        {"program in a folder with two spaces in a row", "9.0.0.0",
         [](Spoiling& setup) {
             setup.extraFolders.push_back("C:\\Repair  Tools");
             setup.program = std::string(kSpacedProgramFolder) + "\\RepairQEXApps.exe";
             return CreateFolders(kSpacedProgramFolder) &&
                    CopyFileA(ProgramPath().c_str(), setup.program.c_str(), FALSE) != 0;
         }},
        {"homes with spaces given as quoted options", "9.0.0.0",
         [product](Spoiling& setup) {
             setup.options = "-nogui -sync_afcore -repair_qex_com -qex_home:\"" + product + "\" -arcgis_home:\"" +
                             SampleMachine::HostHome().substr(0, SampleMachine::HostHome().size() - 1) +
                             "\" -lumera_home:\"" + SampleMachine::LumeraHome() + "\"";
             return true;
         }},

        // Over-long paths.
        {"product home of 1,100 bytes (patch step)", "8.3.0",
         [](Spoiling&) { return SetRaw(ProductKey, "QEX_HOME", REG_SZ, Terminated(LongFolder(1100))); }},
        {"LumeraHome of 1,100 bytes", "9.0.0.0",
         [](Spoiling&) { return SetRaw(LumeraKey, "LumeraHome", REG_SZ, Terminated(LongFolder(1100))); }},
        {"32 KiB command line: one 32,700-byte -qex_home", "9.0.0.0",
         [](Spoiling& setup) {
             const std::string head = CommandLine(setup.program, "-nogui -qex_home:\"");
             setup.options = "-nogui -qex_home:\"" + LongFolder(kLongestCommandLine - head.size() - 1) + "\"";
             return true;
         }},
        {"32 KiB command line: 2,500 options", "9.0.0.0",
         [](Spoiling& setup) {
             while (setup.options.size() + setup.program.size() + 16 < kLongestCommandLine)
                 setup.options += " -sync_afcore";
             return true;
         }},

        // Missing files.
        {"COM servers missing", "9.0.0.0",
         [servers](Spoiling&) {
             std::vector<std::string> paths;
             for (const std::string& server : SampleMachine::ProductServers())
                 paths.push_back(servers + server);
             paths.push_back(servers + "QexResources.dll");
             return DeleteFiles(paths);
         }},
        {"product home folder missing", "9.0.0.0",
         [product](Spoiling&) { return RemoveTree(product.substr(0, product.size() - 1)); }},
        {"regasm.exe missing", "9.0.0.0",
         [](Spoiling&) { return DeleteFiles({SampleMachine::FrameworkFolder() + "v1.0.3705\\regasm.exe"}); }},
        {"patch Setup.exe missing", "8.3.0",
         [product](Spoiling&) {
             return DeleteFiles({product + "Install\\Patch1\\Setup.exe", product + "Install\\Patch2\\Setup.exe"});
         }},
        {"AfCore.dll source missing (host)", "9.0.0.0",
         [](Spoiling&) { return DeleteFiles({SampleMachine::HostAfCore()}); }},
        {"AfCore.dll source missing (product)", "8.3.0",
         [](Spoiling&) { return DeleteFiles({SampleMachine::ProductAfCore()}); }},

        // An unreadable AfCore.dll source.
        {"AfCore.dll source held open, share mode 0 (host)", "9.0.0.0",
         [](Spoiling& setup) {
             setup.heldOpen = SampleMachine::HostAfCore();
             return true;
         }},
        {"AfCore.dll source held open, share mode 0 (product)", "8.3.0",
         [](Spoiling& setup) {
             setup.heldOpen = SampleMachine::ProductAfCore();
             return true;
         }},
        {"AfCore.dll source is a folder", "9.0.0.0",
         [](Spoiling&) {
             return DeleteFiles({SampleMachine::HostAfCore()}) &&
                    CreateDirectoryA(SampleMachine::HostAfCore().c_str(), nullptr);
         }},
        {"AfCore.dll target is a folder", "9.0.0.0",
         [](Spoiling&) {
             return DeleteFiles({SampleMachine::LumeraAfCore()}) &&
                    CreateDirectoryA(SampleMachine::LumeraAfCore().c_str(), nullptr) &&
                    WriteFileText(SampleMachine::LumeraAfCore() + "\\keep.txt", "inside the folder");
         }},
    };
    return rows;
}

const SpoiledMachine* SpoiledMachineNamed(const std::string& name)
{
    for (const SpoiledMachine& row : SpoiledMachines())
        if (name == row.name)
            return &row;
    return nullptr;
}

unique_file HoldOpen(const std::string& path)
{
    if (path.empty())
        return unique_file();
    return unique_file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}


std::unique_ptr<RunningProgram> HoldInAnotherProcess(const std::string& path, DWORD shareMode)
{
    const char* event = "QexTestFileHeld";
    const unique_handle held(CreateEventA(nullptr, TRUE, FALSE, event));
    ResetEvent(held.get()); // an event that outlived an earlier holder keeps its state
    auto holder = std::make_unique<RunningProgram>(CommandLine(
        FixturePath("file_holder.exe"), std::to_string(shareMode) + " \"" + path + "\" " + event));
    if (!held || !holder->WaitFor(held.get(), 10000))
        return nullptr;
    return holder;
}

bool RestartPrefix()
{
    return RunProcess("wineboot.exe -r") == DWORD(0);
}
