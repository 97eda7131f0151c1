#include "discovery/host.h"

#include "common/path.h"
#include "common/registry.h"

#include <windows.h>

namespace {

const char CoreRuntimeKey[] = "SOFTWARE\\ESRI\\CoreRuntime";
const char DesktopKey[] = "SOFTWARE\\ESRI\\ArcInfo\\Desktop\\8.0";
const char RasterEnvironmentKey[] = "SOFTWARE\\ESRI\\Raster\\Environment";
const char CurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const char DefaultRasterHome[] = "C:\\Program Files\\Common Files\\ESRI\\Raster\\";
const char RasterFolder[] = "ESRI\\Raster\\"; // among the common files

// The "InstallDir" of key when it names a host directory. An empty or
// relative one would be tested against the current drive or folder.
std::optional<std::string> HostHomeCandidate(const char* subKey)
{
    std::optional<std::string> home = AbsoluteHome(ReadRegistryString(HKEY_LOCAL_MACHINE, subKey, "InstallDir"));
    if (home && IsHostDirectory(*home))
        return home;
    return std::nullopt;
}

} // namespace

bool IsHostDirectory(std::string_view directory)
{
    // A zero byte would cut the path short and test another folder.
    if (directory.find('\0') != std::string_view::npos)
        return false;
    // The separator is always inserted: "C:\arcgis\" gives "C:\arcgis\\bin\AfCore.dll",
    // which Windows resolves as a single separator.
    const std::string path = std::string(directory) + "\\bin\\AfCore.dll";
    WIN32_FIND_DATAA data;
    unique_find search(FindFirstFileA(path.c_str(), &data));
    return static_cast<bool>(search);
}

std::optional<std::string> FindHostHome()
{
    if (std::optional<std::string> home = HostHomeCandidate(CoreRuntimeKey))
        return home;
    return HostHomeCandidate(DesktopKey);
}

std::optional<std::string> FindHostVersion()
{
    // The second key is asked only when the first is missing, not when it lacks the value.
    if (unique_hkey key = OpenKey(HKEY_LOCAL_MACHINE, CoreRuntimeKey, KEY_READ))
        return ReadStringValue(key.get(), "RealVersion");
    return ReadRegistryString(HKEY_LOCAL_MACHINE, DesktopKey, "RealVersion");
}

std::optional<std::string> FindRasterHome()
{
    const std::optional<std::string> version = FindHostVersion();
    if (!version)
        return std::nullopt;

    // When the environment key exists, it alone decides, whatever the version.
    if (unique_hkey key = OpenKey(HKEY_LOCAL_MACHINE, RasterEnvironmentKey, KEY_READ)) {
        if (std::optional<std::string> home = AbsoluteHome(ReadStringValue(key.get(), "QEX_HOME")))
            return home;
        return AbsoluteHome(ReadStringValue(key.get(), "LUMERA_HOME"));
    }

    // Versions are matched as whole strings, byte for byte: "9.1.0" is not "9.1".
    if (*version == "9.0.0.0" || *version == "9.1")
        return CommonRasterHome();
    if (*version == "8.3.0") {
        const std::optional<std::string> hostHome = FindHostHome();
        if (!hostHome)
            return std::nullopt;
        return *hostHome + "\\Raster\\";
    }
    return std::nullopt;
}

std::string CommonRasterHome()
{
    const std::optional<std::string> commonFiles =
        AbsoluteHome(ReadRegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey, "CommonFilesDir"));
    // Without a usable value, as without the key, the standard location.
    if (!commonFiles)
        return DefaultRasterHome;
    return JoinPath(*commonFiles, RasterFolder);
}
