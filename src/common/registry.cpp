#include "common/registry.h"

#include <vector>

namespace {

constexpr int MaxReadAttempts = 4;
constexpr size_t FirstValueGuess = 512;

} // namespace

unique_hkey OpenKey(HKEY root, const char* subKey, REGSAM access, LONG* status)
{
    unique_hkey key;
    const LONG result = RegOpenKeyExA(root, subKey, 0, access, key.put());
    if (result != ERROR_SUCCESS)
        key.release();
    if (status)
        *status = result;
    return key;
}

std::optional<std::string> ReadStringValue(HKEY key, const char* valueName)
{
    // Another program may rewrite the value between the size query and the
    // read: a value that grew is read again at its new size, a few times.
    for (int attempt = 0; attempt < MaxReadAttempts; ++attempt) {
        DWORD size = 0;
        if (RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        // size + 1 must not wrap (size_t is 32 bits in this program).
        if (size == MAXDWORD)
            return std::nullopt;
        // One spare zero byte terminates data stored without its own terminator;
        // the read is told only the size, so that byte stays zero.
        std::vector<char> data(size_t{size} + 1, '\0');
        const LONG status =
            RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size);
        if (status == ERROR_SUCCESS)
            return std::string(data.data());
        if (status != ERROR_MORE_DATA)
            return std::nullopt;
    }
    // Still growing at every read: nothing settled to read.
    return std::nullopt;
}

std::optional<std::string> ReadRegistryString(HKEY root, const char* subKey, const char* valueName)
{
    unique_hkey key = OpenKey(root, subKey, KEY_READ);
    if (!key)
        return std::nullopt;
    return ReadStringValue(key.get(), valueName);
}

bool WriteStringValue(HKEY key, const char* valueName, const std::string& data)
{
    return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
}

std::optional<RegistryValue> ReadValue(HKEY key, const char* valueName)
{
    // Most values fit the first guess: one call. A larger one is read again
    // at the size it gave, also when it grew meanwhile, a few times.
    RegistryValue value{0, std::string(FirstValueGuess, '\0')};
    for (int attempt = 0; attempt < MaxReadAttempts; ++attempt) {
        DWORD size = static_cast<DWORD>(value.data.size());
        const LONG status = RegQueryValueExA(key, valueName, nullptr, &value.type,
                                             reinterpret_cast<BYTE*>(&value.data[0]), &size);
        if (status == ERROR_SUCCESS) {
            value.data.resize(size);
            return value;
        }
        if (status != ERROR_MORE_DATA)
            return std::nullopt;
        value.data.assign(size, '\0');
    }
    return std::nullopt;
}

bool DeleteKeyAndSubKeys(HKEY parent, const std::string& subKey)
{
    {
        unique_hkey key = OpenKey(parent, subKey.c_str(), KEY_READ | DELETE);
        if (!key)
            return false;
        // The first sub-key each time: the indexes move as keys go.
        char name[256];
        for (;;) {
            DWORD length = sizeof name;
            if (RegEnumKeyExA(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            if (!DeleteKeyAndSubKeys(key.get(), name))
                return false;
        }
    }
    return RegDeleteKeyA(parent, subKey.c_str()) == ERROR_SUCCESS;
}
