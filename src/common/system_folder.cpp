#include "common/system_folder.h"

#include "common/path.h"

std::optional<std::string> SystemFolder()
{
    char folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::nullopt;
    return std::string(folder, length);
}

HMODULE LoadSystemLibrary(const char* fileName)
{
    const std::optional<std::string> folder = SystemFolder();
    if (!folder)
        return nullptr;
    return LoadLibraryExA(JoinPath(*folder, fileName).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

