#include "support/discovery_registry.h"

#include "common/unique_any.h"
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

bool SeededTree::Create(const std::string& subKey) const
{
    return CreateKey(HKEY_LOCAL_MACHINE, subKey);
}

bool SeededTree::SetRaw(const std::string& subKey, const char* name, DWORD type, const void* data,
                        DWORD size) const
{
    return SetValue(HKEY_LOCAL_MACHINE, subKey, name, type, data, size) == ERROR_SUCCESS;
}

bool SeededTree::SetString(const std::string& subKey, const char* name, const std::string& data) const
{
    return ::SetString(HKEY_LOCAL_MACHINE, subKey, name, data);
}

bool SeededTree::Remove(const std::string& subKey) const
{
    return DeleteKeyTree(HKEY_LOCAL_MACHINE, subKey);
}

ScopedEmptyMachineKey::ScopedEmptyMachineKey()
    : scratch_("Software\\QexTestMachine " + std::to_string(GetCurrentProcessId()))
{
    DeleteKeyTree(HKEY_CURRENT_USER, scratch_);
    unique_hkey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, scratch_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return;
    active_ = RegOverridePredefKey(HKEY_LOCAL_MACHINE, key.get()) == ERROR_SUCCESS;
}

ScopedEmptyMachineKey::~ScopedEmptyMachineKey()
{
    if (active_)
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    DeleteKeyTree(HKEY_CURRENT_USER, scratch_);
}
