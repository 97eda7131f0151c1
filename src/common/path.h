#pragma once

#include <optional>
#include <string>
#include <string_view>

// dir + "\" + name, without a second backslash when dir already ends with one.
std::string JoinPath(std::string_view dir, std::string_view name);

// The same text when ASCII letters compare without regard to case, as
// registry names and Windows paths do.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

// True when text ends with a backslash.
bool EndsWithBackslash(std::string_view text);

// No double quote and no control character (tab, CR, LF, ...): Windows
// allows none in a path, and a home holding one would reach a child's
// command line as more than a path.
bool IsPathText(std::string_view text);

// A drive letter with its colon and backslash ("C:\..."), a UNC path
// ("\\server\...") or an extended one ("\\?\C:\..."), holding path text
// only. "C:x", "\x" and "x" depend on the current drive or folder; "\\.\..."
// names a device.
bool IsAbsolutePath(std::string_view path);

// A home read from the registry counts only when it is absolute: an empty or
// relative one would make every path built on it land in the current folder
// or at the root of the current drive.
std::optional<std::string> AbsoluteHome(std::optional<std::string> home);
