#include "common/path.h"

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
