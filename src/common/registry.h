// Registry reading: open with read access, ask for the size, read into
// size + 1 zero-filled bytes, close. Whatever the value's type, its bytes up
// to the first zero are the result; nullopt means absent, "" means empty. A
// value that grows between the size query and the read is read again.
#pragma once

#include "common/unique_any.h"

#include <optional>
#include <string>

// A null owner when the key cannot be opened; status, when given, receives
// RegOpenKeyExA's result (ERROR_FILE_NOT_FOUND: the key is not there).
unique_hkey OpenKey(HKEY root, const char* subKey, REGSAM access, LONG* status = nullptr);

std::optional<std::string> ReadStringValue(HKEY key, const char* valueName);

// Both steps: nullopt when the key cannot be opened or the value is absent.
std::optional<std::string> ReadRegistryString(HKEY root, const char* subKey, const char* valueName);

// Writes a REG_SZ whose length counts the terminating zero.
bool WriteStringValue(HKEY key, const char* valueName, const std::string& data);

// A value as stored: its type and its bytes, a string's terminator included.
struct RegistryValue {
    DWORD type;
    std::string data;
};
// nullopt when the value is absent or cannot be read.
std::optional<RegistryValue> ReadValue(HKEY key, const char* valueName);

// The key and everything under it; false when it could not all be removed.
bool DeleteKeyAndSubKeys(HKEY parent, const std::string& subKey);
