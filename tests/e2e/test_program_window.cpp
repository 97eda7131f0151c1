// The real RepairQEXApps.exe, started with exact command lines and driven
// from this process as a user would drive it.
#include "common/control_ids.h"
#include "common/process.h"
#include "support/bench.h"
#include "support/program_driver.h"
#include "support/sample_machine.h"

#include <doctest.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// QEX's home with one stand-in COM server: a run that does its work
// registers it exactly once, and is held there while the test looks at it.
struct OneServerMachine {
    ScopedKey torvane{HKEY_LOCAL_MACHINE, "SOFTWARE\\Torvane"};
    ScratchFolder home{"held home"};
    ScopedComMarkers markers;
    OneServerMachine()
    {
        REQUIRE(torvane.SetString(ProductKey, "QEX_HOME", home.Path() + "\\"));
        REQUIRE(CopyFixture("com_server.dll", home.Make("bin\\ntx86\\AsmBinder.dll")));
    }
};

// A run that must do its work and end by itself with 0, its window shown
// while it works or never shown at all. optionsAlone: started as some
// launchers do, with the program as the application name and the options as
// the whole command line.
void CheckSelfClosingRun(const std::string& program, const std::string& options, bool shown,
                         bool optionsAlone = false)
{
    CAPTURE(program);
    CAPTURE(options);
    CAPTURE(optionsAlone);
    OneServerMachine machine;
    const RepairRun run = RunRepair(options, RunEnd::ByItself, nullptr, {program, "", {}, optionsAlone},
                                    [&](HWND window) {
                                        REQUIRE(window != nullptr);
                                        CHECK((IsWindowVisible(window) != FALSE) == shown);
                                    });
    CHECK(run.heldWhileWorking);
    CHECK(RegistrationCount("AsmBinder.dll") == 1);
    CHECK(run.everVisible == shown);
    CHECK(run.Outcome() == kQuietEnd);
}

} // namespace

TEST_CASE("-nogui: never visible; -silent: visible while it works; both end by themselves with 0")
{
    // Spelt as a user may: names are case-insensitive, "/" starts one too.
    CheckSelfClosingRun(ProgramPath(), "/NoGui", false);
    CheckSelfClosingRun(ProgramPath(), "-silent", true);
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
    CheckSelfClosingRun(program, "-nogui", false);
    // As a batch file writes "%~dp0\RepairQEXApps.exe": a doubled backslash.
    CheckSelfClosingRun(folder.Path() + "\\\\RepairQEXApps.exe", "-nogui", false);

    // -silent is still the only option: the window shows, the run closes itself.
    CheckSelfClosingRun(program, "-silent", true);
    // The same with the path as the application name and "-silent" alone as the line.
    CheckSelfClosingRun(program, "-silent", true, true);

    // Unquoted (a short path has no spaces) and written with forward slashes.
    std::string unquoted = ShortPath(program);
    for (char& c : unquoted)
        if (c == '\\')
            c = '/';
    CheckSelfClosingRun(unquoted, "-nogui", false);

    // Half short, unquoted, given whole as the command line: the folders
    // above short and "deploy-kit" long (the name without its ".exe"); or
    // the other way round, the file's name short.
    const std::string kit = folder.Make("deploy-kit\\RepairQEXApps.exe");
    REQUIRE(CopyFileA(ProgramPath().c_str(), kit.c_str(), FALSE));
    const std::string shortName = PathFindFileNameA(ShortPath(kit).c_str());
    for (const std::string& head : {ShortPath(folder.Path()) + "\\deploy-kit\\RepairQEXApps",
                                    folder.Path() + "\\deploy-kit\\" + shortName})
        CheckSelfClosingRun(kit, head + " -nogui", false, true);
}

TEST_CASE("OK posted, a click or WM_DESTROY sent from here, the instant OK is enabled: the process ends with 0")
{
    for (int round = 0; round < 15; ++round) {
        CAPTURE(round);
        RunningProgram run(CommandLine(ProgramPath(), ""));
        HWND window = run.FindWindowOf();
        REQUIRE(window != nullptr);
        HWND ok = GetDlgItem(window, IDOK);
        REQUIRE(WaitUntilEnabled(ok));
        // Sent messages, as automation tools send them, are handled inside
        // the program's GetMessageA; it must still leave its loop.
        if (round % 3 == 0)
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
        else if (round % 3 == 1)
            SendMessageA(ok, BM_CLICK, 0, 0);
        else
            SendMessageA(window, WM_DESTROY, 0, 0);
        CHECK(run.WaitForExit(10000) == DWORD(0));
    }
}

namespace {

// The guard that lets one run at a time work, machine-wide.
constexpr char kRunGuard[] = "Global\\TorvaneRepairQEXAppsRun";

// A holder that ends without releasing the guard: it is left abandoned.
DWORD WINAPI TakeAndEnd(LPVOID mutex)
{
    return WaitForSingleObject(static_cast<HANDLE>(mutex), 0);
}

// The process id that a log line names ("YYYY-MM-DD HH:MM:SS [PID] text"); 0 for none.
DWORD LineProcess(const std::string& line)
{
    return line.size() > 21 && line[20] == '[' ? std::strtoul(line.c_str() + 21, nullptr, 10) : 0;
}

std::vector<std::string> LinesOf(const std::vector<std::string>& lines, DWORD processId)
{
    std::vector<std::string> texts;
    for (const std::string& line : lines)
        if (LineProcess(line) == processId)
            texts.push_back(line.substr(line.find("] ") + 2));
    return texts;
}

} // namespace

TEST_CASE("one run at a time: with -exit_codes or -verify a second run exits with 1618 at once, others wait")
{
    OneServerMachine machine;
    {
        // The name taken by another kind of object: no guard, and the run
        // works as runs did before.
        const unique_handle squatter(CreateEventA(nullptr, TRUE, FALSE, kRunGuard));
        REQUIRE(squatter);
        RunningProgram unguarded(CommandLine(ProgramPath(), "-nogui -exit_codes"));
        const std::optional<DWORD> end = unguarded.WaitForExit();
        REQUIRE(end.has_value());
        CHECK(*end != DWORD(1618));
        CHECK(RegistrationCount("AsmBinder.dll") == 1);
    }
    ScratchFolder logs("one at a time");
    const std::string log = logs.Path() + "\\run.log";
    const std::string logOption = " -log:\"" + log + "\"";
    // Held open here, so that its state can be read once the runs are over.
    // A holder that died left it abandoned: the first run takes it all the same.
    const unique_handle guard(CreateMutexA(nullptr, FALSE, kRunGuard));
    REQUIRE(guard);
    const unique_handle holder(CreateThread(nullptr, 0, TakeAndEnd, guard.get(), 0, nullptr));
    REQUIRE(WaitForSingleObject(holder.get(), 10000) == WAIT_OBJECT_0);

    const RunGate gate;
    RunningProgram first(CommandLine(ProgramPath(), "-nogui -exit_codes" + logOption));
    REQUIRE(gate.WaitForArrival(first));

    std::vector<DWORD> refused;
    for (const char* reporting : {"-exit_codes", "-verify"}) {
        CAPTURE(reporting);
        RunningProgram second(CommandLine(ProgramPath(), std::string("-nogui ") + reporting + logOption));
        CHECK(second.WaitForExit(10000) == DWORD(1618));
        refused.push_back(second.ProcessId());
    }

    // The others wait with their window shown, its rows pending, and answering.
    RunningProgram waiting(CommandLine(ProgramPath(), "-silent" + logOption));
    RunningProgram closed(CommandLine(ProgramPath(), logOption));
    for (RunningProgram* run : {&waiting, &closed}) {
        CAPTURE(run->ProcessId());
        HWND window = run->FindWindowOf();
        REQUIRE(window != nullptr);
        CHECK(PollUntil([&] { return LinesOf(ReadLines(log), run->ProcessId()).size() == 2; }, 20000));
        CHECK(IsWindowVisible(window));
        CHECK_FALSE(IsWindowEnabled(GetDlgItem(window, IDOK)));
        for (int icon : {IDC_COM_ICON, IDC_NET_ICON, IDC_ARC_ICON})
            CHECK(IconStatus(window, icon) == 0);
        DWORD_PTR answer = 0;
        CHECK(SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer) != 0);
        if (run == &closed) {
            // Its window's end ends it there, before any work.
            SendMessageA(window, WM_DESTROY, 0, 0);
            CHECK(closed.WaitForExit(10000) == DWORD(0));
        }
    }

    gate.Open();
    const std::optional<DWORD> firstEnd = first.WaitForExit();
    REQUIRE(firstEnd.has_value());
    CHECK(*firstEnd != DWORD(1618));
    CHECK(waiting.WaitForExit() == DWORD(0));
    CHECK(RegistrationCount("AsmBinder.dll") == 3);
    // Released by the last run, not abandoned.
    CHECK(WaitForSingleObject(guard.get(), 0) == WAIT_OBJECT_0);
    ReleaseMutex(guard.get());

    // Each line names its run; the waiting run works only once the first has ended.
    const std::vector<std::string> lines = ReadLines(log);
    for (const std::string& line : lines) {
        CAPTURE(line);
        const DWORD process = LineProcess(line);
        CHECK((process == first.ProcessId() || process == waiting.ProcessId() || process == closed.ProcessId() ||
               std::find(refused.begin(), refused.end(), process) != refused.end()));
    }
    for (DWORD process : refused) {
        const std::vector<std::string> texts = LinesOf(lines, process);
        REQUIRE(texts.size() == 3);
        CHECK(texts[1] == "another run is already working: nothing done");
        CHECK(texts[2] == "done, exit code 1618");
    }
    const std::vector<std::string> closedTexts = LinesOf(lines, closed.ProcessId());
    REQUIRE(closedTexts.size() == 2);
    CHECK(closedTexts[1] == "another run is already working: waiting until it ends");
    const auto firstDone = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return LineProcess(line) == first.ProcessId() && line.find("] done, exit code ") != std::string::npos;
    });
    const auto waitingWork = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return LineProcess(line) == waiting.ProcessId() && line.find("] host: ") != std::string::npos;
    });
    REQUIRE(firstDone != lines.end());
    REQUIRE(waitingWork != lines.end());
    CHECK(firstDone < waitingWork);
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

// A copy of the program whose stack reserve (taken by every thread it
// starts) is so large that no second stack finds room in its address space.
std::string CopyWithoutRoomForAThread(const ScratchFolder& folder)
{
    const std::string program = folder.Path() + "\\NoThread.exe";
    std::optional<std::string> image = ReadFileText(ProgramPath());
    REQUIRE(image.has_value());
    LONG header = 0;
    memcpy(&header, image->data() + offsetof(IMAGE_DOS_HEADER, e_lfanew), sizeof header);
    const size_t reserve = header + offsetof(IMAGE_NT_HEADERS32, OptionalHeader.SizeOfStackReserve);
    REQUIRE(reserve + sizeof(DWORD) <= image->size());
    const DWORD size = 0x38000000; // 896 MiB: the first thread's stack fits, a second one does not
    memcpy(&(*image)[reserve], &size, sizeof size);
    REQUIRE(WriteFileText(program, *image));
    return program;
}

// Runs the program to its end as its debugger: its exit code, how many
// threads it started besides its first, and whether OK was pressed.
struct DebuggedRun {
    std::optional<DWORD> exitCode;
    int threadsStarted = 0;
    bool okPressed = false;
    // The status codes of the three rows' icons as the worker thread ended,
    // read while the program stands still there: "COM 0, .NET 0, ArcObjects 0".
    std::optional<std::string> rowsAtWorkerEnd;
};

enum class Starved { No, AtWorkerStart };

// Reserves the free address space of a process in blocks of 1 MiB and more,
// with addresses of the system's choosing (Wine keeps areas of its own that
// an address-by-address sweep would miss): any later allocation of a few
// MiB fails, while small ones still fit in what is left.
void ReserveFreeAddressSpace(HANDLE process)
{
    for (SIZE_T size = SIZE_T(1) << 30; size >= (SIZE_T(1) << 20); size >>= 1)
        while (VirtualAllocEx(process, nullptr, size, MEM_RESERVE, PAGE_NOACCESS))
            ;
}

// With Starved::AtWorkerStart, the address space is taken the moment the
// worker thread is created, while the debuggee stands still. With pressOk,
// OK is pressed once the program enables it and its worker has ended.
DebuggedRun RunUnderDebugger(const std::string& commandLine, Starved starved = Starved::No, bool pressOk = false)
{
    DebuggedRun result;
    std::optional<unique_process_information> process = StartProcess(commandLine, DEBUG_ONLY_THIS_PROCESS);
    if (!process)
        return result;
    const DWORD start = GetTickCount();
    const DWORD processId = GetProcessId(process->process.get());
    DWORD worker = 0;
    DEBUG_EVENT event{};
    while (GetTickCount() - start < 60000) {
        if (!WaitForDebugEvent(&event, 50)) {
            HWND window = ProgressWindowOf(processId);
            HWND ok = window ? GetDlgItem(window, IDOK) : nullptr;
            if (pressOk && result.rowsAtWorkerEnd && !result.okPressed && ok && IsWindowVisible(window) &&
                IsWindowEnabled(ok)) {
                result.okPressed = true;
                PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
            }
            continue;
        }
        DWORD status = DBG_CONTINUE;
        if (event.dwDebugEventCode == CREATE_THREAD_DEBUG_EVENT && ++result.threadsStarted == 1) {
            worker = event.dwThreadId;
            if (starved == Starved::AtWorkerStart)
                ReserveFreeAddressSpace(process->process.get());
        } else if (event.dwDebugEventCode == EXIT_THREAD_DEBUG_EVENT && event.dwThreadId == worker) {
            // Read without a message: the program stands still until the event is continued.
            if (HWND window = ProgressWindowOf(processId))
                result.rowsAtWorkerEnd = "COM " + std::to_string(IconStatus(window, IDC_COM_ICON)) + ", .NET " +
                                         std::to_string(IconStatus(window, IDC_NET_ICON)) + ", ArcObjects " +
                                         std::to_string(IconStatus(window, IDC_ARC_ICON));
        } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                 event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
            status = DBG_EXCEPTION_NOT_HANDLED;
        else if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT)
            unique_handle(event.u.CreateProcessInfo.hFile).reset();
        else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT)
            unique_handle(event.u.LoadDll.hFile).reset();
        else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT)
            result.exitCode = event.u.ExitProcess.dwExitCode;
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (result.exitCode)
            break;
    }
    if (!result.exitCode)
        TerminateProcess(process->process.get(), 99);
    return result;
}

} // namespace

TEST_CASE("a worker thread that cannot start: the work runs on the UI thread, the run still ends")
{
    ScratchFolder folder("no thread");
    const std::string noThread = CopyWithoutRoomForAThread(folder);

    // The debugger's count proves the premise: the usual program starts its worker, this copy starts none.
    const DebuggedRun usual = RunUnderDebugger(CommandLine(ProgramPath(), "-nogui"));
    CHECK(usual.exitCode == DWORD(0));
    CHECK(usual.threadsStarted >= 1);
    const DebuggedRun withoutThread = RunUnderDebugger(CommandLine(noThread, "-nogui"));
    CHECK(withoutThread.exitCode == DWORD(0));
    CHECK(withoutThread.threadsStarted == 0);

    CheckSelfClosingRun(noThread, "-nogui", false);
    CheckSelfClosingRun(noThread, "-silent", true);
    // Without options the window waits for OK, which the work enabled.
    RunningProgram interactive(CommandLine(noThread, ""));
    HWND window = interactive.FindWindowOf();
    REQUIRE(window != nullptr);
    REQUIRE(WaitUntilEnabled(GetDlgItem(window, IDOK)));
    CHECK(interactive.Running());
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    CHECK(interactive.WaitForExit() == DWORD(0));
}

TEST_CASE("memory running out on the worker thread: the run still finishes, OK is enabled, exit code 0 or 256")
{
    // The newest product home is 16 MiB long: reading it needs a fresh block
    // of memory, which the starved worker cannot get. Binary data: its size
    // is known without the registry allocating anything itself.
    ScopedKey torvane(HKEY_LOCAL_MACHINE, "SOFTWARE\\Torvane");
    const std::string home = "C:\\" + std::string(16 << 20, 'q');
    REQUIRE(SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Torvane\\Shared\\8.7.0\\Environment", "QEX_HOME", REG_BINARY,
                     home.data(), static_cast<DWORD>(home.size())) == ERROR_SUCCESS);

    // With -exit_codes the code says that the run was cut short (256).
    for (const std::string options : {"-nogui", "-silent", "", "-nogui -exit_codes"}) {
        CAPTURE(options);
        const DebuggedRun run = RunUnderDebugger(CommandLine(ProgramPath(), options), Starved::AtWorkerStart,
                                                 options.empty());
        REQUIRE(run.threadsStarted >= 1);
        // Only a starved worker leaves every row pending: fed, it ends the COM and
        // .NET rows on failure (no utility in that home, no framework).
        CHECK(run.rowsAtWorkerEnd == std::string("COM 0, .NET 0, ArcObjects 0"));
        // Silent runs close themselves; the interactive one waits for OK, which the worker enabled.
        if (options.empty())
            CHECK(run.okPressed);
        CHECK(run.exitCode == DWORD(options == "-nogui -exit_codes" ? 256 : 0));
    }
}

TEST_CASE("a COM server that ends the worker's thread: the run still ends, and says it was cut short")
{
    ScratchFolder logs("cut short");
    const std::string log = logs.Path() + "\\run.log";
    // A check's capture, which the thread left mapped, is given up all the same.
    for (const auto& [options, exitCode] :
         {std::pair{"-nogui -exit_codes", 256}, std::pair{"", 0}, std::pair{"-verify -nogui", 256}}) {
        CAPTURE(options);
        const bool verify = std::string(options).find("-verify") != std::string::npos;
        OneServerMachine machine;
        DeleteFileA(log.c_str());
        REQUIRE(CopyFixture("com_server_exits_thread.dll", machine.home.Path() + "\\bin\\ntx86\\AsmBinder.dll"));
        RunningProgram run(CommandLine(ProgramPath(), options + std::string(" -log:\"") + log + "\""));
        if (!*options) {
            // The window waits for OK, which the UI thread enabled once the worker was gone.
            HWND window = run.FindWindowOf();
            REQUIRE(window != nullptr);
            REQUIRE(WaitUntilEnabled(GetDlgItem(window, IDOK)));
            PostMessageA(window, WM_COMMAND, IDOK, 0);
        }
        CHECK(run.WaitForExit() == DWORD(exitCode));
        CHECK(RegistrationCount("AsmBinder.dll") == (verify ? 0 : 1));
        CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\RepairQEXApps capture " + std::to_string(run.ProcessId())));
        const std::vector<std::string> lines = LinesOf(ReadLines(log), run.ProcessId());
        REQUIRE(lines.size() >= 2);
        CHECK(lines[lines.size() - 2] == "the run was cut short: the worker's thread ended inside a step");
        CHECK(lines.back() == "done, exit code " + std::to_string(exitCode));
    }
}

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
        OneServerMachine machine;
        // Held inside its work, a run that had a window would have it now.
        const RepairRun run =
            RunRepair(options, RunEnd::ByItself, nullptr, {noDialog, "", {}, false},
                      [](HWND window) { CHECK(window == nullptr); });
        CHECK(run.heldWhileWorking);
        CHECK(run.Outcome() == kQuietEnd);
    }
}
