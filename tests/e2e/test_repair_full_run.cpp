// The real RepairQEXApps.exe on a sample machine with host 9.0.0.0: a run
// without options, and the runs that close themselves ("silent", "nogui").
#include "common/control_ids.h"
#include "support/bench.h"
#include "support/sample_machine.h"
#include "support/snapshot.h"

#include <doctest.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <functional>

namespace {

// Built into folders of their own beside the fixtures' folder.
const char* const kPlantedLibraries[] = {"..\\planted\\msi.dll", "..\\planted\\comctl32.dll"};
const char kAbsentDependency[] = "..\\absent\\com_absent_dependency.dll";

// The regsvr32 fallback is not waited for by the program; the test waits for
// it, so that what it registers is counted.
void WaitForRegsvr32()
{
    unique_file snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
        if (lstrcmpiA(entry.szExeFile, "regsvr32.exe") != 0)
            continue;
        if (unique_handle process{OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID)})
            WaitForSingleObject(process.get(), 60000);
    }
}

// OK posted and sent from here while the work is held, as a restless user's
// tool might: it must not be obeyed.
void PressOkWhileWorking(HWND window)
{
    REQUIRE(window != nullptr);
    HWND ok = GetDlgItem(window, IDOK);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
    // Still disabled once the sent command was handled: it came during the work.
    REQUIRE_FALSE(IsWindowEnabled(ok));
    CHECK(IsWindow(window));
}

// The sample machine's files and registry, the stand-in regasm.exe's log aside.
Snapshot MachineSnapshot()
{
    Snapshot snapshot = Capture(SampleMachineRoots());
    snapshot.erase("file|" + SampleMachine::FrameworkFolder() + "v1.0.3705\\regasm.log");
    return snapshot;
}

std::vector<std::string> Changed(const Snapshot& before, const Snapshot& after)
{
    std::vector<std::string> items;
    for (const auto& [item, data] : after)
        if (before.count(item) == 0 || before.at(item) != data)
            items.push_back(item);
    for (const auto& entry : before)
        if (after.count(entry.first) == 0)
            items.push_back(entry.first + " (gone)");
    return items;
}

bool Logged(const std::vector<std::string>& lines, const std::string& text)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// The copies of AsmBinder.dll that the sample machine has in its server folders.
bool RemoveSideBySideUtilities(const SampleMachine& machine)
{
    return DeleteFileA((SampleMachine::ProductHome() + "bin\\ntx86\\AsmBinder.dll").c_str()) &&
           DeleteFileA((machine.RasterServerFolder() + "\\AsmBinder.dll").c_str());
}

} // namespace

TEST_CASE("no options: every step, the window waits for OK with all three rows at 100")
{
    SampleMachine machine("9.0.0.0");
    REQUIRE(machine.Seed());

    // First a check (with "cleanup", which it ignores): it finds what the
    // repair will change, on the same rows, and changes nothing.
    ScratchFolder logs("verify logs");
    const std::string log = logs.Path() + "\\verify.log";
    const Snapshot untouched = MachineSnapshot();
    const RepairRun check = RunRepair("-verify -cleanup -log:\"" + log + "\"", RunEnd::ByOk);
    CHECK(check.Outcome() == "exit code 47, no message box");
    CHECK(Changed(untouched, MachineSnapshot()) == std::vector<std::string>{});
    REQUIRE(check.windowRead);
    for (const auto& [row, caption] : {std::pair{&check.com, "Checking COM Servers... Processing:"},
                                       std::pair{&check.net, "Checking .NET Assemblies... Processing:"},
                                       std::pair{&check.arc, "Checking ArcObjects... Processing:"}}) {
        CAPTURE(caption);
        CHECK(row->caption == caption);
        CHECK(row->bar == 100);
        CHECK(row->status == 2);
    }
    CHECK(check.com.label == "AsmBinder.dll");
    const std::vector<std::string> lines = ReadLines(log);
    for (const char* item : {"RasterCore.dll: not in place", "QexCore.dll: not in place", "Geometry.dll: not in place",
                             "AxTrilens.dll: not in place", "Environment \"QEX_HOME\": not in place",
                             "\"ThreadingModel\": not in place, there \"Apartment\", a repair would write \"Both\"",
                             "Bin\\AfCore.dll: not in place, the target differs",
                             "row COM servers: not in place (AsmBinder.dll)", "row ArcObjects: not in place"}) {
        CAPTURE(item);
        CHECK_MESSAGE(Logged(lines, item), Join(lines));
    }
    CHECK_FALSE(Logged(lines, "unregister"));
    for (const std::string& run : RegasmRuns()) {
        CAPTURE(run);
        CHECK(run.find(" /regfile:") != std::string::npos);
    }
    REQUIRE(DeleteFileA((SampleMachine::FrameworkFolder() + "v1.0.3705\\regasm.log").c_str()));
    // Started from a download folder that also holds planted system libraries,
    // which Wine's loader then prefers to its own, as Windows would.
    ScratchFolder downloads("downloads");
    const RunPlace place{downloads.Path() + "\\RepairQEXApps.exe", downloads.Path(), {"msi", "comctl32"}};
    REQUIRE(CopyFileA(ProgramPath().c_str(), place.program.c_str(), FALSE));
    for (const char* planted : kPlantedLibraries)
        REQUIRE(CopyFixture(planted, downloads.Path() + "\\" + PathFindFileNameA(planted)));

    const RepairRun run = RunRepair("", RunEnd::ByOk, nullptr, place, PressOkWhileWorking);
    for (const char* planted : kPlantedLibraries) {
        CAPTURE(planted);
        CHECK_FALSE(FileExists(downloads.Path() + "\\" + PathFindFileNameA(planted) + ".loaded"));
    }
    CHECK(run.heldWhileWorking);
    CHECK(run.Outcome() == kQuietEnd);
    REQUIRE(run.windowRead);
    CHECK(run.okEnabled);
    CHECK(run.com.bar == 100);
    CHECK(run.com.status == 1);
    CHECK(run.arc.visible);
    CHECK(run.arc.bar == 100);
    CHECK(run.arc.status == 1);
    CHECK(run.net.bar == 100);
    CHECK(run.net.status == 1);

    // Host side: raster environment, the raster folder's servers, ArcObjects.
    CHECK(RasterEnvironmentValue("QEX_HOME") == SampleMachine::ExtensionHome());
    CHECK(RegistrationCount("RasterCore.dll") == 1);
    CHECK(RegistrationCount("Geometry.dll") == 1);
    // Product side: every server once, the nine assemblies with /codebase.
    for (const char* server : {"QexCore.dll", "QexMap.dll", "QexViewer.ocx"}) {
        CAPTURE(server);
        CHECK(RegistrationCount(server) == 1);
        CHECK(UnregistrationCount(server) == 0);
    }
    const std::vector<std::string> regasm = RegasmRuns();
    REQUIRE(regasm.size() == SampleMachine::Assemblies().size());
    for (size_t i = 0; i < regasm.size(); ++i) {
        CAPTURE(regasm[i]);
        CHECK(regasm[i].find(" /codebase ") != std::string::npos);
        CHECK(regasm[i].find(SampleMachine::Assemblies()[i]) != std::string::npos);
    }
    CHECK(ThreadingModelValue() == std::string("Both"));
    CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == std::string("AfCore.dll of ArcGIS 9.0.0.0"));
    CHECK(PatchRuns(1).empty());
    CHECK(PatchRuns(2).empty());

    // After the repair everything is in place.
    CHECK(RunRepair("-verify -nogui", RunEnd::ByItself).Outcome() == kQuietEnd);
}

TEST_CASE("\"silent\" or \"nogui\" alone: every step but the raster folder's servers; the run closes itself")
{
    // A log that cannot be opened, or is refused, changes nothing but the exit
    // code that -exit_codes asks for: the log (128), and the COM row that the
    // two broken servers below fail (1). Refused: a folder, a pipe whose
    // server waits for the run, a device (NUL takes every write).
    ScratchFolder logFolder("log folder");
    const std::string pipe = "\\\\.\\pipe\\qex log " + std::to_string(GetCurrentProcessId());
    const unique_file pipeServer(
        CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 65536, 65536, 0, nullptr));
    REQUIRE(pipeServer);
    const std::string exitCodes = " -exit_codes";
    const std::string options[] = {
        "-silent",
        "-nogui -log:\"C:\\no such folder\\run.log\"" + exitCodes,
        "-nogui -log:\"" + logFolder.Path() + "\"" + exitCodes,
        "-nogui -log:\"" + pipe + "\"" + exitCodes,
        "-nogui -log:NUL" + exitCodes,
    };
    for (const std::string& option : options) {
        CAPTURE(option);
        const bool logRefused = option != "-silent";
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());
        // A server that crashes in DllRegisterServer fails alone: the rest of the run is done.
        REQUIRE(CopyFixture("com_server_crashes.dll", SampleMachine::ProductHome() + "bin\\ntx86\\QexBroken.dll"));
        // A server whose dependency lies only in the folder the run starts
        // from: neither the program nor its regsvr32 fallback may load it.
        const std::string orphan = SampleMachine::ProductHome() + "bin\\ntx86\\QexOrphan.dll";
        REQUIRE(CopyFixture("com_missing_dependency.dll", orphan));
        ScratchFolder downloads("downloads");
        REQUIRE(CopyFixture(kAbsentDependency, downloads.Path() + "\\" + PathFindFileNameA(kAbsentDependency)));

        const RepairRun run =
            RunRepair(option, RunEnd::ByItself, nullptr, {"", downloads.Path(), {}}, PressOkWhileWorking);
        WaitForRegsvr32();
        CHECK(RegistrationCount("QexOrphan.dll") == 0);
        CHECK(run.heldWhileWorking);
        CHECK(run.Outcome() == (logRefused ? "exit code 129, no message box" : kQuietEnd));
        CHECK(run.everVisible == !logRefused);

        CHECK(RegistrationCount("RasterCore.dll") == 0);
        CHECK(RasterEnvironmentValue("QEX_HOME") == SampleMachine::ExtensionHome());
        CHECK(RegistrationCount("Geometry.dll") == 1);
        CHECK(RegistrationCount("QexBroken.dll") == 1);
        // The side-by-side utilities first, then again in the sweep.
        for (const std::string& server : SampleMachine::ProductServers()) {
            CAPTURE(server);
            CHECK(RegistrationCount(server) == (server == "AsmBinder.dll" || server == "ComBridge.dll" ? 2 : 1));
        }
        CHECK(RegasmRuns().size() == SampleMachine::Assemblies().size());
        CHECK(ThreadingModelValue() == std::string("Both"));
        CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == std::string("AfCore.dll of ArcGIS 9.0.0.0"));
    }
}

TEST_CASE("started with the program as the application name and the options alone: every option counts")
{
    SampleMachine machine("9.0.0.0");
    REQUIRE(machine.Seed());

    const RepairRun run = RunRepair("-silent -repair_qex_net", RunEnd::ByItself, nullptr, {"", "", {}, true});
    CHECK(run.Outcome() == kQuietEnd);
    CHECK(run.everVisible == true);
    CHECK(RegasmRuns().size() == SampleMachine::Assemblies().size());
    CHECK(RegistrationCount("QexCore.dll") == 0);
    CHECK(RegistrationCount("Geometry.dll") == 0);
    CHECK(RasterEnvironmentValue("QEX_HOME") == std::string(StaleRasterHome));
    CHECK(ThreadingModelValue() == std::string("Both"));
    CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == std::string("AfCore.dll, outdated"));
}

TEST_CASE("\"silent\" and \"nogui\" together: two options select no step; only the threading model")
{
    SampleMachine machine("9.0.0.0");
    REQUIRE(machine.Seed());

    const RepairRun run = RunRepair("-silent -nogui", RunEnd::ByItself);
    CHECK(run.Outcome() == kQuietEnd);
    CHECK(run.everVisible == false);

    CHECK(ThreadingModelValue() == std::string("Both"));
    CHECK(RasterEnvironmentValue("QEX_HOME") == std::string(StaleRasterHome));
    for (const char* module : {"RasterCore.dll", "Geometry.dll", "AsmBinder.dll", "QexCore.dll"}) {
        CAPTURE(module);
        CHECK(RegistrationCount(module) == 0);
    }
    CHECK(RegasmRuns().empty());
    CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == std::string("AfCore.dll, outdated"));
}

TEST_CASE("host 9.1, no options: the host's AfCore.dll and the raster folder's servers as well")
{
    SampleMachine machine("9.1");
    REQUIRE(machine.Seed());

    const RepairRun run = RunRepair("", RunEnd::ByOk);
    CHECK(run.Outcome() == kQuietEnd);
    REQUIRE(run.windowRead);
    CHECK(run.com.bar == 100);
    CHECK(run.com.status == 1);
    CHECK(run.arc.bar == 100);
    CHECK(run.net.bar == 100);
    CHECK(RegistrationCount("RasterCore.dll") == 1);
    CHECK(RegistrationCount("Geometry.dll") == 1);
    CHECK(RegistrationCount("QexCore.dll") == 1);
    CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == std::string("AfCore.dll of ArcGIS 9.1"));
}

TEST_CASE("a failure ends its row on the failure icon, the label naming the file; the other rows succeed")
{
    const std::string productServers = SampleMachine::ProductHome() + "bin\\ntx86\\";
    // A row's end as "ok", "pending" (not run) or "failed: <label>".
    const auto shown = [](const RowState& row) {
        return row.status == 1 ? std::string("ok") : row.status == 0 ? std::string("pending") : "failed: " + row.label;
    };
    struct Case {
        const char* what;
        std::function<bool(const SampleMachine&)> spoil;
        std::string com, net, arc; // each row's end, as shown() gives it
        DWORD exitCode;      // with -exit_codes
        std::string logLine; // a line of the log ends with it
        std::string options = ""; // besides -log and -exit_codes
    };
    const auto keep = [](const SampleMachine&) { return true; };
    // Another program holding LUMERA's AfCore.dll through a run; the restart after it ends the holder.
    std::unique_ptr<RunningProgram> holder;
    const auto holdLumeraAfCore = [&](DWORD shareMode) {
        return [&holder, shareMode](const SampleMachine&) {
            holder = HoldInAnotherProcess(SampleMachine::LumeraAfCore(), shareMode);
            return holder != nullptr;
        };
    };
    // A product server's failure alone is the unit tests' (test_com_servers);
    // these pass a row's state, the side-by-side decision or the exit code
    // from one step to the next.
    const Case cases[] = {
        // The raster folder's pass comes first; the product's pass succeeds after it.
        {"a raster server whose registration fails",
         [](const SampleMachine& machine) {
             return CopyFixture("com_server_fails.dll", machine.RasterServerFolder() + "\\RasterCore.dll");
         },
         "failed: RasterCore.dll", "ok", "ok", 1, "RasterCore.dll: failed, status 0x00000001"},
        // The crash guard holds; the log names what happened.
        {"a product server that crashes in DllRegisterServer",
         [&](const SampleMachine&) { return CopyFixture("com_server_crashes.dll", productServers + "QexBroken.dll"); },
         "failed: QexBroken.dll", "ok", "ok", 1, "QexBroken.dll: failed, an exception in DllRegisterServer"},
        // Loaded only as far as mapping: handed to regsvr32, which fails as well.
        {"a product server whose dependency is missing",
         [&](const SampleMachine&) {
             return CopyFixture("com_missing_dependency.dll", productServers + "QexOrphan.dll");
         },
         "failed: QexOrphan.dll", "ok", "ok", 1, "QexOrphan.dll: failed, not loadable (error 126), regsvr32 started"},
        // The tool cannot find the assembly and exits non-zero.
        {"an assembly missing from the server folder",
         [&](const SampleMachine&) { return DeleteFileA((productServers + "DockSuite.dll").c_str()) != 0; },
         "ok", "failed: DockSuite.dll", "ok", 2, "DockSuite.dll\" in C:\\windows\\system32: failed, exit code 100"},
        {"no .NET Framework",
         [](const SampleMachine&) {
             unique_hkey key;
             return RegOpenKeyExA(HKEY_LOCAL_MACHINE, FrameworkKey, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS &&
                    RegDeleteValueA(key.get(), "InstallRoot") == ERROR_SUCCESS;
         },
         "ok", "failed: AxTrilens.dll", "ok", 2, "AxTrilens.dll: failed to start, no .NET Framework 1.0.3705"},
        // The one row of the exit code's bit 4.
        {"an ArcObjects library whose registration fails",
         [](const SampleMachine&) {
             return CopyFixture("com_server_fails.dll", SampleMachine::HostHome() + "bin\\Geometry.dll");
         },
         "ok", "ok", "failed: Geometry.dll", 4, "bin\\Geometry.dll: failed, status 0x00000001"},
        // A typo in a deployment's homes registers nothing: no success.
        {"homes typed with a folder that is not there", keep, "failed: C:\\Typo\\bin\\ntx86", "pending",
         "failed: C:\\Typo\\bin", 5, "C:\\Typo\\bin\\ntx86: failed, the folder is not there",
         "-arcgis_home:C:\\Typo -qex_home:C:\\Typo -sxs_required:0 -repair_arcgis -repair_qex_com"},
        // Host 9.0.0.0: the side-by-side utility is not required, but one that is there must register.
        {"a shared side-by-side utility that fails, none in the server folders",
         [&](const SampleMachine& machine) {
             return RemoveSideBySideUtilities(machine) &&
                    CopyFixture("com_server_fails.dll", "C:\\Program Files\\Torvane\\Shared\\bin\\ntx86\\AsmBinder.dll");
         },
         "failed: AsmBinder.dll", "ok", "ok", 1, "utility AsmBinder.dll: failed"},
        // A utility that is there but cannot be loaded is broken, not absent.
        {"an empty shared side-by-side utility, none in the server folders",
         [&](const SampleMachine& machine) {
             return RemoveSideBySideUtilities(machine) &&
                    CopyFixture("com_server.dll", "C:\\Program Files\\Torvane\\Shared\\bin\\ntx86\\AsmBinder.dll") &&
                    WriteFileText("C:\\Program Files\\Torvane\\Shared\\bin\\ntx86\\AsmBinder.dll", "");
         },
         "failed: AsmBinder.dll", "ok", "ok", 1, "AsmBinder.dll: failed, not a self-registering module"},
        {"an empty ComBridge.dll beside the product's servers",
         [&](const SampleMachine&) { return WriteFileText(productServers + "ComBridge.dll", ""); },
         "failed: ComBridge.dll", "ok", "ok", 1, "QEX\\bin\\ntx86\\ComBridge.dll: failed, not a self-registering module"},
        // Not a row's failure, but the exit code and the log tell it.
        {"a folder in the place of the host's AfCore.dll: LUMERA's is not replaced",
         [](const SampleMachine&) {
             return DeleteFileA(SampleMachine::HostAfCore().c_str()) && CreateFolders(SampleMachine::HostAfCore());
         },
         "ok", "ok", "ok", 32, "AfCore.dll: failed, the source cannot be read (error 5)"},
        // Replaced by the next restart at the latest: the run needs one.
        {"LUMERA's AfCore.dll held by a program that shares delete", holdLumeraAfCore(FILE_SHARE_READ | FILE_SHARE_DELETE),
         "ok", "ok", "ok", 3010, ".tmp and deleted at restart"},
        {"LUMERA's AfCore.dll held by a program that does not share delete", holdLumeraAfCore(FILE_SHARE_READ),
         "ok", "ok", "ok", 3010, ".tmp takes its place at restart"},
        {"no side-by-side utility anywhere: not required, no failure",
         RemoveSideBySideUtilities, "ok", "ok", "ok", 0, "utility AsmBinder.dll: absent"},
    };
    // Each run appends to a log that an earlier run began.
    ScratchFolder logs("deploy logs");
    const std::string log = logs.Path() + "\\run.log";
    for (const Case& c : cases) {
        CAPTURE(c.what);
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());
        REQUIRE(c.spoil(machine));

        REQUIRE(WriteFileText(log, "an earlier run\r\n"));

        const RepairRun run = RunRepair(c.options + " -log:\"" + log + "\" -exit_codes", RunEnd::ByOk);
        WaitForRegsvr32();
        CHECK(run.Outcome() == "exit code " + std::to_string(c.exitCode) + ", no message box");
        const std::vector<std::string> lines = ReadLines(log);
        REQUIRE(lines.size() > 2);
        CHECK(lines.front() == "an earlier run");
        // "YYYY-MM-DD HH:MM:SS [PID] text", each line ended by CR and LF.
        const std::string pid = "[" + std::to_string(run.processId) + "] ";
        CHECK(std::all_of(lines.begin() + 1, lines.end(),
                          [&](const std::string& line) { return line.compare(20, pid.size(), pid) == 0; }));
        CHECK(lines.back().substr(20 + pid.size()) == "done, exit code " + std::to_string(c.exitCode));
        CHECK(ReadFileText(log) == Join(lines, "\r\n") + "\r\n");
        CHECK(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.size() >= c.logLine.size() && line.compare(line.size() - c.logLine.size(), std::string::npos, c.logLine) == 0;
        }));
        // The row lines say what the rows show.
        for (const auto& [row, name] : {std::pair{&RepairRun::com, "COM servers: "},
                                        std::pair{&RepairRun::arc, "ArcObjects: "}}) {
            const bool failed = shown(run.*row).rfind("failed", 0) == 0;
            CHECK(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
                return line.find(std::string("row ") + name + (failed ? "failed" : "ok")) != std::string::npos;
            }));
        }
        REQUIRE(run.windowRead);
        CHECK(run.okEnabled);
        CHECK(shown(run.com) == c.com);
        CHECK(shown(run.net) == c.net);
        CHECK(shown(run.arc) == c.arc);
        if (holder) { // what the run left for the restart is carried out (test_repair_afcore checks it)
            holder.reset();
            REQUIRE(RestartPrefix());
        }
    }
}
