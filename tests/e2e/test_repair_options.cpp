// The directory options and "sxs_required" of the real RepairQEXApps.exe.
#include "support/bench.h"
#include "support/sample_machine.h"

#include <doctest.h>

namespace {

// The product home as a user would type it: quoted, without the backslash
// that would escape the closing quote.
std::string QuotedProductHome()
{
    const std::string home = SampleMachine::ProductHome();
    return "\"" + home.substr(0, home.size() - 1) + "\"";
}

std::string ShortHostHome()
{
    char shortPath[MAX_PATH] = {};
    GetShortPathNameA(SampleMachine::HostHome().c_str(), shortPath, MAX_PATH);
    return shortPath;
}

// A side-by-side utility that cannot be registered: with sxsRequired the
// product's registration stops there, without it the sweep goes on.
bool BreakProductBinder()
{
    return CopyFixture("com_server_fails.dll", SampleMachine::ProductHome() + "bin\\ntx86\\AsmBinder.dll");
}

} // namespace

TEST_CASE("\"qex_home\" without a value, or with what no path holds: no product home, no discovery")
{
    // With -exit_codes, 64: no QEX for the steps selected. A quote and tabs
    // would reach regasm.exe's command line as a switch of their own.
    const std::pair<std::string, DWORD> cases[] = {
        {"-qex_home -repair_qex_com -repair_qex_net", 0},
        {"-qex_home -repair_qex_com -exit_codes", 64},
        {"-qex_home -exit_codes", 0},
        {"-qex_home:C:\\x\"\t/tlb:C:\\y.tlb\t\" -repair_qex_net -exit_codes", 64},
    };
    for (const auto& [options, exitCode] : cases) {
        CAPTURE(options);
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());

        const RepairRun run = RunRepair(options, RunEnd::ByOk);
        CHECK(run.exitCode == exitCode);
        CHECK(run.messageBoxes.empty());
        CHECK(RegistrationCount("QexCore.dll") == 0);
        CHECK(RegasmRuns().empty());
        // No product home: the threading-model repair is skipped too.
        CHECK(ThreadingModelValue() == std::string("Apartment"));
    }
}

TEST_CASE("\"qex_home\" with a directory alone: no step selected, only the threading model")
{
    SampleMachine machine("9.0.0.0");
    REQUIRE(machine.Seed());

    const RepairRun run = RunRepair("-qex_home:" + QuotedProductHome(), RunEnd::ByOk);
    CHECK(run.exitCode == DWORD(0));
    REQUIRE(run.windowRead);
    CHECK(run.com.bar == 0);
    CHECK(run.net.bar == 0);
    CHECK(RegistrationCount("QexCore.dll") == 0);
    CHECK(RegasmRuns().empty());
    CHECK(ThreadingModelValue() == std::string("Both"));
}

TEST_CASE("\"sxs_required\" decides whether the product's registration stops at a failing utility")
{
    struct Case {
        std::string options;
        bool carriesOn; // sxsRequired false: the sweep goes past the utility
    };
    const std::string home = "-qex_home:" + QuotedProductHome();
    const Case cases[] = {
        {home + " -sxs_required:0 -repair_qex_com", true},
        {home + " -sxs_required:2 -repair_qex_com", true},
        {home + " -sxs_required:1 -repair_qex_com", false},
        {home + " -repair_qex_com", false},
        // Without a value it reads as a number other than 1.
        {home + " -sxs_required -repair_qex_com", true},
        // Without "qex_home" the option is not read before the host's decision,
        // and RepairHost is not selected: sxsRequired stays true.
        {"-sxs_required:0 -repair_qex_com", false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.options);
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());
        REQUIRE(BreakProductBinder());

        const RepairRun run = RunRepair(c.options, RunEnd::ByOk);
        CHECK(run.exitCode == DWORD(0));
        CHECK(run.messageBoxes.empty());
        CHECK(RegistrationCount("AsmBinder.dll") >= 1);
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

        const RepairRun run = RunRepair("-repair_arcgis -arcgis_home:" + ShortHostHome(), RunEnd::ByOk);
        CHECK(run.exitCode == DWORD(0));
        REQUIRE(run.windowRead);
        CHECK(run.messageBoxes.empty());
        CHECK(run.arc.bar == 100);
        CHECK(run.com.bar == 0);
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

        const RepairRun run = RunRepair("-repair_arcgis -arcgis_home:" + ShortHostHome(), RunEnd::ByOk);
        CHECK(run.exitCode == DWORD(0));
        CHECK(run.arc.bar == 100);
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
        const std::string host = c.host;
        const std::string options = c.options;
        CAPTURE(host);
        CAPTURE(options);
        SampleMachine machine(host);
        REQUIRE(machine.Seed());

        const RepairRun run = RunRepair(options, RunEnd::ByOk, nullptr, {"", current.Path(), {}});
        CHECK(run.exitCode == DWORD(0));
        REQUIRE(run.windowRead);
        CHECK(run.messageBoxes.empty());
        CHECK(run.arc.bar == 0);
        CHECK(run.arc.status == 0);
        CHECK(RegistrationCount("Geometry.dll") == 0);
        CHECK(RegistrationCount("RasterCore.dll") == 0);
        CHECK(PatchRuns(1).empty());
        CHECK(PatchRuns(2).empty());
        if (host == "9.0.0.0")
            CHECK(RasterEnvironmentValue("QEX_HOME") == std::string(StaleRasterHome));
    }
}
