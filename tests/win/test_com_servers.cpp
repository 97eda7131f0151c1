// COM server registration against real modules: our stand-in servers record
// each call of their exports, so every check reads what really happened.
#include "repair/com_servers.h"
#include "common/messages.h"
#include "common/seh_guard.h"
#include "support/bench.h"
#include "support/com_markers.h"

#include <doctest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

const std::string sharedBinderFolder = "C:\\Program Files\\Torvane\\Shared\\bin\\ntx86";

// An installation with its server folder, under a path with spaces; a fresh
// one each time.
int installations = 0;
struct Installation {
    ScratchFolder scratch{"com servers " + std::to_string(++installations)};
    std::string home = scratch.Path() + "\\Product Home";
    std::string servers = home + "\\bin\\ntx86";

    Installation() { CreateFolders(servers); }
    void Add(const char* fixture, const std::string& name) const { REQUIRE(CopyFixture(fixture, servers + "\\" + name)); }
};

// AsmBinder.dll at its fixed shared path, with whatever folders it needed
// removed again afterwards.
struct SharedBinder {
    std::vector<std::string> created;
    explicit SharedBinder(const char* fixture)
    {
        for (size_t slash = sharedBinderFolder.find('\\', 3); ; slash = sharedBinderFolder.find('\\', slash + 1)) {
            std::string folder = sharedBinderFolder.substr(0, slash);
            if (!FileExists(folder) && CreateDirectoryA(folder.c_str(), nullptr))
                created.push_back(folder);
            if (slash == std::string::npos)
                break;
        }
        REQUIRE(CopyFixture(fixture, sharedBinderFolder + "\\AsmBinder.dll"));
    }
    ~SharedBinder()
    {
        DeleteFileA((sharedBinderFolder + "\\AsmBinder.dll").c_str());
        for (auto folder = created.rbegin(); folder != created.rend(); ++folder)
            RemoveDirectoryA(folder->c_str());
    }
};

std::vector<std::string> Lines(std::initializer_list<std::string> lines)
{
    return lines;
}

} // namespace

TEST_CASE("ProbeModule maps without running the module")
{
    ScopedComMarkers markers;
    Installation install;
    install.Add("com_server.dll", "Server.dll");
    install.Add("com_unregister_only.dll", "UnregisterOnly.dll");
    install.Add("com_missing_dependency.dll", "Orphan.dll");
    install.Add("com_regsvr32_only.dll", "Refuses.dll");
    REQUIRE(WriteFileText(install.servers + "\\Text.dll", "not a module"));
    REQUIRE(CreateFolders(install.servers + "\\Folder.dll"));

    CHECK(ProbeModule("") == NotLoadable);
    CHECK(ProbeModule(install.servers + "\\Missing.dll") == NotLoadable);
    CHECK(ProbeModule(install.servers + "\\Text.dll") == NotLoadable);
    CHECK(ProbeModule(install.servers + "\\Folder.dll") == NotLoadable);
    CHECK(ProbeModule(install.servers + "\\Server.dll") == SelfRegistering);
    CHECK(ProbeModule(install.servers + "\\UnregisterOnly.dll") == NotSelfRegistering);
    // Imports are not resolved, so a missing dependency does not matter...
    CHECK(ProbeModule(install.servers + "\\Orphan.dll") == SelfRegistering);
    // ...and DllMain does not run: this one refuses every process but regsvr32.
    CHECK(ProbeModule(install.servers + "\\Refuses.dll") == SelfRegistering);
    CHECK(MarkerSequence().empty());
    // Released: the file can go at once.
    CHECK(DeleteFileA((install.servers + "\\Server.dll").c_str()));
}

TEST_CASE("RegisterModule and UnregisterModule call the export in this process")
{
    ScopedComMarkers markers;
    Installation install;
    install.Add("com_server.dll", "Good.dll");
    install.Add("com_server_fails.dll", "Fails.dll");
    install.Add("com_register_only.dll", "RegisterOnly.dll");
    install.Add("com_unregister_only.dll", "UnregisterOnly.dll");
    install.Add("com_server_crashes.dll", "Crashes.dll");
    auto path = [&](const char* name) { return install.servers + "\\" + name; };
    // Where a check captures a registration; gone again after each.
    const std::string captureKey = "Software\\RepairQEXApps capture " + std::to_string(GetCurrentProcessId());

    CHECK_FALSE(RegisterModule(""));
    CHECK_FALSE(UnregisterModule(""));

    CHECK(RegisterModule(path("Good.dll")));
    CHECK(UnregisterModule(path("Good.dll")));
    CHECK(RegistrationCount("Good.dll") == 1);
    CHECK(UnregistrationCount("Good.dll") == 1);
    CHECK(RegisteringProcess("Good.dll").value_or("") == std::string("test_com_servers.exe"));

    SUBCASE("a check captures what the export writes and compares it; nothing of it reaches the registry")
    {
        const std::string key = ServerRegistration(path("Good.dll"));
        // Unregistered above: not in place, and neither the registration nor the capture is left.
        CHECK_FALSE(CheckModule(path("Good.dll")));
        CHECK_FALSE(KeyExists(HKEY_CLASSES_ROOT, key));
        CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, captureKey));
        // The markers are written past the capture: a call is seen, none counted.
        CHECK(MarkerSequence().back() == "check Good.dll");
        CHECK(RegistrationCount("Good.dll") == 1);

        struct Row {
            const char* what;
            std::function<bool()> spoil;
            bool inPlace;
        };
        const Row rows[] = {
            {"as registered", [] { return true; }, true},
            {"ThreadingModel missing",
             [&] {
                 unique_hkey server;
                 return RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_SET_VALUE, server.put()) == 0 &&
                        RegDeleteValueA(server.get(), "ThreadingModel") == 0;
             },
             false},
            {"the path another module's", [&] { return SetString(HKEY_CLASSES_ROOT, key, "", path("Fails.dll")); }, false},
            {"the path in capitals",
             [&] {
                 std::string upper = path("Good.dll");
                 CharUpperA(&upper[0]);
                 return SetString(HKEY_CLASSES_ROOT, key, "", upper);
             },
             true},
            {"the empty Programmable key missing",
             [&] { return RegDeleteKeyA(HKEY_CLASSES_ROOT, (key + "\\Programmable").c_str()) == 0; }, false},
            {"ThreadingModel as REG_EXPAND_SZ",
             [&] { return SetValue(HKEY_CLASSES_ROOT, key, "ThreadingModel", REG_EXPAND_SZ, "Apartment", 10) == 0; }, false},
        };
        for (const Row& row : rows) {
            CAPTURE(row.what);
            REQUIRE(RegisterModule(path("Good.dll")));
            REQUIRE(row.spoil());
            CHECK(CheckModule(path("Good.dll")) == row.inPlace);
        }
        // A check that failed changes nothing either: the spoiled value stays as it was.
        CHECK(ReadRawValue(HKEY_CLASSES_ROOT, key, "ThreadingModel")->type == DWORD(REG_EXPAND_SZ));
        CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, captureKey));
    }
    SUBCASE("a status of 1 is a failure")
    {
        // Its registration is written, then it fails: the capture is not read, and goes all the same.
        CHECK_FALSE(CheckModule(path("Fails.dll")));
        CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, captureKey));
        CHECK_FALSE(RegisterModule(path("Fails.dll")));
        CHECK_FALSE(UnregisterModule(path("Fails.dll")));
        CHECK(RegistrationCount("Fails.dll") == 1);
        CHECK(UnregistrationCount("Fails.dll") == 1);
    }
    SUBCASE("a missing export is a failure")
    {
        CHECK_FALSE(UnregisterModule(path("RegisterOnly.dll")));
        CHECK_FALSE(RegisterModule(path("UnregisterOnly.dll")));
        CHECK_FALSE(CheckModule(path("UnregisterOnly.dll")));
        CHECK(MarkerSequence().size() == 2);
    }
    SUBCASE("an access violation in the export is a failure, and this process goes on")
    {
        CHECK_FALSE(RegisterModule(path("Crashes.dll")));
        CHECK_FALSE(UnregisterModule(path("Crashes.dll")));
        CHECK(RegistrationCount("Crashes.dll") == 1);
        CHECK(UnregistrationCount("Crashes.dll") == 1);
        // A crash under a capture still gives the registry back.
        CHECK_FALSE(CheckModule(path("Crashes.dll")));
        CHECK(RegisterModule(path("Good.dll")));
        CHECK(KeyExists(HKEY_CLASSES_ROOT, ServerRegistration(path("Good.dll"))));
    }
    SUBCASE("the guard itself: false after an exception, the result left as it was; else what was returned")
    {
        for (const std::string name : {"Crashes.dll", "Fails.dll"}) {
            CAPTURE(name);
            unique_hmodule module(LoadLibraryA(path(name.c_str()).c_str()));
            REQUIRE(module);
            const auto entry = reinterpret_cast<GuardedFunction>(
                reinterpret_cast<void*>(GetProcAddress(module.get(), "DllRegisterServer")));
            const bool exported = entry != nullptr;
            REQUIRE_MESSAGE(exported, name << " exports no DllRegisterServer");
            HRESULT result = E_UNEXPECTED;
            const bool returned = CallGuarded(entry, result);
            CHECK(returned == (name == "Fails.dll"));
            CHECK(result == (returned ? HRESULT(1) : E_UNEXPECTED));
        }
    }
    // Every module is released after the call.
    for (const char* name : {"Good.dll", "Fails.dll", "RegisterOnly.dll", "UnregisterOnly.dll", "Crashes.dll"}) {
        CAPTURE(name);
        CHECK(GetModuleHandleA(path(name).c_str()) == nullptr);
        CHECK(DeleteFileA(path(name).c_str()));
    }
}

TEST_CASE("A module that cannot load in full goes to the system's regsvr32, quoted")
{
    ScopedComMarkers markers;
    Installation install; // its path holds spaces
    install.Add("com_regsvr32_only.dll", "Refuses.dll");
    install.Add("com_missing_dependency.dll", "Orphan.dll");

    // A regsvr32.exe in the current directory must not be the one started:
    // this stand-in would log its command line beside itself.
    ScratchFolder planted("planted regsvr32");
    REQUIRE(CopyFixture("regasm.exe", planted.Path() + "\\regsvr32.exe"));
    std::optional<ScopedCurrentFolder> current(planted.Path());
    REQUIRE(current->Entered());

    const std::string refuses = install.servers + "\\Refuses.dll";
    // A check of a module that does not load starts no regsvr32: only the registration below counts.
    CHECK_FALSE(CheckModule(refuses));
    CHECK_FALSE(RegisterModule(refuses));
    CHECK(PollUntil([] { return RegistrationCount("Refuses.dll") > 0; }, 60000));
    CHECK(RegisteringProcess("Refuses.dll").value_or("") == std::string("regsvr32.exe"));

    CHECK_FALSE(UnregisterModule(refuses));
    CHECK(PollUntil([] { return UnregistrationCount("Refuses.dll") > 0; }, 60000));
    CHECK(RegisteringProcess("Refuses.dll").value_or("") == std::string("regsvr32.exe"));

    // regsvr32 cannot load it either; the call fails all the same.
    CHECK_FALSE(RegisterModule(install.servers + "\\Orphan.dll"));

    current.reset();
    CHECK_FALSE(FileExists(planted.Path() + "\\regasm.log"));

    // regsvr32 lets go of the module once it is done.
    CHECK(PollUntil([&] { return DeleteFileA(refuses.c_str()) != 0; }, 60000, 50));
    CHECK(RegistrationCount("Refuses.dll") == 1);
}

TEST_CASE("CountSelfRegisteringModules counts what probes as self-registering")
{
    Installation install;
    install.Add("com_server.dll", "A.dll");
    install.Add("com_server.dll", "B.ocx");
    install.Add("com_missing_dependency.dll", "C.dll");
    install.Add("com_unregister_only.dll", "D.dll");
    install.Add("com_server.dll", "E.txt");
    REQUIRE(WriteFileText(install.servers + "\\F.ocx", "not a module"));
    REQUIRE(CreateFolders(install.servers + "\\G.dll"));

    CHECK(CountSelfRegisteringModules(install.servers) == 3);
    CHECK(CountSelfRegisteringModules(install.servers + "\\") == 3);
    CHECK(CountSelfRegisteringModules("") == 0);
    CHECK(CountSelfRegisteringModules(install.servers + "\\A.dll") == 0);
    CHECK(CountSelfRegisteringModules(install.home + "\\missing") == 0);
}

TEST_CASE("RegisterProductComServers: utilities first, then the sweep")
{
    ScopedComMarkers markers;
    MessageRecorder recorder;
    Installation install;
    install.Add("com_server.dll", "AsmBinder.dll");
    install.Add("com_server.dll", "ComBridge.dll");
    install.Add("com_server.dll", "Viewer.ocx");
    install.Add("com_unregister_only.dll", "Helper.dll");

    // The sweep follows the search: the two utilities in the "*.dll" order, then Viewer.ocx.
    std::vector<std::string> expected = {"text 1005 AsmBinder.dll", "progress 1000 1", "text 1005 ComBridge.dll",
                                         "progress 1000 2"};
    std::vector<std::string> sequence = {"register AsmBinder.dll", "register ComBridge.dll"};
    std::vector<std::string> met;
    for (const std::string& name : FindNames(install.servers + "\\*.dll"))
        if (name != "Helper.dll")
            met.push_back(name);
    met.push_back("Viewer.ocx");
    REQUIRE(met.size() == 3);
    const char* positions[] = {"34", "67", "100"};
    for (size_t k = 0; k < met.size(); ++k) {
        expected.push_back("text 1005 " + met[k]);
        expected.push_back(std::string("progress 1000 ") + positions[k]);
        sequence.push_back("register " + met[k]);
    }

    for (const char* home : {"plain", "trailing backslash"}) {
        CAPTURE(home);
        const std::string installDir = install.home + (std::string(home) == "plain" ? "" : "\\");
        recorder.Clear();
        ClearMarkers();
        CHECK(RegisterProductComServers(installDir, true, recorder.Window()));
        CHECK(Join(recorder.Lines()) == Join(expected));
        CHECK(Join(MarkerSequence()) == Join(sequence));
        CHECK(UnregistrationCount("Helper.dll") == 0);
    }

    SUBCASE("a check: the same order and messages; not in place until registered")
    {
        std::vector<std::string> checks;
        for (const std::string& line : sequence)
            checks.push_back("check " + line.substr(sizeof "register"));
        ClearMarkers();
        recorder.Clear();
        std::optional<std::string> failedFile;
        CHECK_FALSE(RegisterProductComServers(install.home, false, recorder.Window(), failedFile, StepMode::Verify));
        CHECK(failedFile == std::string("AsmBinder.dll"));
        std::vector<std::string> failed = expected;
        failed.insert(failed.end(), {"text 1005 AsmBinder.dll", "status 1003 2"});
        CHECK(Join(recorder.Lines()) == Join(failed));
        CHECK(Join(MarkerSequence()) == Join(checks));

        REQUIRE(RegisterProductComServers(install.home, false, nullptr));
        recorder.Clear();
        CHECK(RegisterProductComServers(install.home, true, recorder.Window(), failedFile, StepMode::Verify));
        CHECK(failedFile == std::nullopt);
        CHECK(Join(recorder.Lines()) == Join(expected));
    }
    SUBCASE("a null window: the same registrations, no message")
    {
        ClearMarkers();
        recorder.Clear();
        CHECK(RegisterProductComServers(install.home, true, nullptr));
        CHECK(recorder.Lines().empty());
        CHECK(Join(MarkerSequence()) == Join(sequence));
    }
    SUBCASE("a failed module: the sweep goes on, then the row ends on failure naming the first one")
    {
        install.Add("com_server_fails.dll", "Broken.ocx");
        install.Add("com_missing_dependency.dll", "Unloadable.ocx");
        ClearMarkers();
        std::optional<std::string> failedFile;
        CHECK_FALSE(RegisterProductComServers(install.home, true, recorder.Window(), failedFile));
        CHECK(RegistrationCount("Broken.ocx") == 1);
        CHECK(RegistrationCount("Viewer.ocx") == 1);
        // The first of the two failures in the "*.ocx" search's order.
        const std::vector<std::string> ocx = FindNames(install.servers + "\\*.ocx");
        const std::string first = *std::find_if(ocx.begin(), ocx.end(), [](const std::string& name) {
            return name == "Broken.ocx" || name == "Unloadable.ocx";
        });
        CHECK(failedFile == first);
        CHECK(recorder.Lines("progress").back() == "progress 1000 100");
        const std::vector<std::string> lines = recorder.Lines();
        REQUIRE(lines.size() >= 2);
        CHECK(std::vector<std::string>(lines.end() - 2, lines.end()) == Lines({"text 1005 " + first, "status 1003 2"}));
        CHECK(recorder.Lines("status").size() == 1);
    }
}

TEST_CASE("RegisterProductComServers: the side-by-side and COM utilities")
{
    ScopedComMarkers markers;
    MessageRecorder recorder;
    Installation install;
    install.Add("com_server.dll", "Tool.dll");
    REQUIRE_FALSE(FileExists(sharedBinderFolder + "\\AsmBinder.dll"));

    SUBCASE("sxsRequired without AsmBinder.dll anywhere: label, failure, nothing else")
    {
        install.Add("com_server.dll", "ComBridge.dll");
        CHECK_FALSE(RegisterProductComServers(install.home, true, recorder.Window()));
        CHECK(recorder.Lines() == Lines({"text 1005 AsmBinder.dll", "status 1003 2"}));
        CHECK(MarkerSequence().empty());
    }
    SUBCASE("sxsRequired without ComBridge.dll: stops after position 1")
    {
        install.Add("com_server.dll", "AsmBinder.dll");
        CHECK_FALSE(RegisterProductComServers(install.home, true, recorder.Window()));
        CHECK(recorder.Lines() == Lines({"text 1005 AsmBinder.dll", "progress 1000 1", "text 1005 ComBridge.dll",
                                          "status 1003 2"}));
        CHECK(MarkerSequence() == Lines({"register AsmBinder.dll"}));
    }
    SUBCASE("without sxsRequired missing utilities are tolerated")
    {
        CHECK(RegisterProductComServers(install.home, false, recorder.Window()));
        CHECK(recorder.Lines() == Lines({"text 1005 AsmBinder.dll", "progress 1000 1", "text 1005 ComBridge.dll",
                                          "progress 1000 2", "text 1005 Tool.dll", "progress 1000 100"}));
    }
    SUBCASE("without sxsRequired a utility that is there and fails is a failure, named at the end")
    {
        SharedBinder shared("com_server_fails.dll");
        std::optional<std::string> failedFile;
        CHECK_FALSE(RegisterProductComServers(install.home, false, recorder.Window(), failedFile));
        CHECK(failedFile == std::string("AsmBinder.dll"));
        // The run goes on with the sweep; the row then ends on the utility.
        CHECK(RegistrationCount("Tool.dll") == 1);
        CHECK(recorder.Lines() == Lines({"text 1005 AsmBinder.dll", "progress 1000 1", "text 1005 ComBridge.dll",
                                          "progress 1000 2", "text 1005 Tool.dll", "progress 1000 100",
                                          "text 1005 AsmBinder.dll", "status 1003 2"}));
        recorder.Clear();
        CHECK_FALSE(UnregisterProductComServers(install.home, false, recorder.Window()));
        CHECK(UnregistrationCount("AsmBinder.dll") == 1);
        CHECK(recorder.Lines() == Lines({"text 1005 Tool.dll", "progress 1000 100", "text 1005 ComBridge.dll",
                                          "text 1005 AsmBinder.dll", "status 1003 2", "progress 1000 99",
                                          "progress 1000 100", "text 1005 AsmBinder.dll", "status 1003 2"}));
    }
    SUBCASE("without sxsRequired a utility file that does not load fails too; only no file is absent")
    {
        // An empty ComBridge.dll beside the servers; then an empty shared AsmBinder.dll, none beside them.
        install.Add("com_server.dll", "ComBridge.dll");
        REQUIRE(WriteFileText(install.servers + "\\ComBridge.dll", ""));
        std::optional<std::string> failedFile;
        CHECK_FALSE(RegisterProductComServers(install.home, false, recorder.Window(), failedFile));
        CHECK(failedFile == std::string("ComBridge.dll"));
        CHECK(recorder.Lines() == Lines({"text 1005 AsmBinder.dll", "progress 1000 1", "text 1005 ComBridge.dll",
                                          "progress 1000 2", "text 1005 Tool.dll", "progress 1000 100",
                                          "text 1005 ComBridge.dll", "status 1003 2"}));
        recorder.Clear();
        CHECK_FALSE(UnregisterProductComServers(install.home, false, recorder.Window()));
        CHECK(recorder.Lines("status") == Lines({"status 1003 2", "status 1003 2"}));

        REQUIRE(DeleteFileA((install.servers + "\\ComBridge.dll").c_str()));
        SharedBinder shared("com_server.dll");
        REQUIRE(WriteFileText(sharedBinderFolder + "\\AsmBinder.dll", ""));
        recorder.Clear();
        CHECK_FALSE(RegisterProductComServers(install.home, false, recorder.Window(), failedFile));
        CHECK(failedFile == std::string("AsmBinder.dll"));
        CHECK(recorder.Lines("status") == Lines({"status 1003 2"}));
        CHECK(recorder.Lines("text").back() == "text 1005 AsmBinder.dll");
    }
    SUBCASE("the shared copy registers: the folder's copy waits for the sweep")
    {
        SharedBinder shared("com_server.dll");
        install.Add("com_server.dll", "ComBridge.dll");
        CHECK(RegisterProductComServers(install.home, true, recorder.Window()));
        CHECK(RegistrationCount("AsmBinder.dll") == 1);
        CHECK(RegistrationCount("ComBridge.dll") == 2);
    }
    SUBCASE("the shared copy fails: the folder's copy decides")
    {
        SharedBinder shared("com_server_fails.dll");
        install.Add("com_server.dll", "ComBridge.dll");
        install.Add("com_server.dll", "AsmBinder.dll");
        CHECK(RegisterProductComServers(install.home, true, recorder.Window()));
        // The shared copy, the folder's copy, then the sweep's visit.
        CHECK(RegistrationCount("AsmBinder.dll") == 3);
        CHECK(recorder.Lines("status").empty());
        CHECK(recorder.Lines("progress").back() == "progress 1000 100");

        // Both copies failing fail the step.
        install.Add("com_server_fails.dll", "AsmBinder.dll");
        recorder.Clear();
        CHECK_FALSE(RegisterProductComServers(install.home, true, recorder.Window()));
        CHECK(recorder.Lines() == Lines({"text 1005 AsmBinder.dll", "status 1003 2"}));
    }
    SUBCASE("no self-registering module: the row ends at 2")
    {
        DeleteFileA((install.servers + "\\Tool.dll").c_str());
        CHECK(RegisterProductComServers(install.home, false, recorder.Window()));
        CHECK(recorder.Lines("progress") == Lines({"progress 1000 1", "progress 1000 2"}));
    }
    SUBCASE("no installation directory: nothing at all")
    {
        CHECK_FALSE(RegisterProductComServers("", false, recorder.Window()));
        CHECK_FALSE(UnregisterProductComServers("", true, recorder.Window()));
        CHECK(recorder.Lines().empty());
    }
}

namespace {
// Calls a hook for every message the recorder receives, before it records it.
struct RecorderHook {
    static inline WNDPROC original = nullptr;
    static inline void (*hook)(UINT message, WPARAM wParam) = nullptr;
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (hook)
            hook(message, wParam);
        return CallWindowProcA(original, window, message, wParam, lParam);
    }
    explicit RecorderHook(HWND window, void (*onMessage)(UINT, WPARAM))
    {
        hook = onMessage;
        original = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecorderHook::Procedure)));
    }
    ~RecorderHook() { hook = nullptr; }
};
std::string lateFolder;
} // namespace

TEST_CASE("Modules that appear after the count hold the bar at 100")
{
    ScopedComMarkers markers;
    MessageRecorder recorder;
    Installation install;
    install.Add("com_server.dll", "First.dll");
    lateFolder = install.servers;
    // After the count, while the "*.dll" search runs, two controls arrive.
    RecorderHook hook(recorder.Window(), [](UINT message, WPARAM wParam) {
        if (message == UM_SETTEXT && std::string(reinterpret_cast<const char*>(wParam)) == "First.dll") {
            CopyFixture("com_server.dll", lateFolder + "\\Late1.ocx");
            CopyFixture("com_server.dll", lateFolder + "\\Late2.ocx");
        }
    });
    CHECK(RegisterProductComServers(install.home, false, recorder.Window()));
    CHECK(RegistrationCount("Late1.ocx") == 1);
    CHECK(RegistrationCount("Late2.ocx") == 1);
    CHECK(recorder.Lines("progress") ==
          Lines({"progress 1000 1", "progress 1000 2", "progress 1000 100", "progress 1000 100", "progress 1000 100"}));
}

TEST_CASE("UnregisterProductComServers: the sweep first, the utilities last")
{
    ScopedComMarkers markers;
    MessageRecorder recorder;
    Installation install;

    SUBCASE("60 modules in the \"*.dll\" search and 40 in the \"*.ocx\" search")
    {
        for (int i = 0; i < 60; ++i)
            install.Add("com_server.dll", "Module" + std::to_string(i) + ".dll");
        for (int i = 0; i < 40; ++i)
            install.Add("com_server.dll", "Control" + std::to_string(i) + ".ocx");
        CHECK(UnregisterProductComServers(install.home, false, recorder.Window()));
        std::vector<std::string> progress = recorder.Lines("progress");
        REQUIRE(progress.size() == 102);
        CHECK(progress[0] == "progress 1000 2");
        CHECK(progress[59] == "progress 1000 60");
        CHECK(progress[60] == "progress 1000 59");
        CHECK(progress[99] == "progress 1000 98");
        CHECK(progress[100] == "progress 1000 99");
        CHECK(progress[101] == "progress 1000 100");
        CHECK(MarkerSequence().size() == 100);
    }
    SUBCASE("sxsRequired: each missing utility shows the failure, then 99 and 100")
    {
        install.Add("com_server.dll", "Tool.ocx");
        CHECK_FALSE(UnregisterProductComServers(install.home + "\\", true, recorder.Window()));
        // 99 and 100 no longer turn the failure into success: the row ends on the first utility that failed.
        CHECK(recorder.Lines() == Lines({"text 1005 Tool.ocx", "progress 1000 98", "text 1005 ComBridge.dll",
                                          "status 1003 2", "text 1005 AsmBinder.dll", "status 1003 2",
                                          "progress 1000 99", "progress 1000 100", "text 1005 ComBridge.dll",
                                          "status 1003 2"}));
    }
    SUBCASE("the utilities are unregistered after the sweep, whatever failed")
    {
        install.Add("com_server.dll", "AsmBinder.dll");
        install.Add("com_server.dll", "ComBridge.dll");
        install.Add("com_register_only.dll", "NoUnregister.dll");
        install.Add("com_unregister_only.dll", "NoRegister.dll");
        CHECK_FALSE(UnregisterProductComServers(install.home, true, recorder.Window()));
        // Only the module without its export failed: the row ends on it.
        const std::vector<std::string>& lines = recorder.Lines();
        REQUIRE(lines.size() >= 2);
        CHECK(std::vector<std::string>(lines.end() - 2, lines.end()) ==
              Lines({"text 1005 NoUnregister.dll", "status 1003 2"}));
        std::vector<std::string> sequence = MarkerSequence();
        // The sweep's two (in search order), then ComBridge.dll and AsmBinder.dll.
        REQUIRE(sequence.size() == 4);
        CHECK(sequence[2] == "unregister ComBridge.dll");
        CHECK(sequence[3] == "unregister AsmBinder.dll");
        CHECK(UnregistrationCount("AsmBinder.dll") == 2);
        CHECK(UnregistrationCount("NoUnregister.dll") == 0); // met, export missing
        CHECK(UnregistrationCount("NoRegister.dll") == 0);   // never met
    }
    SUBCASE("a missing server folder ends with 99 and 100")
    {
        CHECK(UnregisterProductComServers(install.home + "\\nothing", false, recorder.Window()));
        CHECK(recorder.Lines() == Lines({"text 1005 ComBridge.dll", "text 1005 AsmBinder.dll", "progress 1000 99",
                                          "progress 1000 100"}));
    }
}
