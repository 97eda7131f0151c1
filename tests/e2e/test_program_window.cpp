// The real RepairQEXApps.exe, started with exact command lines and driven
// from this process as a user would drive it.
#include "common/control_ids.h"
#include "support/bench.h"
#include "support/program_driver.h"

#include <doctest.h>

#include <vector>

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

namespace {

// A copy of the program whose resources of one type are replaced by data.
std::string CopyReplacing(const ScratchFolder& folder, const char* name, LPCSTR type,
                          std::initializer_list<int> ids, const std::vector<WORD>& data)
{
    const std::string program = folder.Path() + "\\" + name;
    REQUIRE(CopyFileA(ProgramPath().c_str(), program.c_str(), FALSE));
    HANDLE update = BeginUpdateResourceA(program.c_str(), FALSE);
    REQUIRE(update != nullptr);
    for (int id : ids)
        CHECK(UpdateResourceA(update, type, MAKEINTRESOURCEA(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                              const_cast<WORD*>(data.data()), static_cast<DWORD>(data.size() * sizeof(WORD))));
    REQUIRE(EndUpdateResourceA(update, FALSE));
    return program;
}

// A dialog template whose one control has a class nobody registered, so
// CreateDialogParamA fails.
std::vector<WORD> UncreatableDialog()
{
    std::vector<WORD> t = {LOWORD(WS_POPUP | WS_CAPTION), HIWORD(WS_POPUP | WS_CAPTION), 0, 0, 1, 0, 0, 100, 50,
                           0, 0, 0, 0}; // style, ex-style, 1 control, rect, no menu, class, title
    t.insert(t.end(), {LOWORD(WS_CHILD | WS_VISIBLE), HIWORD(WS_CHILD | WS_VISIBLE), 0, 0, 0, 0, 10, 10, 1});
    for (char c : std::string("NoSuchClass"))
        t.push_back(static_cast<WORD>(c));
    t.insert(t.end(), {0, 0, 0, 0}); // class end, empty title, no creation data, padding
    return t;
}

} // namespace

TEST_CASE("missing icons or a dialog that cannot be created: no crash, exit code 0")
{
    ScratchFolder folder("broken resources");
    // Icon groups that name no image: every icon loads as null.
    const std::string noIcons = CopyReplacing(folder, "NoIcons.exe", MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */,
                                              {IDI_SUCCESS, IDI_FAILURE, IDI_PENDING}, {0, 1, 0});
    for (const char* options : {"-nogui", "-silent"}) {
        CAPTURE(options);
        RunningProgram run(CommandLine(noIcons, options));
        CHECK(run.WaitForExit() == DWORD(0));
    }
    RunningProgram interactive(CommandLine(noIcons, ""));
    HWND window = interactive.FindWindowOf();
    REQUIRE(window != nullptr);
    REQUIRE(WaitUntilEnabled(GetDlgItem(window, IDOK)));
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    CHECK(interactive.WaitForExit() == DWORD(0));

    // Without its dialog the run has no window: it still does its work and ends by itself.
    const std::string noDialog = CopyReplacing(folder, "NoDialog.exe", MAKEINTRESOURCEA(5) /* RT_DIALOG */,
                                               {IDD_PROGRESS}, UncreatableDialog());
    for (const char* options : {"", "-silent"}) {
        CAPTURE(options);
        RunningProgram run(CommandLine(noDialog, options));
        REQUIRE(run.Started());
        CHECK(run.FindWindowOf(3000) == nullptr);
        CHECK(run.WaitForExit() == DWORD(0));
    }
}
