// The AfCore.dll synchronisation of the real RepairQEXApps.exe ("sync_afcore"):
// which copy reaches LUMERA for each host version, where, and that LUMERA
// keeps its old library when no complete copy can be made.
#include "options/option_set.h"
#include "support/bench.h"
#include "support/sample_machine.h"
#include "worker/host_repair.h"

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

// An attacker who can write to LUMERA's folder, acting between the program's
// calls: each time the copy writes or copies, the temporary file's name is
// swapped for a hard link to a file outside the installation.
struct Attack {
    std::string folder;
    std::string outside;
    int attempts = 0;
} attack;

void SwapTemporaryForLink()
{
    for (const std::string& name : FindNames(attack.folder + "\\AF*.tmp")) {
        ++attack.attempts;
        const std::string path = attack.folder + "\\" + name;
        if (DeleteFileA(path.c_str()))
            CreateHardLinkA(path.c_str(), attack.outside.c_str(), nullptr);
    }
}

// This executable's import slot of a kernel32 function, which the code under
// test (linked in) calls through; null when nothing here imports it.
void** ImportSlot(const char* function)
{
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports); module->Name; ++module) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + module->Name), "kernel32.dll") != 0)
            continue;
        auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
        for (; name->u1.AddressOfData; ++name, ++slot)
            if (!IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) &&
                lstrcmpA(reinterpret_cast<char*>(
                             reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name),
                         function) == 0)
                return reinterpret_cast<void**>(&slot->u1.Function);
    }
    return nullptr;
}

// Points an import slot at a hook while the owner lives.
struct ImportHook {
    void** slot;
    void* original;
    ImportHook(const char* function, void* hook) : slot(ImportSlot(function)), original(slot ? *slot : nullptr)
    {
        Write(hook);
    }
    ~ImportHook() { Write(original); }
    void Write(void* value) const
    {
        DWORD protection = 0;
        if (slot && VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) {
            *slot = value;
            VirtualProtect(slot, sizeof *slot, protection, &protection);
        }
    }
};

decltype(&CopyFileA) realCopyFile;
decltype(&WriteFile) realWriteFile;

BOOL WINAPI CopyFileThenSwap(const char* from, const char* to, BOOL failIfExists)
{
    SwapTemporaryForLink();
    return realCopyFile(from, to, failIfExists);
}

BOOL WINAPI WriteFileThenSwap(HANDLE file, const void* data, DWORD size, DWORD* written, OVERLAPPED* overlapped)
{
    SwapTemporaryForLink();
    return realWriteFile(file, data, size, written, overlapped);
}

} // namespace

TEST_CASE("the temporary copy's name swapped for a link between the copy's calls: the outside file keeps its bytes")
{
    SampleMachine machine("9.0.0.0");
    REQUIRE(machine.Seed());
    ScratchFolder elsewhere("outside the installation");
    attack = {SampleMachine::LumeraHome() + "Bin\\NTx86", elsewhere.Make("precious.txt"), 0};
    REQUIRE(WriteFileText(attack.outside, "outside the installation"));
    {
        const ImportHook copyHook("CopyFileA", reinterpret_cast<void*>(CopyFileThenSwap));
        const ImportHook writeHook("WriteFile", reinterpret_cast<void*>(WriteFileThenSwap));
        realCopyFile = reinterpret_cast<decltype(&CopyFileA)>(copyHook.original);
        realWriteFile = reinterpret_cast<decltype(&WriteFile)>(writeHook.original);
        SyncAfCore(OptionSet("-sync_afcore"));
    }
    CHECK(attack.attempts > 0);
    CHECK(ReadFileText(attack.outside) == std::string("outside the installation"));
    CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == std::string("AfCore.dll of ArcGIS 9.0.0.0"));
    CHECK(LumeraLibraryFolder() == std::vector<std::string>{"AfCore.dll"});
}

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
