// The AfCore.dll synchronisation of the real RepairQEXApps.exe ("sync_afcore"):
// which copy reaches LUMERA for each host version, where, and that LUMERA
// keeps its old library when no complete copy can be made.
#include "support/bench.h"
#include "support/sample_machine.h"

#include <doctest.h>

namespace {

const char kOutdated[] = "AfCore.dll, outdated";
const char kFromProduct[] = "AfCore.dll of QEX 8.7.0";
// A file of someone else's beside the target, under the name an earlier
// version of the copy used for itself.
const char kNeighbour[] = "AfCore.dll.new";
const char kNeighbourText[] = "not the repair's";

// The names in LUMERA's library folder: a failed copy leaves nothing behind.
std::vector<std::string> LumeraLibraryFolder()
{
    return FindNames(SampleMachine::LumeraHome() + "Bin\\NTx86\\*");
}

// Whether the copy succeeds or fails, the neighbour keeps its content and
// nothing else is left behind.
void SyncAndCheck(const std::string& options, const std::string& expected)
{
    const std::string neighbour = SampleMachine::LumeraHome() + "Bin\\NTx86\\" + kNeighbour;
    REQUIRE(WriteFileText(neighbour, kNeighbourText));
    const RepairRun run = RunRepair(options, RunEnd::ByOk);
    CHECK(run.exitCode == DWORD(0));
    CHECK(run.messageBoxes.empty());
    CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == expected);
    CHECK(ReadFileText(neighbour) == std::string(kNeighbourText));
    CHECK(LumeraLibraryFolder() == std::vector<std::string>{"AfCore.dll", kNeighbour});
}

} // namespace

TEST_CASE("the host version, read as a number, chooses the copy")
{
    struct Case {
        const char* host;
        std::string expected;
    };
    const Case cases[] = {
        {"9.0.0.0", "AfCore.dll of ArcGIS 9.0.0.0"},
        {"9.1", "AfCore.dll of ArcGIS 9.1"},
        {"9.1.0", "AfCore.dll of ArcGIS 9.1.0"}, // 9.1 as a number
        {"8.3.0", kFromProduct},
        {"", kFromProduct}, // no host version at all
        {"9.2", kOutdated},
        {"8.1", kOutdated},
    };
    for (const Case& c : cases) {
        CAPTURE(c.host);
        SampleMachine machine(c.host);
        REQUIRE(machine.Seed());
        SyncAndCheck("-sync_afcore", c.expected);
    }
}

TEST_CASE("directory options: the source from \"arcgis_home\" or \"qex_home\", the target from \"lumera_home\"")
{
    SUBCASE("host 9.0.0.0 with \"arcgis_home\": a backslash is inserted after the home even when it ends with one")
    {
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());
        ScratchFolder other("other host");
        REQUIRE(WriteFileText(other.Make("Bin\\AfCore.dll"), "AfCore.dll of another host"));
        SyncAndCheck("-sync_afcore -arcgis_home:\"" + other.Path() + "\"", "AfCore.dll of another host");
    }
    SUBCASE("host 8.3.0 with \"qex_home\": no backslash inserted after the home")
    {
        SampleMachine machine("8.3.0");
        REQUIRE(machine.Seed());
        ScratchFolder other("other product");
        REQUIRE(WriteFileText(other.Make("Archome\\NTx86\\Bin\\AfCore.dll"), "AfCore.dll of another product"));
        // The value ends with the backslash that the path needs; unquoted, as the short form has no space.
        char shortPath[MAX_PATH] = {};
        REQUIRE(GetShortPathNameA(other.Path().c_str(), shortPath, MAX_PATH) > 0);
        CHECK(std::string(shortPath).find(' ') == std::string::npos);
        SyncAndCheck("-sync_afcore -qex_home:" + std::string(shortPath) + "\\", "AfCore.dll of another product");
    }
    SUBCASE("\"lumera_home\" without a trailing backslash reaches the folder, not a sibling glued to its name")
    {
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());
        const std::string home = SampleMachine::LumeraHome();
        const std::string withoutBackslash = home.substr(0, home.size() - 1);
        const std::string glued = withoutBackslash + "Bin\\NTx86\\AfCore.dll";
        REQUIRE(CreateFolders(withoutBackslash + "Bin\\NTx86"));
        REQUIRE(WriteFileText(glued, "a sibling's"));
        SyncAndCheck("-sync_afcore -lumera_home:\"" + withoutBackslash + "\"", "AfCore.dll of ArcGIS 9.0.0.0");
        CHECK(ReadFileText(glued) == std::string("a sibling's"));
        RemoveTree(withoutBackslash + "Bin");
    }
    SUBCASE("an empty or relative LUMERA home never reaches the current folder unless typed as relative")
    {
        struct Case {
            const char* options;
            const char* storedHome; // the registry's "LumeraHome", or null to keep the sample's
            bool canaryReplaced;    // the Bin\NTx86\AfCore.dll below the run's current folder
        };
        const Case cases[] = {
            {"-sync_afcore", "", false},
            {"-sync_afcore", "Lumera\\", false}, // relative in the registry: no home
            {"-sync_afcore -lumera_home:\"\"", nullptr, false},
            {"-sync_afcore -lumera_home:.", nullptr, true}, // typed: made absolute against the current folder
        };
        for (const Case& c : cases) {
            const std::string options = c.options;
            const std::string storedHome = c.storedHome ? c.storedHome : "(the sample's)";
            CAPTURE(options);
            CAPTURE(storedHome);
            SampleMachine machine("9.0.0.0");
            REQUIRE(machine.Seed());
            ScopedKey lumera(HKEY_LOCAL_MACHINE, "SOFTWARE\\NORVAK\\LUMERA\\8.7");
            if (c.storedHome)
                REQUIRE(lumera.SetString("LumeraHome", c.storedHome));
            ScratchFolder current("current");
            const std::string canary = current.Make("Bin\\NTx86\\AfCore.dll");
            REQUIRE(WriteFileText(canary, "canary"));
            REQUIRE(WriteFileText(current.Make("Lumera\\Bin\\NTx86\\AfCore.dll"), "canary"));

            const RepairRun run = RunRepair(c.options, RunEnd::ByOk, nullptr, {"", current.Path(), {}});
            CHECK(run.exitCode == DWORD(0));
            CHECK(ReadFileText(canary) ==
                  std::string(c.canaryReplaced ? "AfCore.dll of ArcGIS 9.0.0.0" : "canary"));
            CHECK(ReadFileText(current.Path() + "\\Lumera\\Bin\\NTx86\\AfCore.dll") == std::string("canary"));
            CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == std::string(kOutdated));
        }
    }
}

TEST_CASE("no complete copy: LUMERA keeps its old AfCore.dll")
{
    SUBCASE("host 9.0.0.0, the host's AfCore.dll missing")
    {
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());
        REQUIRE(DeleteFileA(SampleMachine::HostAfCore().c_str()));
        SyncAndCheck("-sync_afcore", kOutdated);
    }
    SUBCASE("host 8.3.0, the product's AfCore.dll missing")
    {
        SampleMachine machine("8.3.0");
        REQUIRE(machine.Seed());
        REQUIRE(DeleteFileA(SampleMachine::ProductAfCore().c_str()));
        SyncAndCheck("-sync_afcore", kOutdated);
    }
    SUBCASE("host 9.0.0.0, the host's AfCore.dll held open with no sharing")
    {
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());
        unique_file held(CreateFileA(SampleMachine::HostAfCore().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        REQUIRE(held);
        SyncAndCheck("-sync_afcore", kOutdated);
    }
    SUBCASE("host 9.0.0.0, a folder named AfCore.dll in the host's place")
    {
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());
        REQUIRE(DeleteFileA(SampleMachine::HostAfCore().c_str()));
        REQUIRE(CreateFolders(SampleMachine::HostAfCore()));
        SyncAndCheck("-sync_afcore", kOutdated);
    }
}
