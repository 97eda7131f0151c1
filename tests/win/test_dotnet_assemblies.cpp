// .NET assembly registration with a stand-in regasm.exe that logs each
// command line it is started with, under a seeded framework folder.
#include "repair/dotnet_assemblies.h"
#include "support/bench.h"
#include "support/com_markers.h"

#include <doctest.h>

#include <string>
#include <vector>

namespace {

const char* const assemblies[] = {"AxTrilens.dll",    "GadgetKit.dll",       "Torvane.QEX.Interop.dll",
                                  "DockSuite.dll",    "SGCmdsLib.dll",       "SGEditTasksCtrl.dll",
                                  "SGDIALOGSLib.dll", "SurfaceGraderSettings.dll", "MOSAIQLib.dll"};
const char* const positions[] = {"11", "22", "33", "44", "55", "66", "77", "88", "100"};

// A framework root (with a space in its path) whose v1.0.3705 folder holds the stand-in.
struct Framework {
    ScratchFolder scratch{"dotnet"};
    std::string root = scratch.Path() + "\\Microsoft NET\\Framework\\";
    std::string folder = root + "v1.0.3705";
    std::string log = folder + "\\regasm.log";
    ScopedValue installRoot{HKEY_LOCAL_MACHINE, FrameworkKey, "InstallRoot"};
    ScopedKey registrations{HKEY_CLASSES_ROOT, AssemblyRegistrationsKey}; // what the stand-in registers

    Framework()
    {
        REQUIRE(CopyFixture("regasm.exe", folder + "\\regasm.exe"));
        REQUIRE(installRoot.Set(REG_SZ, root));
    }
    // Each run's command line, and the folder it started in: the system
    // folder, never the caller's.
    std::vector<std::string> Expected(const char* switchText, const std::string& servers) const
    {
        char systemFolder[MAX_PATH] = {};
        GetSystemDirectoryA(systemFolder, MAX_PATH);
        std::vector<std::string> lines;
        for (const char* assembly : assemblies)
            lines.push_back("\"" + folder + "\\regasm.exe\" " + switchText + " \"" + servers + "\\" + assembly + "\"|" +
                            systemFolder);
        return lines;
    }
};

std::vector<std::string> ExpectedMessages()
{
    std::vector<std::string> lines;
    for (size_t i = 0; i < 9; ++i) {
        lines.push_back(std::string("text 1006 ") + assemblies[i]);
        lines.push_back(std::string("progress 1002 ") + positions[i]);
    }
    return lines;
}

} // namespace

TEST_CASE("FindDotNetDirectory appends v and the version to InstallRoot")
{
    ScopedValue installRoot{HKEY_LOCAL_MACHINE, FrameworkKey, "InstallRoot"};
    REQUIRE(installRoot.Set(REG_SZ, "C:\\Frame Work\\"));
    CHECK(FindDotNetDirectory("1.0.3705") == std::string("C:\\Frame Work\\v1.0.3705"));
    CHECK(FindDotNetDirectory("2.0") == std::string("C:\\Frame Work\\v2.0"));
    CHECK(FindDotNetDirectory("") == std::nullopt);

    // The value's type is not examined.
    REQUIRE(installRoot.Set(REG_EXPAND_SZ, "C:\\Other\\"));
    CHECK(FindDotNetDirectory("1.0.3705") == std::string("C:\\Other\\v1.0.3705"));

    // No root, or an empty or relative one, gives no folder rather than one relative to the current directory.
    for (const std::string notARoot : {"", "Frame Work\\", "\\Frame Work\\", "C:Frame Work\\"}) {
        CAPTURE(notARoot);
        REQUIRE(installRoot.Set(REG_SZ, notARoot));
        CHECK(FindDotNetDirectory("1.0.3705") == std::nullopt);
    }
    REQUIRE(installRoot.Delete());
    CHECK(FindDotNetDirectory("1.0.3705") == std::nullopt);
}

TEST_CASE("RegisterAssemblies runs regasm.exe once per assembly, in order, each to its end")
{
    Framework framework;
    MessageRecorder recorder;
    ScratchFolder product("dotnet product");
    const std::string servers = product.Path() + "\\bin\\ntx86";

    REQUIRE(CreateFolders(servers));
    for (const char* assembly : assemblies)
        REQUIRE(WriteFileText(servers + "\\" + assembly, "assembly"));

    SUBCASE("the home with or without a trailing backslash")
    {
        for (const char* home : {"plain", "trailing backslash"}) {
            CAPTURE(home);
            const std::string installDir = product.Path() + (std::string(home) == "plain" ? "" : "\\");
            DeleteFileA(framework.log.c_str());
            recorder.Clear();
            CHECK(RegisterAssemblies(installDir, recorder.Window()));
            // Every run has ended: all nine lines are there when the call returns.
            CHECK(Join(ReadLines(framework.log)) == Join(framework.Expected("/codebase", servers)));
            CHECK(Join(recorder.Lines()) == Join(ExpectedMessages()));
        }
    }
    SUBCASE("a check asks for a registry file of each, registers nothing, and finds the registration")
    {
        const std::string registration = AssemblyRegistration(servers + "\\" + assemblies[0]);
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        for (const bool registered : {false, true}) {
            CAPTURE(registered);
            DeleteFileA(framework.log.c_str());
            recorder.Clear();
            CHECK(RegisterAssemblies(product.Path(), recorder.Window(), StepMode::Verify) == registered);
            CHECK(KeyExists(HKEY_CLASSES_ROOT, registration) == registered);
            std::vector<std::string> expected = ExpectedMessages();
            if (!registered)
                expected.insert(expected.end(), {"text 1006 AxTrilens.dll", "status 1004 2"});
            CHECK(Join(recorder.Lines()) == Join(expected));
            for (const std::string& line : ReadLines(framework.log)) {
                CAPTURE(line);
                CHECK(line.find(" /regfile:\"" + std::string(temp) + "qex") != std::string::npos);
                CHECK(line.find(".tmp\" /codebase \"" + servers + "\\") != std::string::npos);
            }
            // Each registry file goes once read.
            CHECK(FindNames(std::string(temp) + "qex*.tmp").empty());
            REQUIRE(RegisterAssemblies(product.Path(), nullptr));
        }
        // A regasm.exe that ends well but writes no registry file: nothing to compare, not in place.
        REQUIRE(CopyFixture("patch_setup.exe", framework.folder + "\\regasm.exe"));
        CHECK_FALSE(RegisterAssemblies(product.Path(), nullptr, StepMode::Verify));
        REQUIRE(CopyFixture("regasm.exe", framework.folder + "\\regasm.exe"));
        // A value that differs from the file's: not in place.
        REQUIRE(SetString(HKEY_CLASSES_ROOT, registration, "CodeBase", "C:\\elsewhere\\AxTrilens.dll"));
        CHECK_FALSE(RegisterAssemblies(product.Path(), nullptr, StepMode::Verify));
        REQUIRE(UnregisterAssemblies(product.Path(), nullptr));
        CHECK_FALSE(KeyExists(HKEY_CLASSES_ROOT, registration));
    }
    SUBCASE("unregistration")
    {
        DeleteFileA(framework.log.c_str());
        recorder.Clear();
        CHECK(UnregisterAssemblies(product.Path(), recorder.Window()));
        CHECK(Join(ReadLines(framework.log)) == Join(framework.Expected("/unregister", servers)));
        CHECK(Join(recorder.Lines()) == Join(ExpectedMessages()));
    }
    SUBCASE("an assembly the tool cannot find: its non-zero exit fails the row, named at the end")
    {
        for (const char* missing : {"DockSuite.dll", "MOSAIQLib.dll"})
            REQUIRE(DeleteFileA((servers + "\\" + missing).c_str()));
        DeleteFileA(framework.log.c_str());
        recorder.Clear();
        CHECK_FALSE(RegisterAssemblies(product.Path(), recorder.Window()));
        // Every run still takes place; the row ends on the first that failed.
        CHECK(ReadLines(framework.log).size() == 9);
        std::vector<std::string> expected = ExpectedMessages();
        expected.push_back("text 1006 DockSuite.dll");
        expected.push_back("status 1004 2");
        CHECK(Join(recorder.Lines()) == Join(expected));
    }
    SUBCASE("a null window: the same nine runs, no message")
    {
        DeleteFileA(framework.log.c_str());
        recorder.Clear();
        CHECK(RegisterAssemblies(product.Path(), nullptr));
        CHECK(ReadLines(framework.log).size() == 9);
        CHECK(recorder.Lines().empty());
    }
    SUBCASE("no installation directory: nothing runs, nothing is sent")
    {
        DeleteFileA(framework.log.c_str());
        recorder.Clear();
        CHECK_FALSE(RegisterAssemblies("", recorder.Window()));
        CHECK_FALSE(UnregisterAssemblies("", recorder.Window()));
        CHECK_FALSE(FileExists(framework.log));
        CHECK(recorder.Lines().empty());
    }
    SUBCASE("a command line beyond 1003 characters reaches the tool whole")
    {
        // The assemblies are not in that folder: the tool reports it.
        DeleteFileA(framework.log.c_str());
        const std::string longHome = product.Path() + "\\" + std::string(200, 'a') + "\\" + std::string(200, 'b') +
                                     "\\" + std::string(200, 'c') + "\\" + std::string(200, 'd') + "\\" +
                                     std::string(200, 'e');
        const std::vector<std::string> expected = framework.Expected("/codebase", longHome + "\\bin\\ntx86");
        REQUIRE(expected[0].size() > 1003);
        CHECK_FALSE(RegisterAssemblies(longHome, nullptr));
        CHECK(Join(ReadLines(framework.log)) == Join(expected));
    }
}

TEST_CASE("Without the framework folder every launch fails: the bar still runs to 100, the row ends on failure")
{
    Framework framework;
    MessageRecorder recorder;
    ScratchFolder product("dotnet product");

    SUBCASE("InstallRoot without a v1.0.3705 folder")
    {
        REQUIRE(framework.installRoot.Set(REG_SZ, framework.scratch.Path() + "\\Other Framework\\"));
    }
    SUBCASE("no InstallRoot")
    {
        REQUIRE(framework.installRoot.Delete());
    }
    CHECK_FALSE(RegisterAssemblies(product.Path(), recorder.Window()));
    std::vector<std::string> expected = ExpectedMessages();
    expected.push_back("text 1006 AxTrilens.dll");
    expected.push_back("status 1004 2");
    CHECK(Join(recorder.Lines()) == Join(expected));
    CHECK_FALSE(FileExists(framework.log));
}
