// Where the host (ESRI ArcGIS) is installed, which version it is, and where
// its raster component lives, from HKLM. Every call reads afresh. A home is
// given only when it is absolute (C:\... or \\server\...): an empty or
// relative one would make every path built on it land in the current folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// True when "<directory>\bin\AfCore.dll" exists (the backslash is always inserted).
bool IsHostDirectory(std::string_view directory);
std::optional<std::string> FindHostHome();
std::optional<std::string> FindHostVersion();
std::optional<std::string> FindRasterHome();
// The raster component's folder among the machine's common files:
// "CommonFilesDir" joined with "ESRI\Raster\"; the standard "C:\Program Files\Common
// Files\ESRI\Raster\" when that value is missing, empty or not absolute.
std::string CommonRasterHome();
