// The background thread that runs the repair or the cleanup and ends the run.
#pragma once

#include "worker/worker_context.h"

// Thread routine; its parameter is a WorkerContext*. Its thread's exit code is
// the process's: 0, or with -exit_codes the sum of what failed.
DWORD WINAPI RepairWorker(LPVOID parameter);

// The UI thread's end of a run whose worker thread ended inside a step (it
// never set workDone): the log says so, OK and Close are enabled, a silent
// run closes its window. The exit code that -exit_codes asks for: the run was
// cut short.
DWORD EndInterruptedRun(const WorkerContext& context) noexcept;
