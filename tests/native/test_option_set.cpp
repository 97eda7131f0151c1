// The command-line scan, case folding and lookups, on Linux under sanitizers.
#include "options/option_set.h"

#include <doctest.h>

#include <string>

using Value = std::optional<std::string>;

TEST_CASE("an empty or null line gives an empty set")
{
    for (const char* line : {static_cast<const char*>(nullptr), "", "   ", "no options here"}) {
        CAPTURE(line ? line : "(null)");
        OptionSet set(line);
        CHECK(set.Count() == 0);
        CHECK_FALSE(set.Any());
        CHECK_FALSE(set.Has("silent"));
        CHECK(set.GetValue("silent") == std::nullopt);
        Value kept = std::string("kept");
        CHECK_FALSE(set.TryGetValue("silent", kept));
        CHECK(kept == Value("kept"));
    }
}

TEST_CASE("names fold ASCII letters only, values keep their case")
{
    OptionSet set("-silent /NoGui -QEX_HOME:C:\\Apps\\QEX");
    CHECK(set.Count() == 3);
    CHECK(set.Has("nogui"));
    CHECK(set.Has("NOGUI"));
    CHECK(set.Has("nOgUi"));
    CHECK(set.Entries()[1].name == "nogui");
    CHECK(set.GetValue("qex_home") == Value("C:\\Apps\\QEX"));

    OptionSet sensitive("-NoGui", true);
    CHECK(sensitive.Entries()[0].name == "NoGui");
    CHECK_FALSE(sensitive.Has("nogui"));
    CHECK(sensitive.Has("NoGui"));

    // Bytes above 0x7F (a double-byte character's halves) never change.
    OptionSet dbcs("-\x82\xA0Z\xC4");
    CHECK(dbcs.Entries()[0].name == "\x82\xA0z\xC4");
    CHECK(dbcs.Has("\x82\xA0Z\xC4"));
    CHECK_FALSE(dbcs.Has("\x82\xA0z\xE4"));
}

TEST_CASE("quoted, unquoted and empty values")
{
    OptionSet quoted("-qex_home:\"C:\\Program Files\\QEX\" -silent");
    CHECK(quoted.Count() == 2);
    CHECK(quoted.GetValue("qex_home") == Value("C:\\Program Files\\QEX"));
    CHECK(quoted.Has("silent"));

    OptionSet unclosed("-a:\"x -b");
    CHECK(unclosed.Count() == 1);
    CHECK(unclosed.GetValue("a") == Value("x -b"));

    OptionSet adjacent("-a:\"x\"-b");
    CHECK(adjacent.Count() == 2);
    CHECK(adjacent.GetValue("a") == Value("x"));
    CHECK(adjacent.Has("b"));

    OptionSet unquotedSpace("-qex_home:C:\\Program Files\\QEX");
    CHECK(unquotedSpace.Count() == 1);
    CHECK(unquotedSpace.GetValue("qex_home") == Value("C:\\Program"));

    Value flag = std::string("x");
    OptionSet trailingColon("-a:");
    CHECK(trailingColon.TryGetValue("a", flag));
    CHECK(flag == std::nullopt);

    Value empty;
    OptionSet spaceAfterColon("-a: -b");
    CHECK(spaceAfterColon.TryGetValue("a", empty));
    CHECK(empty == Value(""));
    CHECK(spaceAfterColon.Has("b"));

    OptionSet twoQuotes("-a:\"\"");
    CHECK(twoQuotes.GetValue("a") == Value(""));
    CHECK(twoQuotes.Count() == 1);

    OptionSet quoteInside("-a:x\"y z -b");
    CHECK(quoteInside.GetValue("a") == Value("x\"y"));
    CHECK(quoteInside.Has("b"));

    OptionSet colonsInValue("-a:b:c");
    CHECK(colonsInValue.GetValue("a") == Value("b:c"));
}

TEST_CASE("empty names add nothing")
{
    CHECK(OptionSet("- -b").Count() == 1);
    CHECK(OptionSet("- -b").Has("b"));
    CHECK(OptionSet("-").Count() == 0);
    CHECK(OptionSet("x /").Count() == 0);
    CHECK(OptionSet("-:").Count() == 0);
    OptionSet emptyNameValue("-:v -b");
    CHECK(emptyNameValue.Count() == 1);
    CHECK(emptyNameValue.Has("b"));
    CHECK(OptionSet("-:\"v w\" -b").Count() == 1);
}

TEST_CASE("duplicates, tabs and one-character prefixes")
{
    OptionSet twice("-silent -silent");
    CHECK(twice.Count() == 2);
    CHECK(twice.Has("silent"));

    OptionSet firstWins("-a:1 -a:2");
    CHECK(firstWins.GetValue("a") == Value("1"));

    OptionSet tab("-a\t-b");
    REQUIRE(tab.Count() == 1);
    CHECK(tab.Entries()[0].name == "a\t-b");

    OptionSet doubled("--silent");
    CHECK(doubled.Has("-silent"));
    CHECK_FALSE(doubled.Has("silent"));
}

TEST_CASE("\"log\" and \"exit_codes\", every occurrence, are left out of the count of step options")
{
    CHECK(StepOptionCount(OptionSet("-silent -log:x")) == 1);
    CHECK(StepOptionCount(OptionSet("-cleanup -exit_codes")) == 1);
    CHECK(StepOptionCount(OptionSet("-LOG:\"C:\\a b.txt\" -Exit_Codes /log")) == 0);
    CHECK(StepOptionCount(OptionSet("-logfile -log")) == 1);
    CHECK(StepOptionCount(OptionSet("-LOG -Exit_Codes -log", true)) == 2);
    // "verify" is a mode too; with it "cleanup" is one as well.
    CHECK(StepOptionCount(OptionSet("-verify -silent")) == 1);
    CHECK(StepOptionCount(OptionSet("-Verify -cleanup -log:x")) == 0);
    CHECK(StepOptionCount(OptionSet("-cleanup -repair_qex_net -verify")) == 1);
}

TEST_CASE("a whole line is scanned, program path included")
{
    OptionSet set("\"C:\\Tools\\my-app\\Repair.exe\" -silent");
    REQUIRE(set.Count() == 2);
    CHECK(set.Entries()[0].name == "app\\repair.exe\"");
    CHECK(set.Has("silent"));
}

TEST_CASE("Parse replaces what was there; null keeps it")
{
    OptionSet set("-a -b");
    set.Parse(nullptr);
    CHECK(set.Count() == 2);
    set.Parse("-c");
    CHECK(set.Count() == 1);
    CHECK_FALSE(set.Has("a"));
    CHECK(set.Has("c"));
}

TEST_CASE("the program's own path is skipped only when the line starts with it")
{
    const std::string module = "C:\\Tools\\my-app\\RepairQEXApps.exe";
    const std::string shortModule = "C:\\Tools\\MY-APP~1\\REPAIR~1.EXE";
    const std::string spaced = "C:\\x\\a -nogui b\\RepairQEXApps.exe";
    struct Case {
        std::string line;
        std::string modulePath;
        std::string rest; // what SkipProgramPath leaves
        // The one text that the platform makes full here, and what it gives.
        std::string asked = "", full = "";
    };
    const Case cases[] = {
        {"\"C:\\Tools\\my-app\\RepairQEXApps.exe\" -silent", module, " -silent"},
        {"\"c:/tools/MY-APP/repairqexapps\" -silent", module, " -silent"},
        {"C:\\Tools\\my-app\\RepairQEXApps.exe -nogui", module, " -nogui"},
        {"C:\\Tools\\my-app\\RepairQEXApps.exe\t-nogui", module, "\t-nogui"},
        {"C:\\Tools\\MY-APP~1\\REPAIR~1.EXE -nogui", module, " -nogui"},
        {"\"C:\\Tools\\MY-APP~1\\REPAIR~1\" -nogui", module, " -nogui"},
        {"RepairQEXApps -nogui", module, " -nogui"},
        {"my-app\\RepairQEXApps.exe -nogui", module, " -nogui"},
        {"..\\..\\my-app/RepairQEXApps.exe -nogui", module, " -nogui"},
        {"\\Tools\\my-app\\RepairQEXApps.exe -nogui", module, " -nogui"},
        {"\"C:\\Tools\\my-app\\RepairQEXApps.exe", module, ""},
        {"C:\\Tools\\my-app\\RepairQEXApps.exe", module, ""},
        // A launcher that gives the program as the application name and the options alone.
        {"-nogui", module, "-nogui"},
        {"/silent -repair_qex_net", module, "/silent -repair_qex_net"},
        {"", module, ""},
        // Words that only look like the program's path.
        {"-qex_home:C:\\Tools\\my-app\\RepairQEXApps.exe -nogui", module,
         "-qex_home:C:\\Tools\\my-app\\RepairQEXApps.exe -nogui"},
        {"app\\RepairQEXApps.exe -nogui", module, "app\\RepairQEXApps.exe -nogui"},
        {"C:\\Tools\\my-app\\RepairQEXApps.exe2 -nogui", module, "C:\\Tools\\my-app\\RepairQEXApps.exe2 -nogui"},
        {"\"C:\\Other\\RepairQEXApps.exe\" -nogui", module, "\"C:\\Other\\RepairQEXApps.exe\" -nogui"},
        // Unquoted, a full path with spaces is the program's path as a whole.
        {"C:\\x\\a -nogui b\\RepairQEXApps.exe -silent", spaced, " -silent"},
        {"c:\\X\\A -NOGUI B\\RepairQEXApps -silent", spaced, " -silent"},
        {"C:\\x\\a -nogui b\\RepairQEXApps.exe", spaced, ""},
        {"-silent", spaced, "-silent"},
        // Written as launchers write it: the platform's full path is the program's.
        {"\"C:\\Tools\\my-app\\\\RepairQEXApps.exe\" -nogui", module, " -nogui",
         "C:\\Tools\\my-app\\\\RepairQEXApps.exe", module},
        {"C:\\Tools\\my-app\\.\\x\\..\\RepairQEXApps.exe -nogui", module, " -nogui",
         "C:\\Tools\\my-app\\.\\x\\..\\RepairQEXApps.exe", module},
        {"C://Tools//my-app/RepairQEXApps -nogui", module, " -nogui", "C://Tools//my-app/RepairQEXApps",
         "C:\\Tools\\my-app\\RepairQEXApps"},
        {"\".\\x\\..\\RepairQEXApps.exe\" -nogui", module, " -nogui", ".\\x\\..\\RepairQEXApps.exe", module},
        {"C:\\TOOLS\\MY-APP~1\\\\repair~1.exe -nogui", module, " -nogui", "C:\\TOOLS\\MY-APP~1\\\\repair~1.exe",
         "C:\\TOOLS\\MY-APP~1\\repair~1.exe"},
        {"C:\\x\\a -nogui b\\\\RepairQEXApps.exe -silent", spaced, " -silent",
         "C:\\x\\a -nogui b\\\\RepairQEXApps.exe", spaced},
        {"\"C:\\Other\\\\RepairQEXApps.exe\" -nogui", module, "\"C:\\Other\\\\RepairQEXApps.exe\" -nogui",
         "C:\\Other\\\\RepairQEXApps.exe", "C:\\Other\\RepairQEXApps.exe"},
        // Nothing known about the program: nothing is skipped.
        {"\"C:\\Tools\\my-app\\RepairQEXApps.exe\" -silent", "", "\"C:\\Tools\\my-app\\RepairQEXApps.exe\" -silent"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.line);
        CAPTURE(c.modulePath);
        const std::string shortPath = c.modulePath == module ? shortModule : "";
        const auto platform = [&](const std::string& path) {
            return !c.asked.empty() && path == c.asked ? std::optional<std::string>(c.full) : std::nullopt;
        };
        const char* rest = SkipProgramPath(c.line.c_str(), c.modulePath, shortPath, platform);
        REQUIRE(rest != nullptr);
        CHECK(std::string(rest) == c.rest);
    }
    CHECK(SkipProgramPath(nullptr, module, shortModule) == nullptr);

    // Only heads that end with the program's file name are made full, not every word of a long line.
    std::string longLine = "C:\\Other\\RepairQEXApps.exe";
    for (int i = 0; i < 2500; ++i)
        longLine += " -repair_qex_com";
    int madeFull = 0;
    const auto counting = [&](const std::string&) { return ++madeFull, std::nullopt; };
    SkipProgramPath(longLine.c_str(), module, shortModule, counting);
    CHECK(madeFull == 1);

    OptionSet set(SkipProgramPath("\"C:\\Tools\\my-app\\RepairQEXApps.exe\" -silent", module, shortModule));
    CHECK(set.Count() == 1);
    CHECK(set.Has("silent"));
}
