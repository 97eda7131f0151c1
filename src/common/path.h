#pragma once

#include <string>
#include <string_view>

// dir + "\" + name, without a second backslash when dir already ends with one.
std::string JoinPath(std::string_view dir, std::string_view name);

// True when text ends with a backslash.
bool EndsWithBackslash(std::string_view text);
