#include "support/program_driver.h"

#include "common/process.h"
#include "fixtures/com/gate.h"
#include "support/bench.h"
#include "support/com_markers.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>
#include <vector>

RunningProgram::RunningProgram(const std::string& commandLine, const char* workingDirectory,
                               const char* applicationName)
{
    MarkerKey(); // the program's stand-ins record where this process reads
    std::optional<unique_process_information> started =
        StartProcess(commandLine, 0, workingDirectory, applicationName);
    if (!started)
        return;
    process_ = std::move(started->process);
    processId_ = GetProcessId(process_.get());
}

RunningProgram::~RunningProgram()
{
    if (Running()) {
        TerminateProcess(process_.get(), 99);
        WaitForSingleObject(process_.get(), 10000);
    }
}

bool RunningProgram::Running() const
{
    return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

bool RunningProgram::WaitFor(HANDLE event, DWORD timeoutMs) const
{
    if (!process_)
        return false;
    const HANDLE handles[] = {event, process_.get()};
    return WaitForMultipleObjects(2, handles, FALSE, timeoutMs) == WAIT_OBJECT_0;
}

RunGate::RunGate()
    : arrived_(CreateEventA(nullptr, TRUE, FALSE, FIXTURE_GATE_ARRIVED)),
      open_(CreateEventA(nullptr, TRUE, FALSE, FIXTURE_GATE_OPEN))
{
    // Events that outlived an earlier owner keep their state: start closed.
    ResetEvent(arrived_.get());
    ResetEvent(open_.get());
}

RunGate::~RunGate()
{
    Open();
}

bool RunGate::WaitForArrival(const RunningProgram& program, DWORD timeoutMs) const
{
    return program.WaitFor(arrived_.get(), timeoutMs);
}

void RunGate::Open() const
{
    SetEvent(open_.get());
}

ShowWatch::ShowWatch()
    : module_(LoadLibraryA(FixturePath("com_server.dll").c_str())), before_(MarkerSequence().size())
{
    const auto watch = reinterpret_cast<HOOKPROC>(
        reinterpret_cast<void*>(GetProcAddress(module_.get(), "WatchShow")));
    if (watch)
        hook_ = SetWindowsHookExA(WH_CALLWNDPROC, watch, module_.get(), 0);
}

ShowWatch::~ShowWatch()
{
    if (hook_)
        UnhookWindowsHookEx(hook_);
}

bool ShowWatch::Shown(const std::string& title) const
{
    const std::vector<std::string> lines = MarkerSequence();
    return std::find(lines.begin() + std::min(before_, lines.size()), lines.end(), "show " + title) != lines.end();
}

namespace {
BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<std::pair<DWORD, std::vector<HWND>>*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->first)
        search->second.push_back(window);
    return TRUE;
}
} // namespace

std::vector<HWND> WindowsOf(DWORD processId)
{
    std::pair<DWORD, std::vector<HWND>> search{processId, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

std::string WindowTitle(HWND window)
{
    char title[128] = {};
    GetWindowTextA(window, title, sizeof title);
    return title;
}

HWND ProgressWindowOf(DWORD processId)
{
    for (HWND window : WindowsOf(processId))
        if (WindowTitle(window) == kWindowTitle)
            return window;
    return nullptr;
}

HWND RunningProgram::FindWindowOf(DWORD timeoutMs)
{
    HWND found = nullptr;
    PollUntil([&] {
        found = ProgressWindowOf(processId_);
        // Found during its creation, the dialog may lack its controls or not
        // have run WM_INITDIALOG yet (OK still enabled). Shown, or OK
        // disabled, proves the initialisation is done.
        HWND ok = found ? GetDlgItem(found, IDOK) : nullptr;
        if (!(ok && (IsWindowVisible(found) || !IsWindowEnabled(ok))))
            found = nullptr;
        return found || !Running();
    }, timeoutMs);
    return found;
}

std::optional<DWORD> RunningProgram::WaitForExit(DWORD timeoutMs)
{
    if (!process_ || WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return code;
}

bool WaitUntilEnabled(HWND control, DWORD timeoutMs)
{
    return PollUntil([&] { return IsWindowEnabled(control) || !IsWindow(control); }, timeoutMs, 1) &&
           IsWindowEnabled(control);
}

bool WaitUntilVisible(HWND window, DWORD timeoutMs)
{
    return PollUntil([&] { return IsWindowVisible(window) || !IsWindow(window); }, timeoutMs, 1) &&
           IsWindowVisible(window);
}

std::string ControlText(HWND dialog, int id)
{
    char text[512] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

int BarPosition(HWND dialog, int id)
{
    return static_cast<int>(SendMessageA(GetDlgItem(dialog, id), PBM_GETPOS, 0, 0));
}

int IconStatus(HWND dialog, int id)
{
    return static_cast<int>(GetWindowLongPtrA(GetDlgItem(dialog, id), GWLP_USERDATA));
}

bool ControlVisible(HWND dialog, int id)
{
    return (GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

bool CloseCommandEnabled(HWND dialog)
{
    HMENU menu = GetSystemMenu(dialog, FALSE);
    if (!menu)
        return false;
    const UINT state = GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND);
    return state != UINT(-1) && !(state & (MF_GRAYED | MF_DISABLED));
}

void PressKey(HWND dialog, WORD virtualKey)
{
    HWND target = GetDlgItem(dialog, IDOK);
    PostMessageA(target ? target : dialog, WM_KEYDOWN, virtualKey, 1);
    PostMessageA(target ? target : dialog, WM_KEYUP, virtualKey, 0xC0000001);
}
