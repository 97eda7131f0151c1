// The maker's installations in the real registry of the prefix, and the patch
// products in its real Windows Installer. This process is 32-bit like the
// program, so the keys it creates under HKLM\SOFTWARE land in the view that
// the program reads.
#include "discovery/product.h"
#include "support/bench.h"
#include "support/discovery_packages.h"
#include "support/discovery_text.h"

#include <doctest.h>

#include <string>
#include <vector>

using Text = std::optional<std::string>;
using namespace std::string_literals;

namespace {

// HKLM\SOFTWARE\<top> for one test case: absent before, gone afterwards.
struct Tree : ScopedKey {
    explicit Tree(const char* top) : ScopedKey(HKEY_LOCAL_MACHINE, top)
    {
        REQUIRE_MESSAGE(WasAbsent(), top << " was left behind");
    }
};

std::string Shared(const std::string& version)
{
    return std::string(SharedKey) + "\\" + version;
}

std::string Environment(const std::string& version)
{
    return Shared(version) + "\\Environment";
}

// The shared versions' subkeys, in the order the registry enumerates them.
std::vector<std::string> EnumeratedSharedVersions()
{
    std::vector<std::string> names;
    unique_hkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return names;
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

// Deletes a key created in the other (64-bit) view of the registry.
bool DeleteKey64(const char* subKey)
{
    return RegDeleteKeyExA(HKEY_LOCAL_MACHINE, subKey, KEY_WOW64_64KEY, 0) == ERROR_SUCCESS;
}

} // namespace

TEST_CASE("the latest shared version: no key, or no usable subkey, gives nothing")
{
    Tree torvane("SOFTWARE\\Torvane");
    CHECK(FindLatestSharedVersion() == std::nullopt);

    REQUIRE(torvane.Create(SharedKey));
    CHECK(FindLatestSharedVersion() == std::nullopt);

    for (const char* name : {"current", "QEX", "0.0.0", "0", "-1.0", "0.-5", "...", "x.y"})
        REQUIRE(torvane.Create(Shared(name)));
    CHECK(FindLatestSharedVersion() == std::nullopt);

    REQUIRE(torvane.Create(Shared("0.0.1")));
    CHECK(FindLatestSharedVersion() == Text("0.0.1"));
}

TEST_CASE("the latest shared version is the highest, not the last or the longest")
{
    Tree torvane("SOFTWARE\\Torvane");
    for (const char* name : {"8.6.0", "9.0", "8.7.0", "10 beta", "backup"})
        REQUIRE(torvane.Create(Shared(name)));
    CHECK(FindLatestSharedVersion() == Text("10 beta")); // "10 beta" is 10.0.0

    REQUIRE(torvane.Remove(Shared("10 beta")));
    CHECK(FindLatestSharedVersion() == Text("9.0"));

    REQUIRE(torvane.Create(Shared("8.10")));
    CHECK(FindLatestSharedVersion() == Text("9.0"));
    REQUIRE(torvane.Create(Shared("9.0.1")));
    CHECK(FindLatestSharedVersion() == Text("9.0.1"));
}

TEST_CASE("of versions that compare equal, the one enumerated first stays")
{
    Tree torvane("SOFTWARE\\Torvane");
    for (const char* name : {"8.7", "8.7.0", "8.7.0.5", "8..7"})
        REQUIRE(torvane.Create(Shared(name)));
    const std::vector<std::string> order = EnumeratedSharedVersions();
    REQUIRE(order.size() == 4);
    CHECK(FindLatestSharedVersion() == Text(order.front()));
    // Names, not values: not normalised to 8.7.0.
    CHECK(order.front() == "8..7");

    REQUIRE(torvane.Remove(Shared("8..7")));
    CHECK(FindLatestSharedVersion() == Text("8.7"));
}

TEST_CASE("subkey names too long for the buffer are skipped and enumeration goes on")
{
    Tree torvane("SOFTWARE\\Torvane");
    // Enumerated in name order: 1.0, 10.0.0.00000 (12 characters, 10.0.0 if
    // it were read), 1111...1 (255 characters), 8.7.0, 9.0, 9.00.000001
    // (11 characters, 9.0.1), 99999999999999 (14 characters).
    for (std::string name : {"1.0"s, std::string(255, '1'), "10.0.0.00000"s, "8.7.0"s, "9.0"s, "9.00.000001"s,
                             "99999999999999"s})
        REQUIRE(torvane.Create(Shared(name)));
    const std::vector<std::string> order = EnumeratedSharedVersions();
    REQUIRE(order.size() == 7);
    // The long names sit between valid ones.
    CHECK(order[1] == "10.0.0.00000");
    CHECK(order[2] == std::string(255, '1'));

    // Neither stopped at the first long name (8.7.0 would have been lost),
    // nor read it cut short (10.0.0.0000 would win).
    CHECK(FindLatestSharedVersion() == Text("9.00.000001"));

    REQUIRE(torvane.Remove(Shared("9.00.000001")));
    CHECK(FindLatestSharedVersion() == Text("9.0"));

    // Only long names: nothing.
    for (const char* name : {"1.0", "8.7.0", "9.0"})
        REQUIRE(torvane.Remove(Shared(name)));
    CHECK(FindLatestSharedVersion() == std::nullopt);
}

TEST_CASE("subkey names of every length up to the limit")
{
    Tree torvane("SOFTWARE\\Torvane");
    // "1", "2.", "2.9", "2.99", ...: the longer, the higher. Up to 11
    // characters they fit; from 12 on they are skipped.
    REQUIRE(torvane.Create(Shared("1")));
    for (size_t length = 2; length <= 255; ++length)
        REQUIRE(torvane.Create(Shared("2." + std::string(length - 2, '9'))));
    CHECK(FindLatestSharedVersion() == Text("2.999999999"));
}

TEST_CASE("only the program's view of the registry counts")
{
    Tree torvane("SOFTWARE\\Torvane");
    REQUIRE(torvane.Create(Shared("8.7.0")));
    // The same names in the 64-bit view, which a 32-bit program does not see.
    unique_hkey key;
    REQUIRE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Torvane\\Shared\\9.9", 0, nullptr, 0,
                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, key.put(), nullptr) == ERROR_SUCCESS);
    CHECK(FindLatestSharedVersion() == Text("8.7.0"));
    CHECK(DeleteKey64("SOFTWARE\\Torvane\\Shared\\9.9"));
    CHECK(DeleteKey64("SOFTWARE\\Torvane\\Shared"));
    CHECK(DeleteKey64("SOFTWARE\\Torvane"));
}

TEST_CASE("product home: the version's QEX_HOME, when it is absolute")
{
    Tree torvane("SOFTWARE\\Torvane");
    REQUIRE(torvane.SetString(Environment("8.7.0"), "QEX_HOME", "C:\\Program Files\\Torvane\\QEX\\"));
    REQUIRE(torvane.SetString(Environment("9.0"), "QEX_HOME", ""));
    REQUIRE(torvane.Create(Environment("9.1")));
    REQUIRE(torvane.SetString(Shared("9.2"), "QEX_HOME", "C:\\not here"));
    REQUIRE(torvane.SetString(Environment("8.8"), "QEX_HOME", "Torvane\\QEX\\"));
    REQUIRE(torvane.SetString(Environment("8.9"), "QEX_HOME", "\\\\server\\QEX"));

    CHECK(FindProductHome("8.7.0") == Text("C:\\Program Files\\Torvane\\QEX\\"));
    CHECK(FindProductHome("9.0") == std::nullopt);   // present but empty: no home
    CHECK(FindProductHome("8.8") == std::nullopt);   // relative: no home
    CHECK(FindProductHome("8.9") == Text("\\\\server\\QEX"));
    CHECK(FindProductHome("9.1") == std::nullopt);   // key without the value
    CHECK(FindProductHome("9.2") == std::nullopt);   // no Environment key
    CHECK(FindProductHome("8.7") == std::nullopt);   // key names are not versions
    CHECK(FindProductHome("7.0") == std::nullopt);
    CHECK(FindProductHome(std::nullopt) == std::nullopt);
    CHECK(FindProductHome("") == std::nullopt);

    // The newest version's home, as the worker asks for it.
    CHECK(FindLatestSharedVersion() == Text("9.2"));
    CHECK(FindProductHome(FindLatestSharedVersion()) == std::nullopt);
    REQUIRE(torvane.Remove(Shared("9.2")));
    CHECK(FindProductHome(FindLatestSharedVersion()) == std::nullopt);
    REQUIRE(torvane.Remove(Shared("9.1")));
    CHECK(FindProductHome(FindLatestSharedVersion()) == std::nullopt);
    REQUIRE(torvane.Remove(Shared("9.0")));
    CHECK(FindProductHome(FindLatestSharedVersion()) == Text("\\\\server\\QEX"));
}

TEST_CASE("key names beyond 255 characters or holding a zero byte are refused, not cut short")
{
    Tree norvak("SOFTWARE\\NORVAK");
    const std::string prefix = "SOFTWARE\\NORVAK\\LUMERA\\";
    const std::string longest(255 - prefix.size(), '7');
    REQUIRE(norvak.SetString(prefix + longest, "LumeraHome", "C:\\Lumera long"));
    REQUIRE(norvak.SetString(prefix + "8.7", "LumeraHome", "C:\\Lumera 8.7"));

    // Refused although it exists: 256 characters.
    REQUIRE(norvak.SetString(prefix + longest + "7", "LumeraHome", "C:\\Lumera too long"));

    CHECK(FindLumeraHome(longest) == Text("C:\\Lumera long"));
    CHECK(FindLumeraHome(longest + "7") == std::nullopt);
    CHECK(FindLumeraHome(longest + std::string(10000, '7')) == std::nullopt);
    CHECK(FindLumeraHome("8.7\0" "9"s) == std::nullopt);
    CHECK(FindLumeraHome("8.7") == Text("C:\\Lumera 8.7"));

    Tree torvane("SOFTWARE\\Torvane");
    const std::string sharedPrefix = std::string(SharedKey) + "\\";
    const std::string fits(255 - sharedPrefix.size() - std::string("\\Environment").size(), '8');
    REQUIRE(torvane.SetString(Environment(fits), "QEX_HOME", "C:\\QEX long"));
    CHECK(FindProductHome(fits) == Text("C:\\QEX long"));
    CHECK(FindProductHome(fits + "8") == std::nullopt);
    REQUIRE(torvane.SetString(Environment(fits + "8"), "QEX_HOME", "C:\\QEX too long"));
    CHECK(FindProductHome(fits + "8") == std::nullopt);
    CHECK(FindExtensionHome(std::string(300, '9')) == std::nullopt);
}

TEST_CASE("extension home: Mirel, else Codra")
{
    Tree torvane("SOFTWARE\\Torvane");
    const std::string mirel = "SOFTWARE\\Torvane\\Mirel\\9.0";
    const std::string codra = "SOFTWARE\\Torvane\\Codra\\9.0";

    SUBCASE("neither")
    {
        CHECK(FindExtensionHome("9.0") == std::nullopt);
        CHECK_FALSE(IsExtensionInstalled("9.0"));
    }
    SUBCASE("only Codra")
    {
        REQUIRE(torvane.SetString(codra, "InstallDir", "C:\\Codra"));
        CHECK(FindExtensionHome("9.0") == Text("C:\\Codra"));
        CHECK(IsExtensionInstalled("9.0"));
        CHECK_FALSE(IsExtensionInstalled("8.3"));
    }
    SUBCASE("Mirel first")
    {
        REQUIRE(torvane.SetString(mirel, "InstallDir", "C:\\Mirel\\"));
        REQUIRE(torvane.SetString(codra, "InstallDir", "C:\\Codra"));
        CHECK(FindExtensionHome("9.0") == Text("C:\\Mirel\\"));
        CHECK(IsExtensionInstalled("9.0"));
    }
    SUBCASE("a Mirel key without InstallDir lets Codra answer")
    {
        REQUIRE(torvane.SetString(mirel, "Version", "9.0"));
        REQUIRE(torvane.SetString(codra, "InstallDir", "C:\\Codra"));
        CHECK(FindExtensionHome("9.0") == Text("C:\\Codra"));
        REQUIRE(torvane.Remove(codra));
        CHECK(FindExtensionHome("9.0") == std::nullopt);
        CHECK_FALSE(IsExtensionInstalled("9.0"));
    }
    SUBCASE("an empty or relative InstallDir is no home: Codra is asked")
    {
        for (const std::string mirelDir : {"", "Mirel\\", "\\Mirel", "D:Mirel"}) {
            CAPTURE(mirelDir);
            REQUIRE(torvane.SetString(mirel, "InstallDir", mirelDir));
            REQUIRE(torvane.SetString(codra, "InstallDir", "C:\\Codra"));
            CHECK(FindExtensionHome("9.0") == Text("C:\\Codra"));
            REQUIRE(torvane.Remove(codra));
            CHECK(FindExtensionHome("9.0") == std::nullopt);
            CHECK_FALSE(IsExtensionInstalled("9.0"));
        }
    }
    SUBCASE("the version names the key exactly")
    {
        REQUIRE(torvane.SetString("SOFTWARE\\Torvane\\Mirel\\8.3", "InstallDir", "C:\\Mirel 8.3"));
        CHECK(IsExtensionInstalled("8.3"));
        CHECK_FALSE(IsExtensionInstalled("8.3.0"));
        CHECK(FindExtensionHome("8.3") == Text("C:\\Mirel 8.3"));
    }
    SUBCASE("null and empty versions")
    {
        REQUIRE(torvane.SetString("SOFTWARE\\Torvane\\Mirel", "InstallDir", "C:\\Mirel without version"));
        CHECK(FindExtensionHome(std::nullopt) == std::nullopt);
        CHECK(FindExtensionHome("") == std::nullopt);
        CHECK_FALSE(IsExtensionInstalled(std::nullopt));
        CHECK_FALSE(IsExtensionInstalled(""));
    }
}

TEST_CASE("the imaging product's home")
{
    Tree norvak("SOFTWARE\\NORVAK");
    REQUIRE(norvak.SetString("SOFTWARE\\NORVAK\\LUMERA\\8.7", "LumeraHome", "C:\\Program Files\\NORVAK\\LUMERA"));
    REQUIRE(norvak.SetString("SOFTWARE\\NORVAK\\LUMERA\\9.0", "InstallDir", "C:\\elsewhere"));
    REQUIRE(norvak.SetString("SOFTWARE\\NORVAK\\LUMERA", "LumeraHome", "C:\\no version"));
    CHECK(FindLumeraHome("8.7") == Text("C:\\Program Files\\NORVAK\\LUMERA"));
    CHECK(FindLumeraHome("9.0") == std::nullopt);
    CHECK(FindLumeraHome("8.6") == std::nullopt);
    CHECK(FindLumeraHome(std::nullopt) == std::nullopt);
    CHECK(FindLumeraHome("") == std::nullopt);
}

TEST_CASE("values of any type: their bytes up to the first zero, a home when they begin with C:\\")
{
    Tree torvane("SOFTWARE\\Torvane");
    for (const StoredText& row : StoredTexts()) {
        CAPTURE(row.what);
        REQUIRE(torvane.SetRaw(Environment("8.7.0"), "QEX_HOME", row.type, row.bytes.data(),
                               static_cast<DWORD>(row.bytes.size())));
        const bool absolute = row.expected.compare(0, 3, "C:\\") == 0;
        CHECK(FindProductHome("8.7.0") == (absolute ? Text(row.expected) : std::nullopt));
    }
}

TEST_CASE("patch products: none installed")
{
    for (int which = 1; which <= patchPackageCount; ++which)
        REQUIRE_MESSAGE(!IsProductRecorded(PatchProductCode(which)), PatchProductCode(which) << " was left installed");
    CHECK_FALSE(IsPatch1Installed());
    CHECK_FALSE(IsPatch2Installed());
}

TEST_CASE("patch products installed for real, one at a time")
{
    SUBCASE("the first patch")
    {
        ScopedPatchPackage package(1);
        REQUIRE(package.Installed());
        CHECK(IsPatch1Installed());
        CHECK_FALSE(IsPatch2Installed());
    }
    for (int which = 2; which <= patchPackageCount; ++which) {
        SUBCASE(("the second patch's product " + std::to_string(which - 1)).c_str())
        {
            // The third alone is found too: every code is asked until one answers.
            ScopedPatchPackage package(which);
            REQUIRE(package.Installed());
            CHECK(IsPatch2Installed());
            CHECK_FALSE(IsPatch1Installed());
        }
    }
    for (int which = 1; which <= patchPackageCount; ++which)
        CHECK_FALSE(IsProductRecorded(PatchProductCode(which)));
    CHECK_FALSE(IsPatch1Installed());
    CHECK_FALSE(IsPatch2Installed());
}

TEST_CASE("patch products: all installed, then removed")
{
    {
        ScopedPatchPackage first(1), second(2), third(3), fourth(4);
        REQUIRE(first.Installed());
        REQUIRE(fourth.Installed());
        CHECK(IsPatch1Installed());
        CHECK(IsPatch2Installed());
    }
    CHECK_FALSE(IsPatch1Installed());
    CHECK_FALSE(IsPatch2Installed());
}
