// Replacing one file with a complete copy of another, as an elevated program
// may in a folder that other users can write to.
#pragma once

#include <optional>
#include <string>

// Copies source into a file of our own, created beside target under a fresh
// name (AF????.tmp), flushes it, and renames it over target, all through the
// one handle that created it: no name is opened twice, so a name swapped for
// a link between two calls leads nowhere. A failed attempt removes that file
// through the same handle; the target then stays as it was, and nothing else
// in the folder is ever touched. nullopt when target was replaced; otherwise
// what failed, with the error code.
std::optional<std::string> ReplaceWithCompleteCopy(const std::string& source, const std::string& target);
