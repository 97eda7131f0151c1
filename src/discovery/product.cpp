#include "discovery/product.h"

#include "common/path.h"
#include "common/registry.h"
#include "common/system_folder.h"
#include "discovery/version.h"

#include <windows.h>

#include <cstring>

namespace {

const char SharedKey[] = "SOFTWARE\\Torvane\\Shared";
const char SharedVersionPrefix[] = "SOFTWARE\\Torvane\\Shared\\";
const char SharedVersionSuffix[] = "\\Environment";
const char MirelPrefix[] = "SOFTWARE\\Torvane\\Mirel\\";
const char CodraPrefix[] = "SOFTWARE\\Torvane\\Codra\\";
const char LumeraPrefix[] = "SOFTWARE\\NORVAK\\LUMERA\\";

const char Patch1Product[] = "{350F0702-7C36-4939-9FE5-5B21A4F113A1}";
// Asked in this order.
const char* const Patch2Products[] = {"{635C648D-1B1D-47C4-9752-3AC36F3379AC}",
                                      "{A5D42272-2BAB-41B0-BFCE-DB2F1EF5F279}",
                                      "{BBD7D9F7-D87C-4766-84FA-3CDE429F4EE3}"};

// Key names built from a version fit 255 characters (a 256-byte buffer with
// its terminator). A longer name, or a version holding a zero byte, is
// refused rather than cut short into the name of another key.
constexpr size_t MaxKeyName = 255;

std::optional<std::string> VersionedKeyName(std::string_view prefix, std::string_view version,
                                            std::string_view suffix)
{
    if (version.find('\0') != std::string_view::npos)
        return std::nullopt;
    if (prefix.size() + version.size() + suffix.size() > MaxKeyName)
        return std::nullopt;
    std::string name(prefix);
    name += version;
    name += suffix;
    return name;
}

// A home under a key named from a version. A null or empty version gives
// null without touching the registry. The registry may hold an empty or
// relative home: it counts as none, like a missing value, so that no path
// built on it lands in the current folder.
std::optional<std::string> LookUpHome(std::optional<std::string_view> version, std::string_view prefix,
                                      std::string_view suffix, const char* valueName)
{
    if (!version || version->empty())
        return std::nullopt;
    const std::optional<std::string> keyName = VersionedKeyName(prefix, *version, suffix);
    if (!keyName)
        return std::nullopt;
    return AbsoluteHome(ReadRegistryString(HKEY_LOCAL_MACHINE, keyName->c_str(), valueName));
}

const char InstallerLibrary[] = "msi.dll";
const char ProductInfoExport[] = "MsiGetProductInfoA";
using ProductInfoQuery = UINT(WINAPI*)(const char* product, const char* property, char* value, DWORD* capacity);

// The Windows Installer's query, from the system folder's msi.dll only: an
// import would let a planted copy beside the program run with its rights.
ProductInfoQuery InstallerQuery()
{
    static const ProductInfoQuery query = [] {
        HMODULE installer = LoadSystemLibrary(InstallerLibrary);
        return installer ? reinterpret_cast<ProductInfoQuery>(
                               reinterpret_cast<void*>(GetProcAddress(installer, ProductInfoExport)))
                         : nullptr;
    }();
    return query;
}

// Installed exactly when the installer delivers the product's "VersionString"
// into a 30-character buffer; the value itself is not used.
bool IsProductInstalled(const char* productCode)
{
    const ProductInfoQuery query = InstallerQuery();
    if (!query)
        return false;
    char value[30] = {};
    DWORD capacity = sizeof value;
    return query(productCode, "VersionString", value, &capacity) == ERROR_SUCCESS;
}

} // namespace

std::optional<std::string> FindProductHome(std::optional<std::string_view> version)
{
    return LookUpHome(version, SharedVersionPrefix, SharedVersionSuffix, "QEX_HOME");
}

std::optional<std::string> FindLatestSharedVersion()
{
    unique_hkey key = OpenKey(HKEY_LOCAL_MACHINE, SharedKey, KEY_READ);
    if (!key)
        return std::nullopt;

    // Names of 12 characters or more do not fit the buffer: the registry
    // reports ERROR_MORE_DATA and that index is skipped. Shared versions as
    // the maker names them ("8.7.0") always fit.
    constexpr DWORD nameCapacity = 12;
    std::string best = "0.0.0";
    for (DWORD index = 0;; ++index) {
        char name[nameCapacity] = {};
        DWORD length = nameCapacity;
        const LONG status =
            RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        // These concern the key itself and would repeat at every index.
        if (status == ERROR_KEY_DELETED || status == ERROR_INVALID_HANDLE)
            break;
        if (status != ERROR_SUCCESS || length >= nameCapacity)
            continue;
        const std::string_view candidate(name, strnlen(name, length));
        // Strictly greater only: of equal versions the first enumerated stays.
        if (CompareVersions(candidate, best) > 0)
            best = std::string(candidate);
    }

    if (best == "0.0.0")
        return std::nullopt;
    return best;
}

std::optional<std::string> FindExtensionHome(std::optional<std::string_view> version)
{
    // Codra is asked whenever Mirel gives no home: no key, no "InstallDir",
    // or one that is empty or relative.
    if (std::optional<std::string> home = LookUpHome(version, MirelPrefix, "", "InstallDir"))
        return home;
    return LookUpHome(version, CodraPrefix, "", "InstallDir");
}

bool IsExtensionInstalled(std::optional<std::string_view> version)
{
    return FindExtensionHome(version).has_value();
}

std::optional<std::string> FindLumeraHome(std::optional<std::string_view> version)
{
    return LookUpHome(version, LumeraPrefix, "", "LumeraHome");
}

bool IsPatch1Installed()
{
    return IsProductInstalled(Patch1Product);
}

bool IsPatch2Installed()
{
    // The first installed one answers; the later ones are not asked.
    for (const char* productCode : Patch2Products)
        if (IsProductInstalled(productCode))
            return true;
    return false;
}
