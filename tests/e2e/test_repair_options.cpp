// The directory options and "sxs_required". The worker runs in this process,
// on a window that records what it reports; one run of the real
// RepairQEXApps.exe shows that the options reach it.
#include "common/run_log.h"
#include "options/option_set.h"
#include "support/bench.h"
#include "support/sample_machine.h"
#include "worker/repair_worker.h"

#include <doctest.h>

#include <new>

namespace {

// The product home as a user would type it: quoted, without the backslash
// that would escape the closing quote.
std::string QuotedProductHome()
{
    const std::string home = SampleMachine::ProductHome();
    return "\"" + home.substr(0, home.size() - 1) + "\"";
}

// A side-by-side utility that cannot be registered: with sxsRequired the
// product's registration stops there, without it the sweep goes on.
bool BreakProductBinder()
{
    return CopyFixture("com_server_fails.dll", SampleMachine::ProductHome() + "bin\\ntx86\\AsmBinder.dll");
}

// The worker's whole run, in this process: what it reported to its window,
// then "exit code N".
std::vector<std::string> RunWorker(const std::string& options)
{
    OptionSet parsed(options.c_str());
    MessageRecorder recorder;
    WorkerContext context{recorder.Window(), &parsed};
    const ScopedMessageBoxes boxes;
    silentMode = false; // the worker sets it and nothing resets it
    const DWORD exitCode = RepairWorker(&context);
    CHECK(boxes.Shown().empty());
    std::vector<std::string> lines = recorder.Lines();
    lines.push_back("exit code " + std::to_string(exitCode));
    return lines;
}

// WriteFile as on a full disk.
BOOL WINAPI FailWrite(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED)
{
    if (written)
        *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// The last report that starts with prefix ("progress 1007"), or "".
std::string Last(const std::vector<std::string>& lines, const std::string& prefix)
{
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        if (line->compare(0, prefix.size(), prefix) == 0)
            return *line;
    return "";
}

} // namespace

TEST_CASE("\"qex_home\" without a value, or with what no path holds: no product home, no discovery")
{
    // With -exit_codes, 64: no QEX for the steps selected. A quote and tabs
    // would reach regasm.exe's command line as a switch of their own; a quote
    // alone would end its quoted path there.
    struct Case {
        std::string options;
        DWORD exitCode;
        bool logWritesFail = false; // a log is open, and every write to it fails: 128 as well
    };
    const Case cases[] = {
        {"-qex_home -repair_qex_com -repair_qex_net", 0},
        {"-qex_home -repair_qex_com -exit_codes", 64},
        {"-qex_home -repair_qex_com -exit_codes", 64 + 128, true},
        {"-qex_home -exit_codes", 0},
        {"-qex_home:C:\\x\"\t/tlb:C:\\y.tlb\t\" -repair_qex_net -exit_codes", 64},
        {"-qex_home:C:\\x\"y -repair_qex_net -exit_codes", 64},
    };
    ScratchFolder logs("options log");
    const std::string log = logs.Path() + "\\run.log";
    for (const Case& c : cases) {
        CAPTURE(c.options);
        CAPTURE(c.logWritesFail);
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());

        std::optional<ImportHook> failingWrites;
        if (c.logWritesFail) {
            REQUIRE(OpenRunLogFile(log));
            failingWrites.emplace("WriteFile", reinterpret_cast<void*>(&FailWrite));
            REQUIRE(failingWrites->original != nullptr);
        }
        CHECK(RunWorker(c.options).back() == "exit code " + std::to_string(c.exitCode));
        failingWrites.reset();
        CloseRunLog();
        CHECK(RegistrationCount("QexCore.dll") == 0);
        CHECK(RegasmRuns().empty());
        // No product home: the threading-model repair is skipped too.
        CHECK(ThreadingModelValue() == std::string("Apartment"));
    }
    // Nothing reached the log: not the lines whose writes failed, nor any once it was closed.
    CHECK(ReadFileText(log) == std::string());
}

namespace {

// Memory running out as regasm.exe is started, as far as the code under test can tell.
BOOL WINAPI CreateProcessOutOfMemory(const char*, char*, SECURITY_ATTRIBUTES*, SECURITY_ATTRIBUTES*, BOOL, DWORD, void*,
                                     const char*, STARTUPINFOA*, PROCESS_INFORMATION*)
{
    throw std::bad_alloc();
}

} // namespace

TEST_CASE("memory running out in a step: that step's row fails, the later steps are skipped, the run ends")
{
    SampleMachine machine("9.0.0.0");
    REQUIRE(machine.Seed());
    std::vector<std::string> reported;
    {
        const ImportHook hook("CreateProcessA", reinterpret_cast<void*>(CreateProcessOutOfMemory));
        REQUIRE(hook.original != nullptr);
        reported = RunWorker("-repair_qex_net -sync_afcore -exit_codes");
    }
    // The .NET row (2), and the run cut short (256).
    CHECK(reported.back() == "exit code 258");
    CHECK(Last(reported, "status 1004") == "status 1004 2");
    CHECK(Last(reported, "progress 1002") == "");
    CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == std::string("AfCore.dll, outdated"));
}

TEST_CASE("\"qex_home\" with a directory alone: no step selected, only the threading model")
{
    SampleMachine machine("9.0.0.0");
    REQUIRE(machine.Seed());

    const std::vector<std::string> reported = RunWorker("-qex_home:" + QuotedProductHome());
    CHECK(Last(reported, "progress 1000") == "");
    CHECK(Last(reported, "progress 1002") == "");
    CHECK(RegistrationCount("QexCore.dll") == 0);
    CHECK(RegasmRuns().empty());
    CHECK(ThreadingModelValue() == std::string("Both"));
}

TEST_CASE("\"sxs_required\" decides whether the product's registration stops at a failing utility")
{
    struct Case {
        std::string options;
        bool carriesOn; // sxsRequired false: the sweep goes past the utility
        bool endToEnd;
    };
    const std::string home = "-qex_home:" + QuotedProductHome();
    const Case cases[] = {
        {home + " -sxs_required:0 -repair_qex_com", true, true},
        {home + " -sxs_required:2 -repair_qex_com", true, false},
        {home + " -sxs_required:1 -repair_qex_com", false, false},
        {home + " -repair_qex_com", false, false},
        // Without a value it reads as a number other than 1.
        {home + " -sxs_required -repair_qex_com", true, false},
        // Without "qex_home" the option is not read before the host's decision,
        // and RepairHost is not selected: sxsRequired stays true.
        {"-sxs_required:0 -repair_qex_com", false, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.options);
        CAPTURE(c.endToEnd);
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());
        REQUIRE(BreakProductBinder());

        if (c.endToEnd)
            CHECK(RunRepair(c.options, RunEnd::ByOk).Outcome() == kQuietEnd);
        else
            RunWorker(c.options);
        // The utility first, and again in the sweep when it goes on.
        CHECK(RegistrationCount("AsmBinder.dll") == (c.carriesOn ? 2 : 1));
        CHECK(RegistrationCount("QexCore.dll") == (c.carriesOn ? 1 : 0));
        CHECK(RegistrationCount("RasterCore.dll") == 0);
        CHECK(RegasmRuns().empty());
        CHECK(ThreadingModelValue() == std::string("Both"));
    }
}

TEST_CASE("\"arcgis_home\" with \"repair_arcgis\": only the ArcObjects libraries of that directory")
{
    SUBCASE("host 8.3.0: no patch installer, no raster folder")
    {
        SampleMachine machine("8.3.0");
        REQUIRE(machine.Seed());

        const std::vector<std::string> reported =
            RunWorker("-repair_arcgis -arcgis_home:" + ShortPath(SampleMachine::HostHome()));
        CHECK(Last(reported, "progress 1007") == "progress 1007 100");
        CHECK(Last(reported, "progress 1000") == "");
        CHECK(RegistrationCount("Geometry.dll") == 1);
        CHECK(RegistrationCount("SpatialReference.dll") == 1);
        CHECK(RegistrationCount("RasterCore.dll") == 0);
        CHECK(PatchRuns(1).empty());
        CHECK(PatchRuns(2).empty());
        CHECK(RegistrationCount("QexCore.dll") == 0);
        CHECK(ThreadingModelValue() == std::string("Both"));
    }
    SUBCASE("host 9.0.0.0: the ArcObjects registration still ends with the raster environment")
    {
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());

        const std::vector<std::string> reported =
            RunWorker("-repair_arcgis -arcgis_home:" + ShortPath(SampleMachine::HostHome()));
        CHECK(Last(reported, "progress 1007") == "progress 1007 100");
        CHECK(RegistrationCount("Geometry.dll") == 1);
        CHECK(RegistrationCount("RasterCore.dll") == 0);
        CHECK(RasterEnvironmentValue("QEX_HOME") == SampleMachine::ExtensionHome());
    }
}

TEST_CASE("\"arcgis_home\" without a value or empty, with \"repair_arcgis\": the host sequence does nothing")
{
    // Started on drive C:, whose root holds a library that an empty home would reach.
    ScratchFolder current("current");
    const std::string rootLibrary = "C:\\bin\\Geometry.dll";
    REQUIRE(!FileExists(rootLibrary));
    struct RootFolderRemover {
        ~RootFolderRemover() { RemoveTree("C:\\bin"); }
    } removeRootFolder;
    REQUIRE(CopyFixture("com_server.dll", rootLibrary));
    struct Case {
        const char* host;
        const char* options;
    };
    const Case cases[] = {
        {"9.0.0.0", "-repair_arcgis -arcgis_home"},
        {"8.3.0", "-repair_arcgis -arcgis_home"},
        {"9.0.0.0", "-repair_arcgis -arcgis_home:\"\""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.host);
        CAPTURE(c.options);
        SampleMachine machine(c.host);
        REQUIRE(machine.Seed());

        const ScopedCurrentFolder inCurrent(current.Path());
        REQUIRE(inCurrent.Entered());
        const std::vector<std::string> reported = RunWorker(c.options);
        CHECK(Last(reported, "progress 1007") == "");
        CHECK(Last(reported, "status 1008") == "");
        CHECK(RegistrationCount("Geometry.dll") == 0);
        CHECK(RegistrationCount("RasterCore.dll") == 0);
        CHECK(PatchRuns(1).empty());
        CHECK(PatchRuns(2).empty());
        if (c.host == std::string("9.0.0.0"))
            CHECK(RasterEnvironmentValue("QEX_HOME") == std::string(StaleRasterHome));
    }
}
