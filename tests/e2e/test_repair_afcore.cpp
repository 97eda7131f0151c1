// The AfCore.dll synchronisation ("sync_afcore"): which copy reaches LUMERA
// for each host version, where, that LUMERA keeps its old library when no
// complete copy can be made, and gets the copy by the next restart when its
// library is in use. The copy runs in this process, with and without the
// calls that Windows XP lacks; one run of the real RepairQEXApps.exe shows
// that the option reaches it.
#include "common/file_copy.h"
#include "options/option_set.h"
#include "support/bench.h"
#include "support/sample_machine.h"
#include "worker/host_repair.h"

#include <winternl.h>

#include <doctest.h>

#include <algorithm>
#include <memory>
#include <new>

namespace {

const char kOutdated[] = "AfCore.dll, outdated";
const char kFromProduct[] = "AfCore.dll of QEX 8.7.0";
const char kFromHost[] = "AfCore.dll of ArcGIS 9.0.0.0";
// Windows XP's: no SetFileInformationByHandle.
const FileCalls kXpCalls{};
// A file of someone else's beside the target, under the name an earlier
// version of the copy used for itself.
const char kNeighbour[] = "AfCore.dll.new";
const char kNeighbourText[] = "not the repair's";

// The names in LUMERA's library folder, sorted: a failed copy leaves nothing behind.
std::vector<std::string> LumeraLibraryFolder()
{
    std::vector<std::string> names = FindNames(SampleMachine::LumeraHome() + "Bin\\NTx86\\*");
    std::sort(names.begin(), names.end());
    return names;
}

// The copy as the worker makes it, in this process.
void Sync(const std::string& options)
{
    SyncAfCore(OptionSet(options.c_str()));
}

// The copy that the worker makes on host 9.0.0.0, with the calls given.
Replacement CopyFromHost(const FileCalls& calls)
{
    return ReplaceWithCompleteCopy(SampleMachine::HostAfCore(), SampleMachine::LumeraAfCore(), calls);
}

std::optional<ULONGLONG> WriteTime(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    return (ULONGLONG(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// The file's index on its volume: a copy moved in over the target brings a
// new one, a copy written over the target keeps the old.
std::optional<ULONGLONG> FileIndex(const std::string& path)
{
    unique_file file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !GetFileInformationByHandle(file.get(), &information))
        return std::nullopt;
    return (ULONGLONG(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
}

// Whether the copy succeeds or fails, the neighbour keeps its content and
// nothing else is left behind; a replaced library is a new file, a kept one
// the same file.
void SyncAndCheck(const std::function<void()>& copy, const std::string& expected)
{
    const std::string neighbour = SampleMachine::LumeraHome() + "Bin\\NTx86\\" + kNeighbour;
    REQUIRE(WriteFileText(neighbour, kNeighbourText));
    const std::optional<ULONGLONG> before = FileIndex(SampleMachine::LumeraAfCore());
    REQUIRE(before.has_value());
    copy();
    CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == expected);
    if (expected == kOutdated)
        CHECK(FileIndex(SampleMachine::LumeraAfCore()) == before);
    else
        CHECK(FileIndex(SampleMachine::LumeraAfCore()) != before); // moved in, not written over the old
    CHECK(ReadFileText(neighbour) == std::string(kNeighbourText));
    CHECK(LumeraLibraryFolder() == std::vector<std::string>{"AfCore.dll", kNeighbour});
}

void SyncAndCheck(const std::string& options, const std::string& expected)
{
    SyncAndCheck([&] { Sync(options); }, expected);
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
        Sync("-sync_afcore");
    }
    CHECK(attack.attempts > 0);
    CHECK(ReadFileText(attack.outside) == std::string("outside the installation"));
    CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == std::string(kFromHost));
    CHECK(LumeraLibraryFolder() == std::vector<std::string>{"AfCore.dll"});
}

TEST_CASE("the host version, read as a number, chooses the copy")
{
    struct Case {
        const char* host;
        std::string expected;
        bool endToEnd;
    };
    const Case cases[] = {
        {"9.0.0.0", "AfCore.dll of ArcGIS 9.0.0.0", true},
        {"9.1", "AfCore.dll of ArcGIS 9.1", false},
        {"9.1.0", "AfCore.dll of ArcGIS 9.1.0", false}, // 9.1 as a number
        {"8.3.0", kFromProduct, false},
        {"", kFromProduct, false}, // no host version at all
        {"9.2", kOutdated, false},
        {"8.1", kOutdated, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.host);
        CAPTURE(c.endToEnd);
        SampleMachine machine(c.host);
        REQUIRE(machine.Seed());
        SyncAndCheck(
            [&] {
                if (c.endToEnd)
                    CHECK(RunRepair("-sync_afcore", RunEnd::ByOk).Outcome() == kQuietEnd);
                else
                    Sync("-sync_afcore");
            },
            c.expected);
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
        const std::string shortPath = ShortPath(other.Path());
        REQUIRE(shortPath.find(' ') == std::string::npos);
        SyncAndCheck("-sync_afcore -qex_home:" + shortPath + "\\", "AfCore.dll of another product");
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
    SUBCASE("an extended-length \"lumera_home\" (\\\\?\\C:\\...) reaches the folder")
    {
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());
        SyncAndCheck("-sync_afcore -lumera_home:\"\\\\?\\" + SampleMachine::LumeraHome() + "\"", kFromHost);
    }
    SUBCASE("an empty, relative or device LUMERA home never reaches a folder unless typed as relative")
    {
        const std::string device = "\\\\.\\" + SampleMachine::LumeraHome();
        struct Case {
            std::string options;
            const char* storedHome; // the registry's "LumeraHome", or null to keep the sample's
            bool canaryReplaced;    // the Bin\NTx86\AfCore.dll below the run's current folder
        };
        const Case cases[] = {
            {"-sync_afcore", "", false},
            {"-sync_afcore", "Lumera\\", false}, // relative in the registry: no home
            {"-sync_afcore -lumera_home:\"\"", nullptr, false},
            {"-sync_afcore -lumera_home:.", nullptr, true}, // typed: made absolute against the current folder
            {"-sync_afcore", device.c_str(), false},          // the devices' namespace, though it leads there
            {"-sync_afcore -lumera_home:\"" + device + "\"", nullptr, false},
        };
        for (const Case& c : cases) {
            CAPTURE(c.options);
            CAPTURE(c.storedHome);
            SampleMachine machine("9.0.0.0");
            REQUIRE(machine.Seed());
            if (c.storedHome)
                REQUIRE(SetString(HKEY_LOCAL_MACHINE, LumeraKey, "LumeraHome", c.storedHome));
            ScratchFolder current("current");
            const std::string canary = current.Make("Bin\\NTx86\\AfCore.dll");
            REQUIRE(WriteFileText(canary, "canary"));
            REQUIRE(WriteFileText(current.Make("Lumera\\Bin\\NTx86\\AfCore.dll"), "canary"));
            {
                const ScopedCurrentFolder inCurrent(current.Path());
                REQUIRE(inCurrent.Entered());
                Sync(c.options);
            }
            CHECK(ReadFileText(canary) ==
                  std::string(c.canaryReplaced ? "AfCore.dll of ArcGIS 9.0.0.0" : "canary"));
            CHECK(ReadFileText(current.Path() + "\\Lumera\\Bin\\NTx86\\AfCore.dll") == std::string("canary"));
            CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == std::string(kOutdated));
        }
    }
}

TEST_CASE("no complete copy: LUMERA keeps its old AfCore.dll")
{
    for (const char* name : {"AfCore.dll source missing (host)", "AfCore.dll source missing (product)",
                             "AfCore.dll source held open, share mode 0 (host)", "AfCore.dll source is a folder"}) {
        CAPTURE(name);
        const SpoiledMachine* spoiled = SpoiledMachineNamed(name);
        REQUIRE(spoiled != nullptr);
        SampleMachine machine(spoiled->host);
        REQUIRE(machine.Seed());
        Spoiling spoiling;
        REQUIRE(spoiled->spoil(spoiling));
        const unique_file held = HoldOpen(spoiling.heldOpen);
        REQUIRE(spoiling.heldOpen.empty() != static_cast<bool>(held));
        SyncAndCheck("-sync_afcore", kOutdated);
    }
}

namespace {

BOOL WINAPI FlushRunsOutOfMemory(HANDLE)
{
    throw std::bad_alloc();
}

// MoveFileExA refusing the moves that refuseMove picks, as Windows refuses
// them (access denied); and the kernel's rename refused, as over a library in use.
decltype(&MoveFileExA) realMoveFileEx;
bool (*refuseMove)(const char* to, DWORD flags);

BOOL WINAPI MoveFileExRefusing(const char* from, const char* to, DWORD flags)
{
    if (!refuseMove(to, flags))
        return realMoveFileEx(from, to, flags);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

NTSTATUS NTAPI RenameRefused(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS)
{
    return static_cast<NTSTATUS>(0xC0000022L); // STATUS_ACCESS_DENIED
}

} // namespace

TEST_CASE("with SetFileInformationByHandle and without it (Windows XP): the copy in place, or none of ours left")
{
    for (const FileCalls* calls : {&SystemFileCalls(), &kXpCalls}) {
        CAPTURE(calls == &kXpCalls);
        SampleMachine machine("9.0.0.0");
        REQUIRE(machine.Seed());
        SyncAndCheck([&] { CHECK(CopyFromHost(*calls).how == Replaced::Now); }, kFromHost);

        REQUIRE(WriteFileText(SampleMachine::LumeraAfCore(), kOutdated));
        {
            // Memory runs out once the copy exists: the exception goes on, the copy goes.
            const ImportHook flush("FlushFileBuffers", reinterpret_cast<void*>(FlushRunsOutOfMemory));
            SyncAndCheck([&] { CHECK_THROWS_AS(CopyFromHost(*calls), std::bad_alloc); }, kOutdated);
        }
        {
            // Refused over the target, and again once the old one is renamed aside: it comes back.
            const ImportHook move("MoveFileExA", reinterpret_cast<void*>(MoveFileExRefusing));
            const ImportHook rename("NtSetInformationFile", reinterpret_cast<void*>(RenameRefused));
            realMoveFileEx = reinterpret_cast<decltype(&MoveFileExA)>(move.original);
            refuseMove = [](const char*, DWORD flags) { return (flags & MOVEFILE_REPLACE_EXISTING) != 0; };
            SyncAndCheck([&] { CHECK(CopyFromHost(*calls).how == Replaced::Not); }, kOutdated);
        }

        // A folder in the target's place refuses the rename, and is no library in use.
        Spoiling spoiling;
        REQUIRE(SpoiledMachineNamed("AfCore.dll target is a folder")->spoil(spoiling));
        CHECK(CopyFromHost(*calls).how == Replaced::Not);
        CHECK(ReadFileText(SampleMachine::LumeraAfCore() + "\\keep.txt") == std::string("inside the folder"));
        CHECK(LumeraLibraryFolder() == std::vector<std::string>{"AfCore.dll", kNeighbour});
    }
}

TEST_CASE("LUMERA's AfCore.dll held by another process: the copy in its place now or at the restart, nothing else after")
{
    struct Case {
        const char* holder;
        DWORD shareMode;
        bool deletionRefused; // the old one cannot be marked for deletion at restart
        Replaced expected;
        const char* untilRestart; // the library until the restart; after it, the copy
    };
    const Case cases[] = {
        // As a loaded library is held: it can be renamed aside.
        {"sharing delete", FILE_SHARE_READ | FILE_SHARE_DELETE, false, Replaced::OldAtRestart, kFromHost},
        {"sharing delete, deletion refused", FILE_SHARE_READ | FILE_SHARE_DELETE, true, Replaced::Now, kFromHost},
        {"not sharing delete", FILE_SHARE_READ, false, Replaced::AtRestart, kOutdated},
    };
    for (const FileCalls* calls : {&SystemFileCalls(), &kXpCalls})
        for (const Case& c : cases) {
            CAPTURE(calls == &kXpCalls);
            CAPTURE(c.holder);
            SampleMachine machine("9.0.0.0");
            REQUIRE(machine.Seed());
            std::unique_ptr<RunningProgram> holder = HoldInAnotherProcess(SampleMachine::LumeraAfCore(), c.shareMode);
            REQUIRE(holder);
            std::optional<ImportHook> refusal;
            if (c.deletionRefused) {
                refusal.emplace("MoveFileExA", reinterpret_cast<void*>(MoveFileExRefusing));
                realMoveFileEx = reinterpret_cast<decltype(&MoveFileExA)>(refusal->original);
                refuseMove = [](const char* to, DWORD) { return to == nullptr; };
            }
            const Replacement replacement = CopyFromHost(*calls);
            refusal.reset();
            CHECK(replacement.how == c.expected);
            CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == std::string(c.untilRestart));
            // Beside it, under the name reported: the old one, or the copy that waits.
            const std::vector<std::string> untilRestart = LumeraLibraryFolder();
            REQUIRE(untilRestart.size() == 2);
            if (!c.deletionRefused)
                CHECK(untilRestart.front() == replacement.text);

            holder.reset();
            REQUIRE(RestartPrefix());
            CHECK(ReadFileText(SampleMachine::LumeraAfCore()) == std::string(kFromHost));
            // With the source's time of last writing.
            CHECK(WriteTime(SampleMachine::LumeraAfCore()) == WriteTime(SampleMachine::HostAfCore()));
            CHECK(LumeraLibraryFolder() == (c.deletionRefused ? untilRestart : std::vector<std::string>{"AfCore.dll"}));
        }
}
