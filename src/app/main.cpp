// Process entry: options, the log, one run at a time, the progress window,
// the worker thread and the UI thread's message loop. The exit code is 0
// unless -exit_codes asks for the worker's account of what failed.
#include "app/progress_dialog.h"
#include "common/control_ids.h"
#include "common/run_log.h"
#include "common/system_folder.h"
#include "common/unique_any.h"
#include "options/option_set.h"
#include "version.h"
#include "worker/repair_worker.h"

#include <windows.h>

#include <new>
#include <optional>
#include <string>

namespace {

constexpr char CommonControlsLibrary[] = "comctl32.dll";
constexpr char InitCommonControlsExport[] = "InitCommonControls";

// One run at a time on the whole machine: two runs would sweep the same
// modules and start the same patch installer together, and the second
// installer would fail. In the global namespace, so that a deployment job
// and a login script in another session see each other.
constexpr char RunGuardName[] = "Global\\TorvaneRepairQEXAppsRun";
// ERROR_INSTALL_ALREADY_RUNNING: deployment systems read it as "try again later".
constexpr DWORD AnotherRunExitCode = 1618;

// Every later library search of the process, the dependencies of the modules
// that the repair loads included, looks in the system folder only (after the
// module's own folder, for LOAD_WITH_ALTERED_SEARCH_PATH): never in the
// current folder, nor beside the program, where a download folder may hold
// planted libraries. The current folder is also dropped from the older
// search order, which LOAD_WITH_ALTERED_SEARCH_PATH still follows and which
// Windows without SetDefaultDllDirectories (before 8, unless updated) has
// alone. Both are looked up: the oldest Windows XP lacks them.
void RestrictLibrarySearch()
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories)
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    using SetDllDirectoryFunction = BOOL(WINAPI*)(const char*);
    const auto setDllDirectory = reinterpret_cast<SetDllDirectoryFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
    if (setDllDirectory)
        setDllDirectory("");
}

// Registers the progress-bar class of the dialog template. The common
// controls come from the system folder only, never from beside the program.
void InitCommonControlsFromSystem()
{
    using InitFunction = void(WINAPI*)();
    HMODULE controls = LoadSystemLibrary(CommonControlsLibrary);
    const auto init = controls ? reinterpret_cast<InitFunction>(
                                     reinterpret_cast<void*>(GetProcAddress(controls, InitCommonControlsExport)))
                               : nullptr;
    if (init)
        init();
}

// One message to the dialog or its window procedure; false once the
// window is gone.
bool Dispatch(HWND window, MSG& message)
{
    if (!(IsWindow(window) && IsDialogMessageA(window, &message))) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return IsWindow(window);
}

// Runs until the quit message arrives, the window is gone, or the worker's
// thread (when there is one) has ended; true for the last. A thread that
// ends inside a step (a module calling ExitThread) would otherwise leave the
// loop waiting for a finish that never comes.
bool RunMessageLoop(HWND window, HANDLE worker)
{
    if (!IsWindow(window))
        return false;
    MSG message;
    for (;;) {
        if (worker) {
            const DWORD result = MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_ALLINPUT);
            if (result == WAIT_OBJECT_0)
                return true;
            if (result != WAIT_OBJECT_0 + 1)
                worker = nullptr; // the wait itself failed: messages alone end the loop
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                if (message.message == WM_QUIT || !Dispatch(window, message))
                    return false;
            continue;
        }
        const BOOL result = GetMessageA(&message, nullptr, 0, 0);
        if (result == 0)
            return false;
        if (result != -1 && !Dispatch(window, message))
            return false;
        if (result == -1 && !IsWindow(window))
            return false;
    }
}

// The worker still reads the context, the options and the window handle after
// it has enabled OK, so the UI thread waits for it before they go away. It
// keeps dispatching meanwhile: a worker blocked in SendMessageA to this
// thread is served, never deadlocked.
void WaitForWorker(const unique_handle& worker)
{
    if (!worker)
        return;
    for (;;) {
        DWORD result = MsgWaitForMultipleObjects(1, worker.addressof(), FALSE, INFINITE, QS_ALLINPUT);
        if (result != WAIT_OBJECT_0 + 1)
            return;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

// The run guard, and this thread's hold on it. The hold goes first, so the
// guard is released, not abandoned, when the run ends.
struct RunGuard {
    unique_handle mutex;
    unique_mutex_ownership held;
    // Another run holds it. Without a guard at all (its name taken by another
    // kind of object, say) the run goes on unguarded, as runs did before.
    bool Busy() const { return mutex && !held; }
};

// Free, or left abandoned by a run that died: either way it is this run's now.
bool Took(DWORD waitResult)
{
    return waitResult == WAIT_OBJECT_0 || waitResult == WAIT_ABANDONED;
}

// The guard, held at once when no other run holds it.
RunGuard OpenRunGuard()
{
    RunGuard guard;
    guard.mutex.reset(CreateMutexA(nullptr, FALSE, RunGuardName));
    if (guard.mutex && Took(WaitForSingleObject(guard.mutex.get(), 0)))
        guard.held.reset(guard.mutex.get());
    return guard;
}

// Waits until the run that holds the guard ends. The window keeps answering
// meanwhile: it paints, and it is never taken for hung. False when the quit
// message comes first (the window went): the run ends there, without working.
bool WaitForOtherRun(RunGuard& guard, HWND window)
{
    for (;;) {
        const DWORD result = MsgWaitForMultipleObjects(1, guard.mutex.addressof(), FALSE, INFINITE, QS_ALLINPUT);
        if (result != WAIT_OBJECT_0 + 1) {
            // Ours now; or no wait is possible, and the run goes on unguarded.
            if (Took(result))
                guard.held.reset(guard.mutex.get());
            return true;
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return false;
            Dispatch(window, message);
        }
    }
}

// This program's file as the loader names it; empty when it cannot be read.
std::string ModulePath()
{
    std::string path(MAX_PATH, '\0');
    while (path.size() <= 32768) {
        const DWORD length = GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2); // cut short: try again with more room
    }
    return {};
}

// The same file's short (8.3) form; empty when it has none to give.
std::string ShortPathOf(const std::string& path)
{
    if (path.empty())
        return {};
    const DWORD size = GetShortPathNameA(path.c_str(), nullptr, 0);
    if (size == 0)
        return {};
    std::string shortPath(size, '\0');
    const DWORD length = GetShortPathNameA(path.c_str(), &shortPath[0], size);
    if (length == 0 || length >= size)
        return {};
    shortPath.resize(length);
    return shortPath;
}

// -log:"path", opened once before the worker starts. A log that cannot be
// opened changes nothing else: no message, the run goes on without it.
void StartLog(const OptionSet& options)
{
    if (!options.Has("log") || !OpenRunLogFile(options.GetValue("log").value_or("")))
        return;
    LogLine({"RepairQEXApps ", REPAIR_VERSION, ", command line: ", GetCommandLineA()});
}

// The worker's thread ends with the run's exit code.
DWORD ExitCodeOf(const unique_handle& worker)
{
    DWORD exitCode = 0;
    if (!GetExitCodeThread(worker.get(), &exitCode) || exitCode == STILL_ACTIVE)
        return 0;
    return exitCode;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    appInstance = instance;
    RestrictLibrarySearch();

    WorkerContext context{nullptr, nullptr};
    // The program's own path is skipped when the line starts with it: a "-"
    // or "/" in the folder it lives in must not become an option, and a
    // launcher may pass the options alone. Spellings compare in their full,
    // long form: the loader, too, may name the program as it was started,
    // short segments and all. Out of memory here, nothing is known of what
    // was asked for, so nothing is done.
    std::optional<OptionSet> options;
    try {
        const std::string loaderPath = ModulePath();
        const std::string modulePath = FullLongPath(loaderPath).value_or(loaderPath);
        options.emplace(SkipProgramPath(GetCommandLineA(), modulePath, ShortPathOf(modulePath), FullLongPath),
                        false);
        StartLog(*options);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    context.options = &*options;

    // A run that must report at once (-exit_codes, -verify) does not wait for
    // another one: it does nothing and says so.
    RunGuard guard = OpenRunGuard();
    if (guard.Busy() && (options->Has("exit_codes") || options->Has("verify"))) {
        LogLine({"another run is already working: nothing done"});
        LogLine({"done, exit code ", std::to_string(AnotherRunExitCode)});
        return static_cast<int>(AnotherRunExitCode);
    }

    InitCommonControlsFromSystem();

    context.window = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressDialogProc, 0);
    if (!options->Has("nogui"))
        ShowWindow(context.window, SW_SHOW);

    // The window shows its pending rows while the other run works.
    if (guard.Busy()) {
        LogLine({"another run is already working: waiting until it ends"});
        if (!WaitForOtherRun(guard, context.window))
            return 0;
    }

    SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
    DWORD threadId = 0;
    unique_handle worker(CreateThread(&security, 0, RepairWorker, &context, 0, &threadId));
    // Without a thread of its own the work runs here, before the loop: the
    // window answers only once it is done, but the run still ends by itself
    // or by OK.
    DWORD exitCode = worker ? 0 : RepairWorker(&context);

    if (RunMessageLoop(context.window, worker.get())) {
        // The worker's thread has ended. Ended inside a step, the run is
        // finished here: OK and Close are enabled, a silent run closes itself.
        if (!context.workDone)
            exitCode = EndInterruptedRun(context);
        RunMessageLoop(context.window, nullptr);
    }
    WaitForWorker(worker);
    if (worker && context.workDone)
        exitCode = ExitCodeOf(worker);
    return static_cast<int>(exitCode);
}
