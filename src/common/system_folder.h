#pragma once

#include <windows.h>

#include <optional>
#include <string>

// The system folder (C:\windows\system32, or SysWOW64 for a 32-bit program on
// 64-bit Windows); nullopt when Windows cannot say.
std::optional<std::string> SystemFolder();

// A system library loaded by its full path in the system folder, its own
// dependencies looked for there as well: never a copy planted beside the
// program or in the current folder. Stays loaded for the rest of the process.
// Null when it cannot be loaded.
HMODULE LoadSystemLibrary(const char* fileName) noexcept;

// The path made full against the current folder, as GetFullPathNameA makes
// it; nullopt when it cannot.
std::optional<std::string> FullPath(const std::string& path);

// The same, with every short (8.3) segment written long as GetLongPathNameA
// writes it; the last name stays as written when no such file is there.
// nullopt when the path cannot be made full.
std::optional<std::string> FullLongPath(const std::string& path);

// True when the path names a folder that is there.
bool FolderExists(const std::string& path);

// A directory typed on the command line. Empty, holding what no path holds,
// or naming a device ("\\.\..."), is no directory; a relative one is made
// absolute against the current folder, as its author meant.
std::optional<std::string> TypedHome(std::optional<std::string> typed);
