// The side-by-side decision of the real RepairQEXApps.exe for each host
// version, and the patch installer that host 8.3.0 may need.
//
// The raster folder's side-by-side utility is made to fail its registration:
// with sxsRequired the raster folder's registration stops there and its
// RasterCore.dll stays unregistered; without it the sweep goes on.
#include "support/bench.h"
#include "support/discovery_packages.h"
#include "support/sample_machine.h"

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

std::string ShortProductHome()
{
    char shortPath[MAX_PATH] = {};
    GetShortPathNameA(SampleMachine::ProductHome().c_str(), shortPath, MAX_PATH);
    return shortPath;
}

// What the stand-in Setup.exe logs: its command line and working directory.
std::string ExpectedPatchRun(int which)
{
    const std::string folder = ShortProductHome() + "Install\\Patch" + std::to_string(which) + "\\";
    return "\"" + folder + "Setup.exe\" /qn|" + folder.substr(0, folder.size() - 1);
}

} // namespace

TEST_CASE("the host version decides sxsRequired: 9.0.0.0 false, 9.1 true, other versions leave it true")
{
    struct Case {
        const char* host;
        bool sxsRequired;
    };
    for (const Case& c : {Case{"9.0.0.0", false}, Case{"9.1", true}, Case{"9.2", true}, Case{"9.1.0", true}}) {
        CAPTURE(c.host);
        SampleMachine machine(c.host);
        REQUIRE(machine.Seed());
        REQUIRE(BreakRasterBinder(machine));

        const RepairRun run = RunRepair("", RunEnd::ByOk);
        CHECK(run.exitCode == DWORD(0));
        CHECK(run.messageBoxes.empty());
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
    };
    for (const Case& c : {Case{"-repair_arcgis -repair_qex_com -sxs_required:0", false},
                          Case{"-repair_arcgis -repair_qex_com -sxs_required", false},
                          Case{"-repair_arcgis -repair_qex_com -sxs_required:1", true}}) {
        CAPTURE(c.options);
        SampleMachine machine("8.3.0");
        REQUIRE(machine.Seed());
        REQUIRE(BreakRasterBinder(machine));

        const RepairRun run = RunRepair(c.options, RunEnd::ByOk);
        CHECK(run.exitCode == DWORD(0));
        CHECK(run.messageBoxes.empty());
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
        bool installedAtFinish = false;
        const RepairRun run = RunRepair("", RunEnd::ByOk, [&](HWND) {
            installedAtFinish = IsProductRecorded(PatchProductCode(2));
        });
        CHECK(run.exitCode == DWORD(0));
        CHECK(run.messageBoxes.empty());
        CHECK(PatchRuns(2) == std::vector<std::string>{ExpectedPatchRun(2)});
        CHECK(PatchRuns(1).empty());
        CHECK(installedAtFinish);
        CHECK(SxsRequiredHeld());
    }
    SUBCASE("extension 8.3 and the second patch installed, first patch missing: the first patch")
    {
        REQUIRE(InstallPatchPackage(2));
        const RepairRun run = RunRepair("", RunEnd::ByOk);
        CHECK(run.exitCode == DWORD(0));
        CHECK(run.messageBoxes.empty());
        CHECK(PatchRuns(1) == std::vector<std::string>{ExpectedPatchRun(1)});
        CHECK(PatchRuns(2).empty());
        CHECK(IsProductRecorded(PatchProductCode(1)));
        CHECK(SxsRequiredHeld());
    }
    SUBCASE("both patches installed: no installer, sxsRequired true")
    {
        REQUIRE(InstallPatchPackage(1));
        REQUIRE(InstallPatchPackage(2));
        const RepairRun run = RunRepair("", RunEnd::ByOk);
        CHECK(run.exitCode == DWORD(0));
        CHECK(run.messageBoxes.empty());
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
            const RepairRun run = RunRepair("", RunEnd::ByOk);
            CHECK(run.exitCode == DWORD(0));
            CHECK(PatchRuns(1).empty());
            CHECK(PatchRuns(2).empty());
            CHECK(SxsRequiredHeld());
        }
    }
    SUBCASE("no product home of 8.7.0: no installer, sxsRequired false")
    {
        REQUIRE(DeleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Torvane\\Shared\\8.7.0"));
        const RepairRun run = RunRepair("", RunEnd::ByOk);
        CHECK(run.exitCode == DWORD(0));
        CHECK(run.messageBoxes.empty());
        CHECK(PatchRuns(1).empty());
        CHECK(PatchRuns(2).empty());
        CHECK_FALSE(SxsRequiredHeld());
    }
}

TEST_CASE("host 8.3.0: an installer that cannot start gives the message unless silent; sxsRequired true")
{
    SampleMachine machine("8.3.0");
    REQUIRE(machine.Seed());
    REQUIRE(BreakRasterBinder(machine));

    SUBCASE("Setup.exe missing")
    {
        REQUIRE(DeleteFileA((SampleMachine::ProductHome() + "Install\\Patch2\\Setup.exe").c_str()));
        const RepairRun run = RunRepair("", RunEnd::ByOk);
        CAPTURE(Join(run.messageBoxes));
        CHECK(run.exitCode == DWORD(0));
        CHECK(run.messageBoxes == std::vector<std::string>{kPatchLaunchFailed});
        CHECK(run.com.bar == 100); // the run went on after the message
        CHECK(SxsRequiredHeld());
    }
    SUBCASE("a product home too long for the installer's command line: refused, not cut short")
    {
        // Beyond the 1,004 bytes of the installer's command line and working directory.
        const std::string longHome = SampleMachine::ProductHome() + std::string(1000, 'x') + "\\";
        ScopedKey product(HKEY_LOCAL_MACHINE, ProductKey);
        REQUIRE(product.SetString("QEX_HOME", longHome));
        const RepairRun run = RunRepair("", RunEnd::ByOk);
        CAPTURE(Join(run.messageBoxes));
        CHECK(run.exitCode == DWORD(0));
        CHECK(run.messageBoxes == std::vector<std::string>{kPatchLaunchFailed});
        CHECK(PatchRuns(1).empty());
        CHECK(PatchRuns(2).empty());
        CHECK(SxsRequiredHeld());
    }
    SUBCASE("silent: no message, the run closes itself")
    {
        REQUIRE(DeleteFileA((SampleMachine::ProductHome() + "Install\\Patch2\\Setup.exe").c_str()));
        const RepairRun run = RunRepair("-silent", RunEnd::ByItself);
        CHECK(run.exitCode == DWORD(0));
        CHECK(run.messageBoxes.empty());
    }
}
