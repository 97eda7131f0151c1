// Whether a file already holds another file's bytes, read and never written.
#pragma once

#include <optional>
#include <string>

// nullopt when target holds the same bytes as source; otherwise what differs
// ("the target is missing", "the target differs") or what could not be read,
// with the error code.
std::optional<std::string> FileDifference(const std::string& source, const std::string& target);
