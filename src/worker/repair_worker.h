// The background thread that runs the repair or the cleanup and ends the run.
#pragma once

#include "worker/worker_context.h"

// Thread routine; its parameter is a WorkerContext*. Its thread's exit code is
// the process's: 0, or with -exit_codes the sum of what failed.
DWORD WINAPI RepairWorker(LPVOID parameter);
