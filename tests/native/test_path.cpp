// The one joining rule for directories read from the registry.
#include "common/path.h"

#include <doctest.h>

TEST_CASE("JoinPath inserts a backslash only when the directory lacks one")
{
    CHECK(JoinPath("C:\\arcgis", "bin") == "C:\\arcgis\\bin");
    CHECK(JoinPath("C:\\arcgis\\", "bin") == "C:\\arcgis\\bin");
    CHECK(JoinPath("C:\\arcgis\\\\", "bin") == "C:\\arcgis\\\\bin"); // never removes one
    CHECK(JoinPath("C:\\arcgis/", "bin") == "C:\\arcgis/\\bin");     // only a backslash counts
    CHECK(JoinPath("", "bin") == "\\bin");
    CHECK(JoinPath("C:\\arcgis", "") == "C:\\arcgis\\");
    CHECK_FALSE(EndsWithBackslash(""));
    CHECK(EndsWithBackslash("\\"));
}

TEST_CASE("only a drive with its backslash or a UNC path is absolute; other homes are no homes")
{
    struct Case {
        const char* path;
        bool absolute;
    };
    const Case cases[] = {
        {"C:\\", true},
        {"c:\\Program Files\\Torvane\\", true},
        {"\\\\server\\share\\QEX", true},
        {"", false},
        {"C:", false},         // the current folder of drive C
        {"C:QEX", false},      // relative to it
        {"\\QEX", false},      // the root of the current drive
        {"\\\\", false},       // no server
        {"\\\\\\QEX", false},
        {"\\\\?\\C:\\QEX\\", true}, // extended: as the drive path
        {"\\\\?\\UNC\\server\\share\\", true},
        {"\\\\.\\C:\\QEX\\", false}, // the devices' namespace, no folder
        {"\\\\.\\pipe\\QEX", false},
        {"\\\\.", false},
        {"QEX\\", false},
        {".", false},
        {"1:\\QEX", false},
        {"C:/QEX", false},     // only a backslash counts, as in JoinPath
        // Text no path holds: it would reach a command line as more than a path.
        {"C:\\x\"\t/tlb:C:\\y.tlb\t\"", false},
        {"C:\\x\"y", false},
        {"\\\\server\\QEX\r\n", false},
        {"C:\\QEX\x01", false},
        {"C:\\Program Files\\T\xF4rvane\\", true}, // bytes above 0x7F belong to the code page
    };
    for (const Case& c : cases) {
        CAPTURE(c.path);
        CHECK(IsAbsolutePath(c.path) == c.absolute);
        CHECK(AbsoluteHome(std::string(c.path)) ==
              (c.absolute ? std::optional<std::string>(c.path) : std::nullopt));
    }
    CHECK(AbsoluteHome(std::nullopt) == std::nullopt);
}
