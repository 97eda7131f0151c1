// The worker thread's start record, owned by the UI thread.
#pragma once

#include <windows.h>

class OptionSet;

struct WorkerContext {
    HWND window;        // the progress window; null only if its creation failed
    OptionSet* options; // the parsed command line; null only if allocation failed
};
