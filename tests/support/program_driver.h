// Drives the real RepairQEXApps.exe from another process, as a user would:
// starts it with an exact command line, finds its window, reads the window's
// state and presses keys or OK.
#pragma once

#include "common/unique_any.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

constexpr char kWindowTitle[] = "Torvane Application Repair Utility";

class RunningProgram {
public:
    // commandLine is passed to CreateProcessA as it is; so is applicationName,
    // which launchers may give with a command line of options alone.
    explicit RunningProgram(const std::string& commandLine, const char* workingDirectory = nullptr,
                            const char* applicationName = nullptr);
    ~RunningProgram(); // kills a program that is still running
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool Started() const { return static_cast<bool>(process_); }
    DWORD ProcessId() const { return processId_; }
    // The program's progress window, once it is initialised (waits up to
    // timeoutMs); null when it never appears or the program ends first.
    HWND FindWindowOf(DWORD timeoutMs = 20000);
    // Exit code, or nullopt when it has not ended within timeoutMs.
    std::optional<DWORD> WaitForExit(DWORD timeoutMs = 60000);
    bool Running() const;
    // Waits until the event is signalled; false when the program ends first or on time-out.
    bool WaitFor(HANDLE event, DWORD timeoutMs) const;

private:
    unique_handle process_;
    DWORD processId_ = 0;
};

// Holds a run inside its work while the owner lives, so that a test can look
// at the program while it works, however quick the rest of the run is: the
// stand-in COM servers, loaded by the program, and the stand-in regasm.exe
// (tests/fixtures/com/gate.h) signal that they arrived and wait until Open().
// The owner's end opens the gate.
class RunGate {
public:
    RunGate();
    ~RunGate();
    RunGate(const RunGate&) = delete;
    RunGate& operator=(const RunGate&) = delete;

    // Waits until a stand-in arrives; false when the program ends first or on time-out.
    bool WaitForArrival(const RunningProgram& program, DWORD timeoutMs = 60000) const;
    void Open() const;

private:
    unique_handle arrived_;
    unique_handle open_;
};

// While the owner lives, every process of the session that receives a
// message runs the stand-in COM server's WatchShow hook, which records each
// top-level window shown (see com_markers.h): a test sees a window that was
// shown at any moment, however briefly.
class ShowWatch {
public:
    ShowWatch();
    ~ShowWatch();
    ShowWatch(const ShowWatch&) = delete;
    ShowWatch& operator=(const ShowWatch&) = delete;

    bool Active() const { return hook_ != nullptr; }
    // A window of this title was shown since the owner was made (nothing
    // recorded was cleared since).
    bool Shown(const std::string& title) const;

private:
    unique_hmodule module_;
    HHOOK hook_ = nullptr;
    size_t before_;
};

// The top-level windows of a process, in Z order, and a window's title.
std::vector<HWND> WindowsOf(DWORD processId);
std::string WindowTitle(HWND window);
// The process's progress window as it stands now, initialised or not; null when it has none.
HWND ProgressWindowOf(DWORD processId);

// Waits until the control is enabled; false on time-out.
bool WaitUntilEnabled(HWND control, DWORD timeoutMs = 60000);

// Waits until the window is visible; false when it ends or times out first.
bool WaitUntilVisible(HWND window, DWORD timeoutMs = 20000);

// The state a test reads back from the window.
std::string ControlText(HWND dialog, int id);
int BarPosition(HWND dialog, int id);
// The status code the control keeps for its icon (0 pending, 1 success, 2 failure).
int IconStatus(HWND dialog, int id);
bool ControlVisible(HWND dialog, int id);
bool CloseCommandEnabled(HWND dialog);

// A keystroke as the keyboard would deliver it to the focused control.
void PressKey(HWND dialog, WORD virtualKey);
