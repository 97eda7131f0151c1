// The side-by-side decision for each host version, and the patch installer
// that host 8.3.0 may need. The host repair runs in this process; one run of
// the real RepairQEXApps.exe per table shows that the options reach it.
//
// The raster folder's side-by-side utility is made to fail its registration:
// with sxsRequired the raster folder's registration stops there and its
// RasterCore.dll stays unregistered; without it the sweep goes on.
#include "options/option_set.h"
#include "support/bench.h"
#include "support/discovery_packages.h"
#include "support/sample_machine.h"
#include "worker/host_repair.h"

#include <doctest.h>

namespace {

const char kExtension83Key[] = "SOFTWARE\\Torvane\\Mirel\\8.3";
const char kPatchLaunchFailed[] = "RepairQEXApps: Unable to launch SxS patch installer!";

bool BreakRasterBinder(const SampleMachine& machine)
{
    return CopyFixture("com_server_fails.dll", machine.RasterServerFolder() + "\\AsmBinder.dll");
}

bool SxsRequiredHeld()
{
    return RegistrationCount("RasterCore.dll") == 0;
}

// The host repair as the worker runs it, in this process, with the message
// boxes it must have shown: the sxsRequired it settled on. An installer that
// could not start shows its message and counts as the patch step's failure;
// in a -verify run, one that would start counts so, and nothing is shown.
bool RepairHostHere(const std::string& options, const std::vector<std::string>& messageBoxes = {})
{
    OptionSet parsed(options.c_str());
    MessageRecorder recorder;
    const WorkerContext context{recorder.Window(), &parsed};
    const ScopedMessageBoxes boxes;
    silentMode = false; // the worker sets it and nothing resets it
    bool sxsRequired = true;
    RunOutcome outcome;
    RepairHost(context, parsed, sxsRequired, outcome);
    CHECK(boxes.Shown() == messageBoxes);
    CHECK(outcome.patchFailed == (!messageBoxes.empty() || parsed.Has("verify")));
    return sxsRequired;
}

// What the stand-in Setup.exe logs: its command line and working directory.
std::string ExpectedPatchRun(int which)
{
    const std::string folder = ShortPath(SampleMachine::ProductHome()) + "Install\\Patch" + std::to_string(which) + "\\";
    return "\"" + folder + "Setup.exe\" /qn|" + folder.substr(0, folder.size() - 1);
}

// A row of the spoiled machines' table on a seeded machine of its host.
struct Spoiled {
    const SpoiledMachine* row;
    SampleMachine machine;
    explicit Spoiled(const char* name) : row(SpoiledMachineNamed(name)), machine(row ? row->host : "")
    {
        REQUIRE(row != nullptr);
        REQUIRE(machine.Seed());
        Spoiling spoiling;
        REQUIRE(row->spoil(spoiling));
        REQUIRE(BreakRasterBinder(machine));
    }
};

} // namespace

TEST_CASE("the host version decides sxsRequired: 9.0.0.0 false, 9.1 true, other versions leave it true")
{
    struct Case {
        const char* host;
        bool sxsRequired;
        bool rasterKey; // the raster environment names the raster folder: else these versions have none
        bool endToEnd;
    };
    for (const Case& c : {Case{"9.0.0.0", false, false, true}, Case{"9.0.0.0", false, false, false},
                          Case{"9.1", true, false, false}, Case{"9.2", true, true, false},
                          Case{"9.1.0", true, true, false}}) {
        CAPTURE(c.host);
        CAPTURE(c.endToEnd);
        SampleMachine machine(c.host);
        REQUIRE(machine.Seed());
        REQUIRE(BreakRasterBinder(machine));
        if (c.rasterKey)
            REQUIRE(SetString(HKEY_LOCAL_MACHINE, RasterEnvironmentKey, "QEX_HOME", SampleMachine::HostHome() + "Raster\\"));

        if (c.endToEnd) {
            CHECK(RunRepair("", RunEnd::ByOk).Outcome() == kQuietEnd);
        } else {
            CHECK(RepairHostHere("") == c.sxsRequired);
            // The raster folder's pass ran: its utility, and again in the sweep when it goes on.
            CHECK(RegistrationCount("AsmBinder.dll") == (c.sxsRequired ? 1 : 2));
        }
        CHECK(SxsRequiredHeld() == c.sxsRequired);
        CHECK(PatchRuns(1).empty());
        CHECK(PatchRuns(2).empty());
    }
}

TEST_CASE("\"sxs_required\" replaces the decision by version, for host 8.3.0 with no patch installed")
{
    struct Case {
        const char* options;
        bool sxsRequired;
        bool endToEnd;
    };
    for (const Case& c : {Case{"-repair_arcgis -repair_qex_com -sxs_required:0", false, true},
                          Case{"-repair_arcgis -repair_qex_com -sxs_required", false, false},
                          Case{"-repair_arcgis -repair_qex_com -sxs_required:1", true, false}}) {
        CAPTURE(c.options);
        CAPTURE(c.endToEnd);
        SampleMachine machine("8.3.0");
        REQUIRE(machine.Seed());
        REQUIRE(BreakRasterBinder(machine));

        if (c.endToEnd)
            CHECK(RunRepair(c.options, RunEnd::ByOk).Outcome() == kQuietEnd);
        else
            CHECK(RepairHostHere(c.options) == c.sxsRequired);
        CHECK(SxsRequiredHeld() == c.sxsRequired);
        CHECK(PatchRuns(1).empty());
        CHECK(PatchRuns(2).empty());
        CHECK_FALSE(IsProductRecorded(PatchProductCode(1)));
        CHECK_FALSE(IsProductRecorded(PatchProductCode(2)));
    }
}

TEST_CASE("host 8.3.0: the patch installer that is missing runs, quoted, with \"/qn\", and is waited for")
{
    SampleMachine machine("8.3.0");
    REQUIRE(machine.Seed());
    REQUIRE(BreakRasterBinder(machine));

    SUBCASE("extension 8.3 installed, second patch missing: the second patch")
    {
        CHECK(RepairHostHere(""));
        CHECK(PatchRuns(2) == std::vector<std::string>{ExpectedPatchRun(2)});
        CHECK(PatchRuns(1).empty());
        // Waited for: installed by the time the repair goes on.
        CHECK(IsProductRecorded(PatchProductCode(2)));
        CHECK(SxsRequiredHeld());

        // The installer's exit code, end to end: a restart asked for or
        // started is no failure, and the run's own code says so.
        ScratchFolder logs("patch logs");
        const std::string log = logs.Path() + "\\run.log";
        struct Code {
            DWORD installer, run;
            const char* patchLine; // the log holds these
            const char* endLine;
        };
        for (const Code& c : {Code{3010, 3010, "the side-by-side patch needs a restart of the machine to finish",
                                   "a restart of the machine is needed to finish the repair"},
                              Code{1641, 1641, "the side-by-side patch has started a restart of the machine",
                                   "a restart of the machine has been started"},
                              Code{1603, 16, "failed, exit code 1603", "row ArcObjects: ok"}}) {
            CAPTURE(c.installer);
            REQUIRE(RemovePatchPackage(2));
            REQUIRE(WriteFileText(SampleMachine::ProductHome() + "Install\\Patch2\\exit_code.txt",
                                  std::to_string(c.installer)));
            const RepairRun run = RunRepair("-repair_arcgis -nogui -exit_codes -log:\"" + log + "\"", RunEnd::ByItself);
            CHECK(run.Outcome() == "exit code " + std::to_string(c.run) + ", no message box");
            const std::optional<std::string> text = ReadFileText(log);
            REQUIRE(text.has_value());
            CHECK(text->find(c.patchLine) != std::string::npos);
            CHECK(text->find(c.endLine) != std::string::npos);
            CHECK(IsProductRecorded(PatchProductCode(2)));
        }
    }
    SUBCASE("-verify: the second patch would run; it is not started")
    {
        CHECK(RepairHostHere("-verify"));
        CHECK(PatchRuns(1).empty());
        CHECK(PatchRuns(2).empty());
        CHECK_FALSE(IsProductRecorded(PatchProductCode(2)));
    }
    SUBCASE("extension 8.3 and the second patch installed, first patch missing: the first patch")
    {
        REQUIRE(InstallPatchPackage(2));
        CHECK(RepairHostHere(""));
        CHECK(PatchRuns(1) == std::vector<std::string>{ExpectedPatchRun(1)});
        CHECK(PatchRuns(2).empty());
        CHECK(IsProductRecorded(PatchProductCode(1)));
        CHECK(SxsRequiredHeld());
    }
    SUBCASE("both patches installed: no installer, sxsRequired true")
    {
        REQUIRE(InstallPatchPackage(1));
        REQUIRE(InstallPatchPackage(2));
        CHECK(RepairHostHere(""));
        CHECK(PatchRuns(1).empty());
        CHECK(PatchRuns(2).empty());
        CHECK(SxsRequiredHeld());
    }
    SUBCASE("no extension 8.3, first patch installed: the second patch is not needed")
    {
        REQUIRE(InstallPatchPackage(1));
        // An empty InstallDir names no extension; then no key at all.
        for (const bool keyKept : {true, false}) {
            CAPTURE(keyKept);
            REQUIRE((keyKept ? SetString(HKEY_LOCAL_MACHINE, kExtension83Key, "InstallDir", "")
                             : DeleteKeyTree(HKEY_LOCAL_MACHINE, kExtension83Key)));
            CHECK(RepairHostHere(""));
            CHECK(PatchRuns(1).empty());
            CHECK(PatchRuns(2).empty());
            CHECK(SxsRequiredHeld());
        }
    }
    SUBCASE("no product home of 8.7.0: no installer, sxsRequired false")
    {
        REQUIRE(DeleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Torvane\\Shared\\8.7.0"));
        CHECK_FALSE(RepairHostHere(""));
        CHECK(PatchRuns(1).empty());
        CHECK(PatchRuns(2).empty());
        CHECK_FALSE(SxsRequiredHeld());
    }
}

TEST_CASE("host 8.3.0: an installer that cannot start gives the message unless silent; sxsRequired true")
{
    SUBCASE("Setup.exe missing")
    {
        const Spoiled spoiled("patch Setup.exe missing");
        CHECK(RepairHostHere("", {kPatchLaunchFailed}));
        // The run went on after the message.
        CHECK(RegistrationCount("AsmBinder.dll") == 1);
        CHECK(SxsRequiredHeld());
    }
    SUBCASE("a product home too long for the installer's command line: refused, not cut short")
    {
        // Beyond the 1,004 bytes of the installer's command line and working directory.
        const Spoiled spoiled("product home of 1,100 bytes (patch step)");
        CHECK(RepairHostHere("", {kPatchLaunchFailed}));
        CHECK(PatchRuns(1).empty());
        CHECK(PatchRuns(2).empty());
        CHECK(SxsRequiredHeld());
    }
    SUBCASE("silent: no message, the run closes itself")
    {
        const Spoiled spoiled("patch Setup.exe missing");
        CHECK(RunRepair("-silent", RunEnd::ByItself).Outcome() == kQuietEnd);
    }
}
