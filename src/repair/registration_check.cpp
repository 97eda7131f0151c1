#include "repair/registration_check.h"

#include "common/path.h"
#include "common/run_log.h"
#include "common/unique_any.h"
#include "repair/registry_repairs.h"

#include <iterator>

namespace {

// The roots a registration may write to, each mapped into a sub-key of the
// capture key. HKCR must be mapped itself: mapping HKLM does not cover it.
// HKCU, which holds the capture key, comes last: once it is mapped, the
// capture key can no longer be named through it.
struct CapturedRoot {
    HKEY root;
    const char* subKey;
};
const CapturedRoot CapturedRoots[] = {{HKEY_CLASSES_ROOT, "HKCR"},
                                      {HKEY_LOCAL_MACHINE, "HKLM"},
                                      {HKEY_USERS, "HKU"},
                                      {HKEY_CURRENT_USER, "HKCU"}};
constexpr size_t CapturedRootCount = std::size(CapturedRoots);

constexpr char CaptureKeyPrefix[] = "Software\\RepairQEXApps capture ";
constexpr char ClassesKey[] = "Software\\Classes";

std::string_view WithoutTerminators(std::string_view text)
{
    while (!text.empty() && text.back() == '\0')
        text.remove_suffix(1);
    return text;
}

bool IsString(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

std::string CaptureKeyName()
{
    return CaptureKeyPrefix + std::to_string(GetCurrentProcessId());
}

// The capture key, of this process's own: HKCU\Software\RepairQEXApps capture
// <process id>. Not volatile: Windows (and Wine) refuse a non-volatile key
// under a volatile one (ERROR_CHILD_MUST_BE_VOLATILE), and a module creates
// its keys non-volatile. Removed with everything in it when the owner goes.
struct CaptureKey {
    std::string name = CaptureKeyName();
    unique_hkey key;
    LONG status = ERROR_SUCCESS;

    CaptureKey()
    {
        DWORD disposition = 0;
        status = Create(disposition);
        // One that a run of the same process id left behind starts empty.
        if (status == ERROR_SUCCESS && disposition == REG_OPENED_EXISTING_KEY) {
            key.reset();
            DeleteKeyAndSubKeys(HKEY_CURRENT_USER, name);
            status = Create(disposition);
        }
    }
    CaptureKey(const CaptureKey&) = delete;
    CaptureKey& operator=(const CaptureKey&) = delete;
    // Read back, the roots are empty: each goes, and then the key, with one
    // call (registry calls are what a check costs). Anything left, the whole tree.
    ~CaptureKey()
    {
        bool emptied = static_cast<bool>(key);
        for (const CapturedRoot& captured : CapturedRoots)
            emptied = emptied && RegDeleteKeyA(key.get(), captured.subKey) == ERROR_SUCCESS;
        key.reset();
        if (!emptied || RegDeleteKeyA(HKEY_CURRENT_USER, name.c_str()) != ERROR_SUCCESS)
            DeleteKeyAndSubKeys(HKEY_CURRENT_USER, name);
    }

private:
    LONG Create(DWORD& disposition)
    {
        return RegCreateKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                               nullptr, key.put(), &disposition);
    }
};

// Reads the tree below key and empties it as it goes: each sub-key is
// deleted once read, so that nothing but the roots is left to delete.
void TakeCapturedTree(HKEY key, HKEY root, const std::string& path, RegistrationKeys& registration)
{
    DWORD subKeys = 0, longestSubKey = 0, values = 0, longestName = 0, largestData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, &longestSubKey, nullptr, &values, &longestName,
                         &largestData, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    RegistrationKey captured{root, path, {}};
    std::string name(longestName + 1, '\0');
    for (DWORD i = 0; i < values; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = largestData;
        RegistryValue value{0, std::string(largestData, '\0')};
        if (RegEnumValueA(key, i, &name[0], &nameLength, nullptr, &value.type,
                          reinterpret_cast<BYTE*>(&value.data[0]), &size) != ERROR_SUCCESS)
            continue;
        value.data.resize(size);
        captured.values.push_back({name.substr(0, nameLength), std::move(value)});
    }
    // The root itself is there anyway; it counts only for the values written to it.
    if (!path.empty() || !captured.values.empty())
        registration.push_back(std::move(captured));

    // Always the first sub-key: the one before it is gone. One that cannot go ends the walk.
    std::string child(longestSubKey + 1, '\0');
    for (DWORD i = 0; i < subKeys; ++i) {
        DWORD length = static_cast<DWORD>(child.size());
        if (RegEnumKeyExA(key, 0, &child[0], &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        const std::string childName = child.substr(0, length);
        if (unique_hkey childKey = OpenKey(key, childName.c_str(), KEY_READ))
            TakeCapturedTree(childKey.get(), root, path.empty() ? childName : path + "\\" + childName, registration);
        if (RegDeleteKeyA(key, childName.c_str()) != ERROR_SUCCESS)
            return;
    }
}

// HKLM\Software\Classes\X is HKCR\X.
std::pair<HKEY, std::string> ViewOf(HKEY root, const std::string& path)
{
    const size_t length = sizeof ClassesKey - 1;
    if (root == HKEY_LOCAL_MACHINE && SameTextIgnoringCase(std::string_view(path).substr(0, length), ClassesKey) &&
        (path.size() == length || path[length] == '\\'))
        return {HKEY_CLASSES_ROOT, path.size() == length ? "" : path.substr(length + 1)};
    return {root, path};
}

std::string KeyName(HKEY root, const std::string& path)
{
    return path.empty() ? RootName(root) : std::string(RootName(root)) + "\\" + path;
}

} // namespace

const char* RootName(HKEY root)
{
    if (root == HKEY_CLASSES_ROOT)
        return "HKCR";
    if (root == HKEY_LOCAL_MACHINE)
        return "HKLM";
    if (root == HKEY_CURRENT_USER)
        return "HKCU";
    return "HKU";
}

bool SameValue(const RegistryValue& wanted, const std::optional<RegistryValue>& there)
{
    if (!there || there->type != wanted.type)
        return false;
    if (IsString(wanted.type))
        return SameTextIgnoringCase(WithoutTerminators(wanted.data), WithoutTerminators(there->data));
    return wanted.data == there->data;
}

std::string DescribeValue(const std::optional<RegistryValue>& value)
{
    if (!value)
        return "missing";
    if (IsString(value->type))
        return "\"" + std::string(WithoutTerminators(value->data)) + "\"";
    return "(type " + std::to_string(value->type) + ", " + std::to_string(value->data.size()) + " bytes)";
}

void ReleaseAbandonedCapture() noexcept
{
    for (const CapturedRoot& captured : CapturedRoots)
        RegOverridePredefKey(captured.root, nullptr);
    try {
        DeleteKeyAndSubKeys(HKEY_CURRENT_USER, CaptureKeyName());
    } catch (...) {
        // Out of memory for the name: the key stays, nothing else is at stake.
    }
}

std::optional<RegistrationKeys> CaptureRegistration(GuardedFunction entry, const char* exportName, std::string& failure)
{
    const CaptureKey capture;
    if (!capture.key) {
        failure = "the registry could not be captured, error " + std::to_string(capture.status);
        return std::nullopt;
    }
    unique_hkey roots[CapturedRootCount];
    for (size_t i = 0; i < CapturedRootCount; ++i) {
        const LONG status = RegCreateKeyExA(capture.key.get(), CapturedRoots[i].subKey, 0, nullptr,
                                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, roots[i].put(), nullptr);
        if (status != ERROR_SUCCESS) {
            failure = "the registry could not be captured, error " + std::to_string(status);
            return std::nullopt;
        }
    }

    HRESULT status = E_FAIL;
    bool returned = false;
    {
        // Process-wide while they last; released in the reverse order, HKCU first.
        unique_root_override overrides[CapturedRootCount];
        for (size_t i = 0; i < CapturedRootCount; ++i) {
            const LONG result = RegOverridePredefKey(CapturedRoots[i].root, roots[i].get());
            if (result != ERROR_SUCCESS) {
                failure = "the registry could not be captured, error " + std::to_string(result);
                return std::nullopt;
            }
            overrides[i].reset(CapturedRoots[i].root);
        }
        returned = CallGuarded(entry, status);
    }
    if (!returned) {
        failure = std::string("an exception in ") + exportName;
        return std::nullopt;
    }
    if (status != S_OK) {
        failure = "status " + HexCode(static_cast<unsigned long>(status));
        return std::nullopt;
    }

    RegistrationKeys registration;
    for (size_t i = 0; i < CapturedRootCount; ++i)
        TakeCapturedTree(roots[i].get(), CapturedRoots[i].root, "", registration);
    return registration;
}

std::optional<std::string> RegistrationDifference(const RegistrationKeys& registration)
{
    int items = 0;
    int differing = 0;
    std::string first;
    const auto note = [&](std::string difference) {
        if (differing++ == 0)
            first = std::move(difference);
    };
    for (const RegistrationKey& key : registration) {
        const auto [root, path] = ViewOf(key.root, key.path);
        const std::string name = KeyName(root, path);
        ++items;
        const unique_hkey real = OpenKey(root, path.c_str(), KEY_QUERY_VALUE);
        if (!real)
            note(name + " is not there");
        for (const RegistrationValue& value : key.values) {
            if (root == HKEY_CLASSES_ROOT && IsRepairedThreadingModel(path, value.name))
                continue;
            ++items;
            const std::optional<RegistryValue> there =
                real ? ReadValue(real.get(), value.name.c_str()) : std::nullopt;
            if (!SameValue(value.value, there))
                note(name + " \"" + value.name + "\" is " + DescribeValue(there) + ", the registration writes " +
                     DescribeValue(value.value));
        }
    }
    if (differing == 0)
        return std::nullopt;
    return first + " (" + std::to_string(differing) + " of " + std::to_string(items) + " keys and values differ)";
}
