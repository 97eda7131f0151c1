#include "support/discovery_registry.h"

#include "support/bench.h"

SeededTree::SeededTree(std::string top)
    : top_(std::move(top)), wasAbsent_(!KeyExists(HKEY_LOCAL_MACHINE, top_))
{
}

SeededTree::~SeededTree()
{
    if (wasAbsent_)
        DeleteKeyTree(HKEY_LOCAL_MACHINE, top_);
}

namespace {

// Creates subKey, or opens it when it exists. The last name is created
// relative to its parent: Wine's A functions refuse a whole path beyond
// MAX_PATH, and a test may need a 255-character name under a long parent.
LONG CreateKey(const std::string& subKey, HKEY* key)
{
    const size_t slash = subKey.rfind('\\');
    if (slash == std::string::npos)
        return RegCreateKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key,
                               nullptr);
    HKEY parent = nullptr;
    LONG status = CreateKey(subKey.substr(0, slash), &parent);
    if (status != ERROR_SUCCESS)
        return status;
    status = RegCreateKeyExA(parent, subKey.c_str() + slash + 1, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key,
                             nullptr);
    RegCloseKey(parent);
    return status;
}

} // namespace

bool SeededTree::Create(const std::string& subKey) const
{
    HKEY key = nullptr;
    if (CreateKey(subKey, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool SeededTree::SetRaw(const std::string& subKey, const char* name, DWORD type, const void* data,
                        DWORD size) const
{
    HKEY key = nullptr;
    if (CreateKey(subKey, &key) != ERROR_SUCCESS)
        return false;
    const LONG status = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool SeededTree::SetString(const std::string& subKey, const char* name, const std::string& data) const
{
    return SetRaw(subKey, name, REG_SZ, data.c_str(), static_cast<DWORD>(data.size() + 1));
}

bool SeededTree::Remove(const std::string& subKey) const
{
    return DeleteKeyTree(HKEY_LOCAL_MACHINE, subKey);
}

ScopedValue::ScopedValue(HKEY root, std::string subKey, std::string name)
    : root_(root), subKey_(std::move(subKey)), name_(std::move(name))
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root_, subKey_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD type = 0, size = 0;
    LONG status = RegQueryValueExA(key, name_.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        saved_ = true;
    } else if (status == ERROR_SUCCESS) {
        bytes_.assign(size, '\0');
        if (RegQueryValueExA(key, name_.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&bytes_[0]), &size) ==
            ERROR_SUCCESS) {
            bytes_.resize(size);
            type_ = type;
            saved_ = true;
        }
    }
    RegCloseKey(key);
}

ScopedValue::~ScopedValue()
{
    if (!saved_)
        return;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root_, subKey_.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    if (type_)
        RegSetValueExA(key, name_.c_str(), 0, *type_, reinterpret_cast<const BYTE*>(bytes_.data()),
                       static_cast<DWORD>(bytes_.size()));
    else
        RegDeleteValueA(key, name_.c_str());
    RegCloseKey(key);
}

bool ScopedValue::SetString(const std::string& data) const
{
    HKEY key = nullptr;
    if (!saved_ || RegOpenKeyExA(root_, subKey_.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExA(key, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>(data.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool ScopedValue::Delete() const
{
    HKEY key = nullptr;
    if (!saved_ || RegOpenKeyExA(root_, subKey_.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    LONG status = RegDeleteValueA(key, name_.c_str());
    RegCloseKey(key);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

ScopedEmptyMachineKey::ScopedEmptyMachineKey()
    : scratch_("Software\\QexTestMachine " + std::to_string(GetCurrentProcessId()))
{
    DeleteKeyTree(HKEY_CURRENT_USER, scratch_);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, scratch_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    active_ = RegOverridePredefKey(HKEY_LOCAL_MACHINE, key) == ERROR_SUCCESS;
    RegCloseKey(key);
}

ScopedEmptyMachineKey::~ScopedEmptyMachineKey()
{
    if (active_)
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    DeleteKeyTree(HKEY_CURRENT_USER, scratch_);
}
