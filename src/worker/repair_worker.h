// The background thread that runs the repair or the cleanup and ends the run.
#pragma once

#include "worker/worker_context.h"

// Thread routine; its parameter is a WorkerContext*. Ends its thread with 0.
DWORD WINAPI RepairWorker(LPVOID parameter);
