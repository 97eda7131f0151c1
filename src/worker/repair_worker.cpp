#include "worker/repair_worker.h"

#include "common/messages.h"
#include "options/option_set.h"

namespace {

// Written by the worker before anything reads it; read by the worker alone.
bool silentMode = false;

bool HasOption(const WorkerContext& context, const char* name)
{
    return context.options && context.options->Has(name);
}

// Lets the user close the window; in silent mode closes it.
void Finish(const WorkerContext& context)
{
    EnableWindow(GetDlgItem(context.window, IDOK), TRUE);
    if (HMENU menu = GetSystemMenu(context.window, FALSE))
        EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
    if (silentMode)
        SendMessageA(context.window, UM_FINISH, 0, 0);
}

} // namespace

DWORD WINAPI RepairWorker(LPVOID parameter)
{
    const WorkerContext& context = *static_cast<const WorkerContext*>(parameter);
    if (HasOption(context, "silent") || HasOption(context, "nogui"))
        silentMode = true;

    Finish(context);
    ExitThread(0);
}
