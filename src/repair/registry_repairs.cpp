#include "repair/registry_repairs.h"

#include "common/path.h"
#include "common/registry.h"
#include "common/run_log.h"
#include "common/unique_any.h"
#include "discovery/host.h"
#include "discovery/product.h"
#include "repair/registration_check.h"

#include <windows.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

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

// What is there against what a repair would write, as one line of the log.
bool ValueInPlace(HKEY key, const std::string& keyName, const char* name, const std::string& data)
{
    const std::optional<RegistryValue> there = ReadValue(key, name);
    const RegistryValue wanted{REG_SZ, data + '\0'};
    const bool inPlace = SameValue(wanted, there);
    if (inPlace)
        LogLine({"check ", keyName, " \"", name, "\": in place"});
    else
        LogLine({"check ", keyName, " \"", name, "\": not in place, there ", DescribeValue(there),
                 ", a repair would write ", DescribeValue(wanted)});
    return inPlace;
}

// One key's values, in order. The key must already exist: a host or a class
// that never made it does not use it. Each write (or check) stands alone; a
// failed one does not stop the next.
RegistryWrite WriteValues(HKEY root, const char* rootName, const char* subKey,
                          std::initializer_list<std::pair<const char*, std::string>> values, REGSAM access,
                          StepMode mode)
{
    const bool check = mode == StepMode::Verify;
    const std::string keyName = std::string(rootName) + "\\" + subKey;
    LONG status = ERROR_SUCCESS;
    unique_hkey key = OpenKey(root, subKey, check ? KEY_QUERY_VALUE : access, &status);
    if (!key) {
        if (status == ERROR_FILE_NOT_FOUND) {
            LogLine({"skip ", keyName, ": the key is not there"});
            return RegistryWrite::NotWritten;
        }
        if (check)
            LogLine({"check ", keyName, ": not in place, the key cannot be read, error ", std::to_string(status)});
        else
            LogLine({"write ", keyName, ": failed to open the key, error ", std::to_string(status)});
        return RegistryWrite::Failed;
    }
    RegistryWrite result = RegistryWrite::Written;
    for (const auto& [name, data] : values) {
        bool done = false;
        if (check) {
            done = ValueInPlace(key.get(), keyName, name, data);
        } else {
            done = WriteStringValue(key.get(), name, data);
            LogLine({"write ", keyName, " \"", name, "\" = \"", data, done ? "\": ok" : "\": failed"});
        }
        if (!done)
            result = RegistryWrite::Failed;
    }
    return result;
}

RegistryWrite Combined(RegistryWrite first, RegistryWrite second)
{
    if (first == RegistryWrite::Failed || second == RegistryWrite::Failed)
        return RegistryWrite::Failed;
    if (first == RegistryWrite::Written || second == RegistryWrite::Written)
        return RegistryWrite::Written;
    return RegistryWrite::NotWritten;
}

} // namespace

RegistryWrite WriteRasterEnvironment(StepMode mode, std::optional<std::string>* namedHome)
{
    const std::optional<std::string> hostVersion = FindHostVersion();
    if (!IsRasterHost(hostVersion)) {
        LogLine({"skip the raster environment: host version ", hostVersion.value_or("(none)")});
        return RegistryWrite::NotWritten;
    }

    // The product home only tells that the maker's software is there; it is not written.
    const std::optional<std::string> productHome = FindProductHome(RasterSharedVersion);
    const std::optional<std::string> extensionHome = FindExtensionHome(RasterExtensionVersion);
    if (!productHome && !extensionHome) {
        LogLine({"skip the raster environment: no QEX ", RasterSharedVersion, " and no extension ",
                 RasterExtensionVersion});
        return RegistryWrite::NotWritten;
    }

    // Without an extension, the folder that the host itself looks in when
    // these values are missing: the value written is the folder read back.
    const std::string rasterHome = extensionHome ? *extensionHome : CommonRasterHome();
    const RegistryWrite locator = WriteValues(HKEY_LOCAL_MACHINE, "HKLM", RasterKey,
                                              {{RasterLocatorValue, RasterLocatorData}}, KEY_WRITE, mode);
    const RegistryWrite environment =
        WriteValues(HKEY_LOCAL_MACHINE, "HKLM", RasterEnvironmentKey,
                    {{HomeValue, rasterHome}, {LumeraHomeValue, rasterHome}, {ArchValue, ArchData},
                     {ArchModeValue, ArchModeData}},
                    KEY_WRITE, mode);
    if (environment != RegistryWrite::NotWritten && namedHome)
        *namedHome = rasterHome;
    return Combined(locator, environment);
}

RegistryWrite FixThreadingModel(StepMode mode)
{
    return WriteValues(HKEY_CLASSES_ROOT, "HKCR", ThreadingModelKey, {{ThreadingModelValue, ThreadingModelData}},
                       KEY_ALL_ACCESS, mode);
}

bool IsRepairedThreadingModel(std::string_view classesKey, std::string_view valueName)
{
    return SameTextIgnoringCase(classesKey, ThreadingModelKey) && SameTextIgnoringCase(valueName, ThreadingModelValue);
}
