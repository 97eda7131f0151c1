// The host's ArcObjects libraries that its version needs, on the ArcObjects row.
#pragma once

#include <windows.h>

#include <string_view>

// hostDirectory may or may not end with a backslash. window may be null.
bool RegisterArcObjects(std::string_view hostDirectory, HWND window);
