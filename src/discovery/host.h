// Where the host (ESRI ArcGIS) is installed, which version it is, and where
// its raster component lives, from HKLM. Every call reads afresh.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// True when "<directory>\bin\AfCore.dll" exists (the backslash is always inserted).
bool IsHostDirectory(std::string_view directory);
std::optional<std::string> FindHostHome();
std::optional<std::string> FindHostVersion();
std::optional<std::string> FindRasterHome();
