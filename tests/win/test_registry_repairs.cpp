// The raster environment and the threading-model repair on the real registry
// of the prefix (32-bit view, as the program sees it).
#include "repair/registry_repairs.h"

#include "discovery/host.h"
#include "support/arc_registry.h"
#include "support/bench.h"

#include <doctest.h>

#include <string>

namespace {

// REG_SZ with the terminator counted: what the repair must have written.
std::string Sz(const std::string& text)
{
    return text + '\0';
}

std::string RawOrAbsent(HKEY root, const char* subKey, const char* name)
{
    std::optional<RawValue> value = ReadRawValue(root, subKey, name);
    if (!value)
        return "(absent)";
    if (value->type != REG_SZ)
        return "(type " + std::to_string(value->type) + ")";
    return value->bytes;
}

std::string Raster(const char* name)
{
    return RawOrAbsent(HKEY_LOCAL_MACHINE, RasterKey, name);
}

std::string Environment(const char* name)
{
    return RawOrAbsent(HKEY_LOCAL_MACHINE, RasterEnvironmentKey, name);
}

// A 9.0.0.0 host with both raster keys in place.
void SeedRasterHost(const ArcMachine& machine)
{
    machine.SetHostVersion(std::string("9.0.0.0"));
    machine.CreateRasterKey();
    machine.CreateRasterEnvironmentKey();
}

void CheckNothingWritten()
{
    CHECK(Raster("QEX") == "(absent)");
    CHECK(Environment("QEX_HOME") == "(absent)");
    CHECK(Environment("LUMERA_HOME") == "(absent)");
    CHECK(Environment("QEX_ARCH") == "(absent)");
    CHECK(Environment("QEX_ARCH_MODE") == "(absent)");
}

} // namespace

TEST_CASE("raster environment: host 9.0.0.0 with Mirel 9.0 gets all five values, Mirel over Codra")
{
    ArcMachine machine;
    SeedRasterHost(machine);
    machine.SetProductHome("8.7.0", "C:\\Torvane\\QEX 8.7");
    machine.SetExtensionHome("Mirel", "9.0", "D:\\Mirel\\");
    machine.SetExtensionHome("Codra", "9.0", "E:\\Codra");

    // A check before the repair: not in place, and nothing written.
    CHECK(WriteRasterEnvironment(StepMode::Verify) == RegistryWrite::Failed);
    CheckNothingWritten();

    WriteRasterEnvironment();

    // The text without its terminator, then the byte count as stored, terminator counted.
    CHECK(ReadString(HKEY_LOCAL_MACHINE, RasterKey, "QEX").value_or("(absent)") ==
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\ESRI\\Raster");
    CHECK(Raster("QEX").size() == 40);
    CHECK(Environment("QEX_HOME") == Sz("D:\\Mirel\\"));
    CHECK(Environment("LUMERA_HOME") == Sz("D:\\Mirel\\"));
    CHECK(ReadString(HKEY_LOCAL_MACHINE, RasterEnvironmentKey, "QEX_ARCH").value_or("(absent)") == "NTx86");
    CHECK(Environment("QEX_ARCH").size() == 6);
    CHECK(Environment("QEX_ARCH_MODE") == std::string(1, '\0'));

    // A second run, as in a full repair, leaves the same values; a check finds them in place.
    WriteRasterEnvironment();
    CHECK(WriteRasterEnvironment(StepMode::Verify) == RegistryWrite::Written);
    CHECK(Environment("QEX_HOME") == Sz("D:\\Mirel\\"));
    CHECK(Raster("QEX").size() == 40);
}

TEST_CASE("raster environment: which directory becomes QEX_HOME")
{
    ArcMachine machine;
    SeedRasterHost(machine);

    SUBCASE("only the 8.7.0 product home: the raster folder among the machine's common files")
    {
        machine.SetProductHome("8.7.0", "C:\\Torvane\\QEX 8.7\\");
        ScopedValue commonFiles(HKEY_LOCAL_MACHINE, CurrentVersionKey, "CommonFilesDir");
        REQUIRE(commonFiles.Saved());
        // A localised Windows, or Program Files (x86): the folder follows the machine.
        const std::optional<std::string> rows[][2] = {
            {std::string("D:\\Gemeinsame Dateien"), std::string("D:\\Gemeinsame Dateien\\ESRI\\Raster\\")},
            {std::string("D:\\Gemeinsame Dateien\\"), std::string("D:\\Gemeinsame Dateien\\ESRI\\Raster\\")},
            {std::string("C:\\Program Files (x86)\\Common Files"),
             std::string("C:\\Program Files (x86)\\Common Files\\ESRI\\Raster\\")},
            // Missing, empty or relative: the standard folder.
            {std::nullopt, std::string(DefaultRasterHome)},
            {std::string(""), std::string(DefaultRasterHome)},
            {std::string("Common Files"), std::string(DefaultRasterHome)},
        };
        for (const auto& row : rows) {
            CAPTURE(row[0].value_or("(no CommonFilesDir)"));
            REQUIRE((row[0] ? commonFiles.SetString(*row[0]) : commonFiles.Delete()));
            WriteRasterEnvironment();
            CHECK(Environment("QEX_HOME") == Sz(*row[1]));
            CHECK(Environment("LUMERA_HOME") == Sz(*row[1]));
            // Without the environment the host looks in the very folder written.
            REQUIRE(DeleteKeyTree(HKEY_LOCAL_MACHINE, RasterEnvironmentKey));
            CHECK(FindRasterHome() == row[1]);
            machine.CreateRasterEnvironmentKey();
        }
    }
    SUBCASE("an empty or relative Mirel 9.0 InstallDir is no home: Codra, else the common raster folder")
    {
        machine.SetProductHome("8.7.0", "C:\\Torvane\\QEX 8.7\\");
        ScopedValue commonFiles(HKEY_LOCAL_MACHINE, CurrentVersionKey, "CommonFilesDir");
        REQUIRE(commonFiles.SetString("D:\\Common Files"));
        for (const std::string mirelDir : {"", "Mirel\\"}) {
            CAPTURE(mirelDir);
            machine.SetExtensionHome("Mirel", "9.0", mirelDir);
            machine.SetExtensionHome("Codra", "9.0", "E:\\Codra\\");
            WriteRasterEnvironment();
            CHECK(Environment("QEX_HOME") == Sz("E:\\Codra\\"));
            CHECK(Environment("LUMERA_HOME") == Sz("E:\\Codra\\"));
            REQUIRE(DeleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Torvane\\Codra"));
            WriteRasterEnvironment();
            CHECK(Environment("QEX_HOME") == Sz("D:\\Common Files\\ESRI\\Raster\\"));
            CHECK(Environment("LUMERA_HOME") == Sz("D:\\Common Files\\ESRI\\Raster\\"));
        }
    }
    SUBCASE("only Codra 9.0, stored without a backslash: written as stored")
    {
        machine.SetExtensionHome("Codra", "9.0", "E:\\Codra");
        WriteRasterEnvironment();
        CHECK(Environment("QEX_HOME") == Sz("E:\\Codra"));
        CHECK(Environment("LUMERA_HOME") == Sz("E:\\Codra"));
        CHECK(Raster("QEX") == Sz("HKEY_LOCAL_MACHINE\\SOFTWARE\\ESRI\\Raster"));
    }
    SUBCASE("an extension directory of 64 KiB is written whole")
    {
        const std::string longHome = "F:\\" + std::string(64 * 1024, 'm');
        machine.SetExtensionHome("Mirel", "9.0", longHome);
        WriteRasterEnvironment();
        CHECK(Environment("QEX_HOME") == Sz(longHome));
        CHECK(Environment("LUMERA_HOME").size() == longHome.size() + 1);
    }
    SUBCASE("a product home of another shared version does not count")
    {
        machine.SetProductHome("8.6.0", "C:\\Torvane\\QEX 8.6");
        WriteRasterEnvironment();
        CheckNothingWritten();
    }
    SUBCASE("neither product home nor extension: nothing")
    {
        WriteRasterEnvironment();
        CheckNothingWritten();
    }
    SUBCASE("an empty or relative 8.7.0 product home is none: nothing")
    {
        for (const std::string productHome : {"", "Torvane\\QEX 8.7\\"}) {
            CAPTURE(productHome);
            machine.SetProductHome("8.7.0", productHome);
            WriteRasterEnvironment();
            CheckNothingWritten();
        }
    }
}

TEST_CASE("raster environment: any host version other than exactly 9.0.0.0 writes nothing")
{
    // Near misses of "9.0.0.0", the other meaningful versions, an empty and a very long one, and none.
    const std::optional<std::string> versions[] = {
        std::string("9.1"),       std::string("8.3.0"),     std::string("9.0"),
        std::string("9.0.0"),     std::string("9.0.0.0 "),  std::string(" 9.0.0.0"),
        std::string("9.0.0.0.0"), std::string("9.0.0.0\n"), std::string(""),
        std::string(4096, '9'),   std::nullopt,
    };
    for (const std::optional<std::string>& version : versions) {
        CAPTURE(version.value_or("(no RealVersion)"));
        ArcMachine machine;
        machine.SetHostVersion(version);
        machine.CreateRasterKey();
        machine.CreateRasterEnvironmentKey();
        machine.SetProductHome("8.7.0", "C:\\Torvane\\QEX 8.7");
        machine.SetExtensionHome("Mirel", "9.0", "D:\\Mirel\\");

        WriteRasterEnvironment();

        CheckNothingWritten();
    }
}

TEST_CASE("raster environment: keys are opened, never created")
{
    ArcMachine machine;
    machine.SetHostVersion(std::string("9.0.0.0"));
    machine.SetExtensionHome("Mirel", "9.0", "D:\\Mirel\\");

    SUBCASE("Raster without Environment: only QEX")
    {
        machine.CreateRasterKey();
        WriteRasterEnvironment();
        CHECK(Raster("QEX") == Sz("HKEY_LOCAL_MACHINE\\SOFTWARE\\ESRI\\Raster"));
        CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, RasterEnvironmentKey));
    }
    SUBCASE("no Raster key at all: nothing appears")
    {
        WriteRasterEnvironment();
        CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, RasterKey));
        CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, RasterEnvironmentKey));
    }
}

TEST_CASE("raster environment: a key that denies setting values is skipped, the other is still written")
{
    ArcMachine machine;
    SeedRasterHost(machine);
    machine.SetExtensionHome("Mirel", "9.0", "D:\\Mirel\\");

    SUBCASE("Raster denied")
    {
        ScopedWriteDenial denial(HKEY_LOCAL_MACHINE, RasterKey);
        REQUIRE(denial.Applied());
        // Wine enforces the deny entry even for its administrator token.
        REQUIRE(WriteIsDenied(HKEY_LOCAL_MACHINE, RasterKey));
        WriteRasterEnvironment();
        CHECK(Raster("QEX") == "(absent)");
        CHECK(Environment("QEX_HOME") == Sz("D:\\Mirel\\"));
        CHECK(Environment("QEX_ARCH_MODE") == std::string(1, '\0'));
    }
    SUBCASE("Environment denied")
    {
        ScopedWriteDenial denial(HKEY_LOCAL_MACHINE, RasterEnvironmentKey);
        REQUIRE(denial.Applied());
        REQUIRE(WriteIsDenied(HKEY_LOCAL_MACHINE, RasterEnvironmentKey));
        WriteRasterEnvironment();
        CHECK(Raster("QEX") == Sz("HKEY_LOCAL_MACHINE\\SOFTWARE\\ESRI\\Raster"));
        CHECK(Environment("QEX_HOME") == "(absent)");
    }
}

TEST_CASE("threading model: Both on the class's InprocServer32 key")
{
    ScopedKey classEntry(HKEY_CLASSES_ROOT, ClassKey);
    ScopedKey server(HKEY_CLASSES_ROOT, ClassServerKey);
    REQUIRE(server.SetString("ThreadingModel", "Apartment"));

    CHECK(FixThreadingModel(StepMode::Verify) == RegistryWrite::Failed);
    CHECK(ReadString(HKEY_CLASSES_ROOT, ClassServerKey, "ThreadingModel").value_or("(absent)") == "Apartment");
    CHECK(FixThreadingModel() == RegistryWrite::Written);
    CHECK(FixThreadingModel(StepMode::Verify) == RegistryWrite::Written);

    CHECK(ReadString(HKEY_CLASSES_ROOT, ClassServerKey, "ThreadingModel").value_or("(absent)") == "Both");
    CHECK(RawOrAbsent(HKEY_CLASSES_ROOT, ClassServerKey, "ThreadingModel").size() == 5);
}

TEST_CASE("threading model: a class that is not registered is not written and nothing is created")
{
    SUBCASE("no class key")
    {
        REQUIRE_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey));
        CHECK(FixThreadingModel() == RegistryWrite::NotWritten);
        CHECK(FixThreadingModel(StepMode::Verify) == RegistryWrite::NotWritten);
        CHECK_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey));
    }
    SUBCASE("class key without InprocServer32")
    {
        ScopedKey classOnly(HKEY_CLASSES_ROOT, ClassKey);
        CHECK(FixThreadingModel() == RegistryWrite::NotWritten);
        CHECK_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassServerKey));
    }
}
