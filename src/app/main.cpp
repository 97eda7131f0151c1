// Process entry: options, the progress window, the worker thread and the UI
// thread's message loop. The exit code is always 0.
#include "app/progress_dialog.h"
#include "common/control_ids.h"
#include "common/system_folder.h"
#include "common/unique_any.h"
#include "options/option_set.h"
#include "worker/repair_worker.h"

#include <windows.h>

#include <memory>
#include <new>

namespace {

constexpr char kCommonControls[] = "comctl32.dll";
constexpr char kInitCommonControls[] = "InitCommonControls";

// Every later library search of the process, the dependencies of the modules
// that the repair loads included, looks in the system folder only (after the
// module's own folder, for LOAD_WITH_ALTERED_SEARCH_PATH): never in the
// current folder, nor beside the program, where a download folder may hold
// planted libraries. Windows without SetDefaultDllDirectories (before 8,
// unless updated) at least drops the current folder. Both are looked up: the
// oldest Windows XP lacks the second one too.
void RestrictLibrarySearch()
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
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
    HMODULE controls = LoadSystemLibrary(kCommonControls);
    const auto init = controls ? reinterpret_cast<InitFunction>(
                                     reinterpret_cast<void*>(GetProcAddress(controls, kInitCommonControls)))
                               : nullptr;
    if (init)
        init();
}

// Runs until the quit message arrives or the window is gone.
void RunMessageLoop(HWND window)
{
    if (!IsWindow(window))
        return;
    MSG message;
    for (;;) {
        BOOL result = GetMessageA(&message, nullptr, 0, 0);
        if (result == 0)
            break;
        if (result != -1 && !(IsWindow(window) && IsDialogMessageA(window, &message))) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (!IsWindow(window))
            break;
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

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    appInstance = instance;
    RestrictLibrarySearch();

    WorkerContext context{nullptr, nullptr};
    // The program's own path is skipped: a "-" or "/" in the folder it lives
    // in must not become an option.
    std::unique_ptr<OptionSet> options(new (std::nothrow) OptionSet(SkipProgramPath(GetCommandLineA()), false));
    context.options = options.get();

    InitCommonControlsFromSystem();

    context.window = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressDialogProc, 0);
    if (!(context.options && context.options->Has("nogui")))
        ShowWindow(context.window, SW_SHOW);

    SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
    DWORD threadId = 0;
    unique_handle worker(CreateThread(&security, 0, RepairWorker, &context, 0, &threadId));

    RunMessageLoop(context.window);
    WaitForWorker(worker);
    return 0;
}
