#include "repair/registry_repairs.h"

#include "common/registry.h"
#include "common/unique_any.h"
#include "discovery/host.h"
#include "discovery/product.h"

#include <windows.h>

#include <optional>
#include <string>

namespace {

// Only this host version looks for the raster component through these values.
const char rasterHostVersion[] = "9.0.0.0";
// Either installation makes the raster environment worth writing.
const char rasterSharedVersion[] = "8.7.0";
const char rasterExtensionVersion[] = "9.0";

const char rasterKey[] = "Software\\ESRI\\Raster";
const char rasterEnvironmentKey[] = "Software\\ESRI\\Raster\\Environment";
const char rasterLocatorValue[] = "QEX";
const char rasterLocatorData[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\ESRI\\Raster";
const char homeValue[] = "QEX_HOME";
const char lumeraHomeValue[] = "LUMERA_HOME";
const char archValue[] = "QEX_ARCH";
const char archData[] = "NTx86";
const char archModeValue[] = "QEX_ARCH_MODE";
const char archModeData[] = "";
const char defaultRasterHome[] = "C:\\Program Files\\Common Files\\ESRI\\Raster\\";

const char threadingModelKey[] = "CLSID\\{0F9ED691-6672-4C14-A1E5-B748E75A9E93}\\InprocServer32";
const char threadingModelValue[] = "ThreadingModel";
const char threadingModelData[] = "Both";

// Exact, case-sensitive comparison of the whole string: "9.0" and "9.0.0.0 " do not match.
bool IsRasterHost(const std::optional<std::string>& hostVersion)
{
    return hostVersion && *hostVersion == rasterHostVersion;
}

// The key must already exist: a host that never made it does not use it.
// Each write stands alone; a failed one does not stop the next.
void WriteRasterLocator()
{
    unique_hkey key = OpenKey(HKEY_LOCAL_MACHINE, rasterKey, KEY_WRITE);
    if (!key)
        return;
    WriteStringValue(key.get(), rasterLocatorValue, rasterLocatorData);
}

void WriteRasterHome(const std::string& rasterHome)
{
    unique_hkey key = OpenKey(HKEY_LOCAL_MACHINE, rasterEnvironmentKey, KEY_WRITE);
    if (!key)
        return;
    WriteStringValue(key.get(), homeValue, rasterHome);
    WriteStringValue(key.get(), lumeraHomeValue, rasterHome);
    WriteStringValue(key.get(), archValue, archData);
    WriteStringValue(key.get(), archModeValue, archModeData);
}

} // namespace

void WriteRasterEnvironment()
{
    if (!IsRasterHost(FindHostVersion()))
        return;

    // The product home only tells that the maker's software is there; it is not written.
    const std::optional<std::string> productHome = FindProductHome(rasterSharedVersion);
    const std::optional<std::string> extensionHome = FindExtensionHome(rasterExtensionVersion);
    if (!productHome && !extensionHome)
        return;

    WriteRasterLocator();
    WriteRasterHome(extensionHome.value_or(defaultRasterHome));
}

bool FixThreadingModel()
{
    unique_hkey key = OpenKey(HKEY_CLASSES_ROOT, threadingModelKey, KEY_ALL_ACCESS);
    if (!key)
        return false;
    return WriteStringValue(key.get(), threadingModelValue, threadingModelData);
}
