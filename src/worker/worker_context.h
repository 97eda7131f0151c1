// The worker thread's start record, owned by the UI thread, and the worker's
// process-wide silent flag.
#pragma once

#include <windows.h>

class OptionSet;

struct WorkerContext {
    HWND window;        // the progress window; null only if its creation failed
    OptionSet* options; // the parsed command line; never null: without it no run starts
    // Set by the worker once its work is counted: a thread that ends without
    // it was ended inside a step (a module that calls ExitThread).
    bool workDone = false;
};

// Set by the worker when "silent" or "nogui" is given: no message boxes, and
// the run closes its window itself. Written on the worker thread before
// anything reads it; read there, and by the UI thread once the worker's
// thread has ended.
extern bool silentMode;
