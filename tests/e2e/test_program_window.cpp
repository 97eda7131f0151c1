// The real RepairQEXApps.exe, started with exact command lines and driven
// from this process as a user would drive it.
#include "common/control_ids.h"
#include "support/bench.h"
#include "support/program_driver.h"

#include <doctest.h>

namespace {

std::string CommandLine(const std::string& program, const std::string& options)
{
    return "\"" + program + "\"" + (options.empty() ? "" : " " + options);
}

// Runs a program that must end by itself; checks it was never visible.
void CheckHiddenRun(const std::string& program, const std::string& options)
{
    CAPTURE(options);
    RunningProgram run(CommandLine(program, options));
    REQUIRE(run.Started());
    HWND window = run.FindWindowOf(5000);
    bool everVisible = false;
    while (run.Running()) {
        if (window && IsWindow(window) && IsWindowVisible(window))
            everVisible = true;
        Sleep(1);
    }
    CHECK_FALSE(everVisible);
    CHECK(run.WaitForExit() == DWORD(0));
}

} // namespace

TEST_CASE("-nogui in any spelling: never visible, ends by itself with 0")
{
    for (const char* options : {"-nogui", "/NOGUI", "-NoGui", "-nogui:yes"})
        CheckHiddenRun(ProgramPath(), options);
}

TEST_CASE("-silent: visible while it works, closes by itself with 0")
{
    RunningProgram run(CommandLine(ProgramPath(), "-silent"));
    HWND window = run.FindWindowOf();
    REQUIRE(window != nullptr);
    CHECK(WaitUntilVisible(window));
    CHECK(run.WaitForExit() == DWORD(0));
}

TEST_CASE("no options: the window waits; Esc, Close and Alt+F4 do not close it; OK does once enabled")
{
    RunningProgram run(CommandLine(ProgramPath(), ""));
    HWND window = run.FindWindowOf();
    REQUIRE(window != nullptr);
    CHECK(WaitUntilVisible(window));
    HWND ok = GetDlgItem(window, IDOK);
    REQUIRE(WaitUntilEnabled(ok));

    PressKey(window, VK_ESCAPE);
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageA(window, WM_CLOSE, 0, 0);
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    CHECK_FALSE(run.WaitForExit(1500).has_value());
    CHECK(IsWindow(window));

    PressKey(window, VK_RETURN); // OK is the default button
    CHECK(run.WaitForExit() == DWORD(0));
}

TEST_CASE("a '-' or '/' in the program's folder adds no option")
{
    // Copied where the folder name itself looks like an option.
    ScratchFolder folder("my-app -nogui");
    const std::string program = folder.Path() + "\\RepairQEXApps.exe";
    REQUIRE(CopyFileA(ProgramPath().c_str(), program.c_str(), FALSE));
    CheckHiddenRun(program, "-nogui");

    // -silent is still the only option: the run closes itself.
    RunningProgram run(CommandLine(program, "-silent"));
    REQUIRE(run.FindWindowOf() != nullptr);
    CHECK(run.WaitForExit() == DWORD(0));

    // Unquoted (a short path has no spaces) and written with forward slashes.
    char shortPath[MAX_PATH] = {};
    REQUIRE(GetShortPathNameA(program.c_str(), shortPath, MAX_PATH) > 0);
    std::string unquoted = shortPath;
    for (char& c : unquoted)
        if (c == '\\')
            c = '/';
    CheckHiddenRun(unquoted, "-nogui");
}

TEST_CASE("OK pressed the instant it is enabled: no crash, no hang, exit code 0")
{
    for (int round = 0; round < 15; ++round) {
        CAPTURE(round);
        RunningProgram run(CommandLine(ProgramPath(), ""));
        HWND window = run.FindWindowOf();
        REQUIRE(window != nullptr);
        HWND ok = GetDlgItem(window, IDOK);
        REQUIRE(WaitUntilEnabled(ok));
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
        CHECK(run.WaitForExit() == DWORD(0));
    }
}
