#include "common/path.h"

#include <algorithm>

bool SameTextIgnoringCase(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

bool EndsWithBackslash(std::string_view text)
{
    return !text.empty() && text.back() == '\\';
}

std::string JoinPath(std::string_view dir, std::string_view name)
{
    std::string path(dir);
    if (!EndsWithBackslash(dir))
        path += '\\';
    path += name;
    return path;
}

bool IsPathText(std::string_view text)
{
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return c == '"' || static_cast<unsigned char>(c) < 0x20; });
}

bool IsAbsolutePath(std::string_view path)
{
    if (!IsPathText(path))
        return false;
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (path.size() >= 3 && isLetter(path[0]) && path[1] == ':' && path[2] == '\\')
        return true;
    // "\\" alone names no server; "\\.\" names the devices, no folder.
    if (path == "\\\\." || path.rfind("\\\\.\\", 0) == 0)
        return false;
    return path.size() > 2 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\';
}

std::optional<std::string> AbsoluteHome(std::optional<std::string> home)
{
    if (home && IsAbsolutePath(*home))
        return home;
    return std::nullopt;
}
