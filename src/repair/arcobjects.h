// The host's ArcObjects libraries that its version needs, on the ArcObjects row.
#pragma once

#include "repair/step_mode.h"

#include <windows.h>

#include <string_view>

// hostDirectory may or may not end with a backslash. window may be null.
// False when a library's registration failed. registryFailed, when given, is
// set when the raster environment written at the end could not be written.
// StepMode::Verify checks each library and the raster environment instead:
// false, and registryFailed set, for what is not in place.
bool RegisterArcObjects(std::string_view hostDirectory, HWND window, bool* registryFailed = nullptr,
                        StepMode mode = StepMode::Repair);
