// The worker thread's start record, owned by the UI thread, and the worker's
// process-wide silent flag.
#pragma once

#include <windows.h>

class OptionSet;

struct WorkerContext {
    HWND window;        // the progress window; null only if its creation failed
    OptionSet* options; // the parsed command line; never null: without it no run starts
};

// Set by the worker when "silent" or "nogui" is given: no message boxes, and
// the run closes its window itself. Written and read on the worker thread only.
extern bool silentMode;
