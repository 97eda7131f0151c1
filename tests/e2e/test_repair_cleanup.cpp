// The cleanup mode of the real RepairQEXApps.exe: "cleanup" as the only
// option unregisters; with any other option it is not the cleanup mode.
#include "support/bench.h"
#include "support/sample_machine.h"

#include <doctest.h>

TEST_CASE("\"cleanup\" alone: ArcObjects row hidden, new captions, servers and assemblies unregistered")
{
    SampleMachine machine("9.0.0.0");
    REQUIRE(machine.Seed());

    const RepairRun run = RunRepair("-cleanup", RunEnd::ByOk);
    CHECK(run.Outcome() == kQuietEnd);
    REQUIRE(run.windowRead);
    CHECK_FALSE(run.arc.visible);
    CHECK(run.com.caption == "Unregistering COM Servers... Processing:");
    CHECK(run.net.caption == "Unregistering .NET Assemblies... Processing:");
    CHECK(run.com.bar == 100);
    CHECK(run.com.status == 1);
    CHECK(run.net.bar == 100);
    CHECK(run.net.status == 1);

    // The side-by-side utilities in the sweep, then again last.
    for (const std::string server : {"AsmBinder.dll", "ComBridge.dll", "QexCore.dll", "QexMap.dll", "QexViewer.ocx"}) {
        CAPTURE(server);
        CHECK(UnregistrationCount(server) == (server == "AsmBinder.dll" || server == "ComBridge.dll" ? 2 : 1));
        CHECK(RegistrationCount(server) == 0);
    }
    // Neither the host nor its raster folder is touched.
    CHECK(UnregistrationCount("RasterCore.dll") == 0);
    CHECK(RegistrationCount("Geometry.dll") == 0);
    CHECK(RasterEnvironmentValue("QEX_HOME") == std::string("C:\\Program Files\\Old Raster\\"));

    const std::vector<std::string> regasm = RegasmRuns();
    REQUIRE(regasm.size() == SampleMachine::Assemblies().size());
    for (const std::string& line : regasm) {
        CAPTURE(line);
        CHECK(line.find("/unregister") != std::string::npos);
        CHECK(line.find("/codebase") == std::string::npos);
    }
    // The cleanup mode ends without the threading-model repair and without AfCore.dll.
    CHECK(ThreadingModelValue() == std::string("Apartment"));
    CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == std::string("AfCore.dll, outdated"));
}

TEST_CASE("\"cleanup\" with another option: no cleanup, no step selected, only the threading model")
{
    for (const char* options : {"-cleanup -silent", "-cleanup -nogui", "-cleanup -unknown"}) {
        CAPTURE(options);
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());

        const bool closesItself = std::string(options) != "-cleanup -unknown";
        const RepairRun run = RunRepair(options, closesItself ? RunEnd::ByItself : RunEnd::ByOk);
        CHECK(run.Outcome() == kQuietEnd);
        if (!closesItself) {
            REQUIRE(run.windowRead);
            CHECK(run.arc.visible);
            CHECK(run.com.caption.find("Unregistering") == std::string::npos);
            CHECK(run.com.bar == 0);
        }
        for (const char* server : {"AsmBinder.dll", "QexCore.dll", "RasterCore.dll", "Geometry.dll"}) {
            CAPTURE(server);
            CHECK(UnregistrationCount(server) == 0);
            CHECK(RegistrationCount(server) == 0);
        }
        CHECK(RegasmRuns().empty());
        CHECK(ThreadingModelValue() == std::string("Both"));
        CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == std::string("AfCore.dll, outdated"));
    }
}

TEST_CASE("\"cleanup\" alone, the side-by-side utility cannot be unregistered: the COM row ends on failure")
{
    // -exit_codes chooses no step: still the cleanup, and its code counts the COM row.
    for (const auto& [options, outcome] : {std::pair{"-cleanup", kQuietEnd},
                                           std::pair{"-cleanup -exit_codes", "exit code 1, no message box"}}) {
        CAPTURE(options);
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());
        REQUIRE(CopyFixture("com_server_fails.dll", SampleMachine::ProductHome() + "bin\\ntx86\\AsmBinder.dll"));

        const RepairRun run = RunRepair(options, RunEnd::ByOk);
        CHECK(run.Outcome() == outcome);
        REQUIRE(run.windowRead);
        CHECK_FALSE(run.arc.visible);
        // 99 and 100 come after the failure; the row still ends on it.
        CHECK(run.com.bar == 100);
        CHECK(run.com.status == 2);
        CHECK(run.com.label == "AsmBinder.dll");
        CHECK(run.net.status == 1);
        CHECK(UnregistrationCount("QexCore.dll") == 1);
        CHECK(RegasmRuns().size() == SampleMachine::Assemblies().size());
    }
}
