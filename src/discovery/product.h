// The maker's installations: shared versions and their product homes, the
// host extensions, the imaging product, and the side-by-side patch products.
// Every call reads the registry (or the Windows Installer) afresh. A home is
// given only when it is absolute (C:\... or \\server\...); an empty or
// relative one counts as none.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// A null or empty version gives nullopt without touching the registry.
std::optional<std::string> FindProductHome(std::optional<std::string_view> version);
std::optional<std::string> FindLatestSharedVersion();
std::optional<std::string> FindExtensionHome(std::optional<std::string_view> version);
bool IsExtensionInstalled(std::optional<std::string_view> version);
std::optional<std::string> FindLumeraHome(std::optional<std::string_view> version);
bool IsPatch1Installed();
bool IsPatch2Installed();
