// Finding the host's home, version and raster folder in the real registry of
// the prefix. This process is 32-bit like the program, so the keys it creates
// under HKLM\SOFTWARE land in the same (Wow6432Node) view that the program reads.
#include "discovery/host.h"
#include "support/bench.h"
#include "support/discovery_text.h"

#include <doctest.h>

#include <string>

using Text = std::optional<std::string>;
using namespace std::string_literals;

namespace {

const char desktopKey[] = "SOFTWARE\\ESRI\\ArcInfo\\Desktop\\8.0";

// HKLM\SOFTWARE\ESRI for one test case: absent before, gone afterwards.
struct EsriTree : ScopedKey {
    EsriTree() : ScopedKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\ESRI")
    {
        REQUIRE_MESSAGE(WasAbsent(), "SOFTWARE\\ESRI was left behind");
    }
};

// A folder that holds bin\AfCore.dll, and one that does not.
struct HostFolders {
    ScratchFolder host{"host home"};
    ScratchFolder other{"not a host"};
    HostFolders() { REQUIRE(WriteFileText(host.Make("bin\\AfCore.dll"), "MZ")); }
};

// Another program rewriting a value between the reader's size query and its
// read: this process's import of RegQueryValueExA points at a stand-in that,
// after each size query, lets the value grow while growths remain.
decltype(&RegQueryValueExA) realQueryValue = nullptr;
int growthsLeft = 0;
int sizeQueries = 0;

LONG WINAPI QueryValueThatGrows(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
{
    const LONG status = realQueryValue(key, name, reserved, type, data, size);
    if (!data && name && lstrcmpA(name, "RealVersion") == 0) {
        ++sizeQueries;
        if (growthsLeft > 0) {
            --growthsLeft;
            const std::string grown = std::string(*size + 1, '9');
            SetString(HKEY_LOCAL_MACHINE, HostKey, "RealVersion", grown);
        }
    }
    return status;
}

} // namespace

TEST_CASE("a host directory holds bin\\AfCore.dll")
{
    HostFolders folders;
    CHECK(IsHostDirectory(folders.host.Path()));
    // The separator is always inserted: C:\x\ is tested as C:\x\\bin\AfCore.dll.
    CHECK(IsHostDirectory(folders.host.Path() + "\\"));
    CHECK_FALSE(IsHostDirectory(folders.other.Path()));
    CHECK_FALSE(IsHostDirectory(folders.host.Path() + "\\bin"));
    CHECK_FALSE(IsHostDirectory(folders.host.Path() + "\\missing"));
    CHECK_FALSE(IsHostDirectory(""));
    // A zero byte would test another folder: never a host directory.
    CHECK_FALSE(IsHostDirectory(folders.host.Path() + "\0tail"s));

    // Any directory entry of that name counts, a folder as well as a file.
    CHECK(CreateFolders(folders.other.Path() + "\\bin\\AfCore.dll"));
    CHECK(IsHostDirectory(folders.other.Path()));
}

TEST_CASE("the host home: the first key that names a host directory")
{
    EsriTree esri;
    HostFolders folders;

    SUBCASE("neither key gives nothing")
    {
        CHECK(FindHostHome() == std::nullopt);
    }
    SUBCASE("the first key is taken when it names a host directory")
    {
        REQUIRE(esri.SetString(HostKey, "InstallDir", folders.host.Path()));
        REQUIRE(esri.SetString(desktopKey, "InstallDir", folders.other.Path()));
        CHECK(FindHostHome() == Text(folders.host.Path()));
    }
    SUBCASE("a first key naming no host directory falls back to the second")
    {
        REQUIRE(esri.SetString(HostKey, "InstallDir", folders.other.Path()));
        REQUIRE(esri.SetString(desktopKey, "InstallDir", folders.host.Path()));
        CHECK(FindHostHome() == Text(folders.host.Path()));
    }
    SUBCASE("a first key without InstallDir falls back to the second")
    {
        REQUIRE(esri.SetString(HostKey, "RealVersion", "9.1"));
        REQUIRE(esri.SetString(desktopKey, "InstallDir", folders.host.Path()));
        CHECK(FindHostHome() == Text(folders.host.Path()));
    }
    SUBCASE("only the second key")
    {
        REQUIRE(esri.SetString(desktopKey, "InstallDir", folders.host.Path()));
        CHECK(FindHostHome() == Text(folders.host.Path()));
    }
    SUBCASE("neither names a host directory")
    {
        REQUIRE(esri.SetString(HostKey, "InstallDir", folders.other.Path()));
        REQUIRE(esri.SetString(desktopKey, "InstallDir", folders.other.Path() + "\\"));
        CHECK(FindHostHome() == std::nullopt);
    }
    SUBCASE("an empty or relative InstallDir is no host directory, wherever the process stands")
    {
        {
            const ScopedCurrentFolder current(folders.host.Path());
            REQUIRE(current.Entered());
            for (const char* relative : {"", ".", ".\\", "bin\\.."}) {
                const std::string installDir = relative;
                CAPTURE(installDir);
                REQUIRE(esri.SetString(HostKey, "InstallDir", installDir));
                CHECK(FindHostHome() == std::nullopt);
            }
        }
        REQUIRE(esri.SetString(desktopKey, "InstallDir", folders.host.Path()));
        CHECK(FindHostHome() == Text(folders.host.Path()));
    }
    SUBCASE("a trailing backslash is kept as stored")
    {
        REQUIRE(esri.SetString(HostKey, "InstallDir", folders.host.Path() + "\\"));
        CHECK(FindHostHome() == Text(folders.host.Path() + "\\"));
    }
    SUBCASE("nothing is expanded")
    {
        // An expandable string is read as stored: this one names no folder.
        const std::string stored = "%TEMP%\\qex host";
        REQUIRE(esri.SetRaw(HostKey, "InstallDir", REG_EXPAND_SZ, stored.c_str(),
                            static_cast<DWORD>(stored.size() + 1)));
        CHECK(FindHostHome() == std::nullopt);
    }
}

TEST_CASE("the host version: the second key only when the first is missing")
{
    EsriTree esri;

    SUBCASE("no key")
    {
        CHECK(FindHostVersion() == std::nullopt);
    }
    SUBCASE("only the second key")
    {
        REQUIRE(esri.SetString(desktopKey, "RealVersion", "8.3.0"));
        CHECK(FindHostVersion() == Text("8.3.0"));
    }
    SUBCASE("the first key wins")
    {
        REQUIRE(esri.SetString(HostKey, "RealVersion", "9.1"));
        REQUIRE(esri.SetString(desktopKey, "RealVersion", "8.3.0"));
        CHECK(FindHostVersion() == Text("9.1"));
    }
    SUBCASE("a first key without RealVersion gives nothing, although the second has one")
    {
        REQUIRE(esri.Create(HostKey));
        REQUIRE(esri.SetString(desktopKey, "RealVersion", "8.3.0"));
        CHECK(FindHostVersion() == std::nullopt);
    }
    SUBCASE("the second key without RealVersion")
    {
        REQUIRE(esri.Create(desktopKey));
        CHECK(FindHostVersion() == std::nullopt);
    }
    SUBCASE("an empty version is present")
    {
        REQUIRE(esri.SetString(HostKey, "RealVersion", ""));
        CHECK(FindHostVersion() == Text(""));
    }
    SUBCASE("given as stored")
    {
        REQUIRE(esri.SetString(HostKey, "RealVersion", " 9.1 "));
        CHECK(FindHostVersion() == Text(" 9.1 "));
    }
}

TEST_CASE("home from the second key while the version is null")
{
    EsriTree esri;
    HostFolders folders;
    REQUIRE(esri.Create(HostKey));
    REQUIRE(esri.SetString(desktopKey, "InstallDir", folders.host.Path()));
    REQUIRE(esri.SetString(desktopKey, "RealVersion", "8.3.0"));
    CHECK(FindHostHome() == Text(folders.host.Path()));
    CHECK(FindHostVersion() == std::nullopt);
    CHECK(FindRasterHome() == std::nullopt);
}

TEST_CASE("the raster environment key decides whenever it exists")
{
    EsriTree esri;
    HostFolders folders;
    REQUIRE(esri.SetString(HostKey, "InstallDir", folders.host.Path()));

    for (const std::string version : {"9.1", "9.0.0.0", "8.3.0", "7.2", ""}) {
        CAPTURE(version);
        REQUIRE(esri.SetString(HostKey, "RealVersion", version));

        REQUIRE(esri.Create(RasterEnvironmentKey));
        CHECK(FindRasterHome() == std::nullopt);

        REQUIRE(esri.SetString(RasterEnvironmentKey, "LUMERA_HOME", "D:\\Lumera"));
        CHECK(FindRasterHome() == Text("D:\\Lumera"));

        REQUIRE(esri.SetString(RasterEnvironmentKey, "QEX_HOME", "D:\\QEX\\"));
        CHECK(FindRasterHome() == Text("D:\\QEX\\"));

        // An empty or relative home is none: LUMERA_HOME answers, or nothing.
        for (const std::string notAHome : {"", "Raster\\", "\\Raster"}) {
            CAPTURE(notAHome);
            REQUIRE(esri.SetString(RasterEnvironmentKey, "QEX_HOME", notAHome));
            CHECK(FindRasterHome() == Text("D:\\Lumera"));
            REQUIRE(esri.SetString(RasterEnvironmentKey, "LUMERA_HOME", notAHome));
            CHECK(FindRasterHome() == std::nullopt);
            REQUIRE(esri.SetString(RasterEnvironmentKey, "LUMERA_HOME", "D:\\Lumera"));
        }

        REQUIRE(esri.Remove(RasterEnvironmentKey));
    }
}

TEST_CASE("no host version: no raster home, whatever the raster key holds")
{
    EsriTree esri;
    REQUIRE(esri.SetString(RasterEnvironmentKey, "QEX_HOME", "D:\\QEX"));
    CHECK(FindRasterHome() == std::nullopt);
    REQUIRE(esri.SetString(desktopKey, "RealVersion", "9.1"));
    CHECK(FindRasterHome() == Text("D:\\QEX"));
}

TEST_CASE("raster home by the host version, without the raster environment key")
{
    EsriTree esri;
    HostFolders folders;

    SUBCASE("8.3.0: the host home's Raster folder, the backslash always inserted")
    {
        REQUIRE(esri.SetString(HostKey, "RealVersion", "8.3.0"));
        REQUIRE(esri.SetString(HostKey, "InstallDir", folders.host.Path() + "\\"));
        CHECK(FindRasterHome() == Text(folders.host.Path() + "\\\\Raster\\"));
        REQUIRE(esri.SetString(HostKey, "InstallDir", folders.host.Path()));
        CHECK(FindRasterHome() == Text(folders.host.Path() + "\\Raster\\"));
    }
    SUBCASE("8.3.0 with a home from the second key")
    {
        REQUIRE(esri.SetString(HostKey, "RealVersion", "8.3.0"));
        REQUIRE(esri.SetString(desktopKey, "InstallDir", folders.host.Path()));
        CHECK(FindRasterHome() == Text(folders.host.Path() + "\\Raster\\"));
    }
    SUBCASE("8.3.0 without a host home")
    {
        REQUIRE(esri.SetString(HostKey, "RealVersion", "8.3.0"));
        CHECK(FindRasterHome() == std::nullopt);
        REQUIRE(esri.SetString(HostKey, "InstallDir", folders.other.Path()));
        CHECK(FindRasterHome() == std::nullopt);
    }
    SUBCASE("9.1 and 9.0.0.0: the common files folder, joined with one backslash")
    {
        ScopedValue commonFiles(HKEY_LOCAL_MACHINE, CurrentVersionKey, "CommonFilesDir");
        REQUIRE(commonFiles.Saved());
        // The common folder alone, before any host version gives a raster home.
        REQUIRE(commonFiles.SetString("E:\\Shared\\"));
        CHECK(CommonRasterHome() == "E:\\Shared\\ESRI\\Raster\\");
        REQUIRE(commonFiles.SetString("\\Common Files"));
        CHECK(CommonRasterHome() == DefaultRasterHome);
        for (const char* version : {"9.1", "9.0.0.0"}) {
            CAPTURE(version);
            REQUIRE(esri.SetString(HostKey, "RealVersion", version));
            REQUIRE(commonFiles.SetString("C:\\Program Files\\Common Files"));
            CHECK(FindRasterHome() == Text("C:\\Program Files\\Common Files\\ESRI\\Raster\\"));
            REQUIRE(commonFiles.SetString("E:\\Shared\\"));
            CHECK(FindRasterHome() == Text("E:\\Shared\\ESRI\\Raster\\"));
            // No value, an empty or a relative one: the standard folder.
            REQUIRE(commonFiles.Delete());
            CHECK(FindRasterHome() == Text(DefaultRasterHome));
            for (const std::string notAFolder : {"", "Common Files", "\\Common Files"}) {
                CAPTURE(notAFolder);
                REQUIRE(commonFiles.SetString(notAFolder));
                CHECK(FindRasterHome() == Text(DefaultRasterHome));
            }
        }
    }
    SUBCASE("9.1 with the prefix's own common files folder, from the program's view")
    {
        REQUIRE(esri.SetString(HostKey, "RealVersion", "9.1"));
        const std::optional<RawValue> stored = ReadRawValue(HKEY_LOCAL_MACHINE, CurrentVersionKey, "CommonFilesDir");
        REQUIRE(stored.has_value());
        const std::string commonFiles = stored->bytes.c_str();
        CHECK(FindRasterHome() == Text(commonFiles + "\\ESRI\\Raster\\"));
    }
    SUBCASE("versions match as whole strings only")
    {
        for (const char* version : {"9.1.0", "9.0", "9.0.0", "9.1 ", " 9.1", "8.3", "8.3.0.0", "9.2", "10.0", "",
                                    "9,1"}) {
            CAPTURE(version);
            REQUIRE(esri.SetString(HostKey, "InstallDir", folders.host.Path()));
            REQUIRE(esri.SetString(HostKey, "RealVersion", version));
            CHECK(FindRasterHome() == std::nullopt);
        }
    }
}

TEST_CASE("9.1 without the CurrentVersion key: the standard folder")
{
    ScopedEmptyMachineKey emptyMachine;
    REQUIRE(emptyMachine.Active());
    ScopedKey esri(HKEY_LOCAL_MACHINE, "SOFTWARE\\ESRI");
    REQUIRE(!KeyExists(HKEY_LOCAL_MACHINE, CurrentVersionKey));
    REQUIRE(esri.SetString(HostKey, "RealVersion", "9.1"));
    CHECK(FindRasterHome() == Text(DefaultRasterHome));
    REQUIRE(esri.SetString(HostKey, "RealVersion", "9.0.0.0"));
    CHECK(FindRasterHome() == Text(DefaultRasterHome));
}

TEST_CASE("values of any type: their bytes up to the first zero")
{
    EsriTree esri;

    SUBCASE("the host version, as each form is stored")
    {
        for (const StoredText& row : StoredTexts()) {
            CAPTURE(row.what);
            REQUIRE(esri.SetRaw(HostKey, "RealVersion", row.type, row.bytes.data(),
                                static_cast<DWORD>(row.bytes.size())));
            CHECK(FindHostVersion() == Text(row.expected));
        }
    }
    SUBCASE("a multi-string version counts by its first string")
    {
        // Without the raster environment key the version decides: read as its
        // first string, "9.1" gives the common files folder; the last string
        // ("9.2") or the whole value would give nothing.
        ScopedValue commonFiles(HKEY_LOCAL_MACHINE, CurrentVersionKey, "CommonFilesDir");
        REQUIRE(commonFiles.SetString("E:\\Shared"));
        const char versions[] = "9.1\0" "9.2\0";
        REQUIRE(esri.SetRaw(HostKey, "RealVersion", REG_MULTI_SZ, versions, sizeof versions));
        CHECK(FindRasterHome() == Text("E:\\Shared\\ESRI\\Raster\\"));
    }
    SUBCASE("a value that grows between the size query and the read is read again at its new size")
    {
        const ImportHook growing("RegQueryValueExA", reinterpret_cast<void*>(QueryValueThatGrows));
        REQUIRE_MESSAGE(growing.slot != nullptr, "this program does not import RegQueryValueExA");
        realQueryValue = reinterpret_cast<decltype(&RegQueryValueExA)>(growing.original);
        REQUIRE(esri.SetString(HostKey, "RealVersion", "9.1"));
        // Grown once, to five '9's (the first size counted the zero): read whole.
        growthsLeft = 1;
        CHECK(FindHostVersion() == Text("99999"));
        // Grown twice, by two characters each time, then left alone.
        growthsLeft = 2;
        CHECK(FindHostVersion() == Text(std::string(9, '9')));
        // Growing at every size query: after a few tries it counts as absent, and the reading ends.
        growthsLeft = 1000;
        sizeQueries = 0;
        CHECK(FindHostVersion() == std::nullopt);
        CHECK(sizeQueries < 10);
        growthsLeft = 0;
    }
    SUBCASE("a raster home of 64 KiB")
    {
        const std::string big = "C:\\" + std::string(65533, 'r');
        REQUIRE(esri.SetRaw(RasterEnvironmentKey, "QEX_HOME", REG_BINARY, big.data(), static_cast<DWORD>(big.size())));
        REQUIRE(esri.SetString(HostKey, "RealVersion", "9.1"));
        CHECK(FindRasterHome() == Text(big));
        const std::string bigString = "\\\\" + std::string(65533, 's');
        REQUIRE(esri.SetString(RasterEnvironmentKey, "QEX_HOME", bigString));
        CHECK(FindRasterHome() == Text(bigString));
    }
    SUBCASE("an unterminated directory still passes the host test")
    {
        HostFolders folders;
        const std::string home = folders.host.Path();
        REQUIRE(esri.SetRaw(HostKey, "InstallDir", REG_EXPAND_SZ, home.data(), static_cast<DWORD>(home.size())));
        CHECK(FindHostHome() == Text(home));
    }
}
