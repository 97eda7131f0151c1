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
const char RasterHostVersion[] = "9.0.0.0";
// Either installation makes the raster environment worth writing.
const char RasterSharedVersion[] = "8.7.0";
const char RasterExtensionVersion[] = "9.0";

const char RasterKey[] = "Software\\ESRI\\Raster";
const char RasterEnvironmentKey[] = "Software\\ESRI\\Raster\\Environment";
const char RasterLocatorValue[] = "QEX";
const char RasterLocatorData[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\ESRI\\Raster";
const char HomeValue[] = "QEX_HOME";
const char LumeraHomeValue[] = "LUMERA_HOME";
const char ArchValue[] = "QEX_ARCH";
const char ArchData[] = "NTx86";
const char ArchModeValue[] = "QEX_ARCH_MODE";
const char ArchModeData[] = "";

const char ThreadingModelKey[] = "CLSID\\{0F9ED691-6672-4C14-A1E5-B748E75A9E93}\\InprocServer32";
const char ThreadingModelValue[] = "ThreadingModel";
const char ThreadingModelData[] = "Both";

// Exact, case-sensitive comparison of the whole string: "9.0" and "9.0.0.0 " do not match.
bool IsRasterHost(const std::optional<std::string>& hostVersion)
{
    return hostVersion && *hostVersion == RasterHostVersion;
}

// The key must already exist: a host that never made it does not use it.
// Each write stands alone; a failed one does not stop the next.
void WriteRasterLocator()
{
    unique_hkey key = OpenKey(HKEY_LOCAL_MACHINE, RasterKey, KEY_WRITE);
    if (!key)
        return;
    WriteStringValue(key.get(), RasterLocatorValue, RasterLocatorData);
}

void WriteRasterHome(const std::string& rasterHome)
{
    unique_hkey key = OpenKey(HKEY_LOCAL_MACHINE, RasterEnvironmentKey, KEY_WRITE);
    if (!key)
        return;
    WriteStringValue(key.get(), HomeValue, rasterHome);
    WriteStringValue(key.get(), LumeraHomeValue, rasterHome);
    WriteStringValue(key.get(), ArchValue, ArchData);
    WriteStringValue(key.get(), ArchModeValue, ArchModeData);
}

} // namespace

void WriteRasterEnvironment()
{
    if (!IsRasterHost(FindHostVersion()))
        return;

    // The product home only tells that the maker's software is there; it is not written.
    const std::optional<std::string> productHome = FindProductHome(RasterSharedVersion);
    const std::optional<std::string> extensionHome = FindExtensionHome(RasterExtensionVersion);
    if (!productHome && !extensionHome)
        return;

    WriteRasterLocator();
    // Without an extension, the folder that the host itself looks in when
    // these values are missing: the value written is the folder read back.
    WriteRasterHome(extensionHome ? *extensionHome : CommonRasterHome());
}

bool FixThreadingModel()
{
    unique_hkey key = OpenKey(HKEY_CLASSES_ROOT, ThreadingModelKey, KEY_ALL_ACCESS);
    if (!key)
        return false;
    return WriteStringValue(key.get(), ThreadingModelValue, ThreadingModelData);
}
