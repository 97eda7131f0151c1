// What a registration writes (a module's DllRegisterServer, an assembly's
// regasm.exe registry file), and whether the registry already holds it, as
// this program sees the registry (the 32-bit view). Nothing here writes to
// the real registry.
#pragma once

#include "common/registry.h"
#include "common/seh_guard.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

struct RegistrationValue {
    std::string name; // "" for the key's default value
    RegistryValue value;
};

struct RegistrationKey {
    HKEY root; // HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or HKEY_USERS
    std::string path;
    std::vector<RegistrationValue> values;
};

using RegistrationKeys = std::vector<RegistrationKey>;

// Calls a module's registration export (loaded, found, not yet called) with
// the four roots mapped into a capture key of this process's own, and reads
// back what it wrote; the capture is gone again when this returns. nullopt
// when the export crashed or failed, or nothing could be captured: failure
// then says which, as a log line's tail.
std::optional<RegistrationKeys> CaptureRegistration(GuardedFunction entry, const char* exportName, std::string& failure);

// A thread that ended inside a captured export (a module calling ExitThread)
// unwound nothing: gives the roots back and deletes the capture key. Does
// nothing where no capture was left.
void ReleaseAbandonedCapture() noexcept;

// nullopt when every key of the registration is there and every value holds
// the same data: of the same type, strings without regard to ASCII case (they
// hold paths and GUIDs), other data byte for byte. Otherwise the first
// difference and how many of the keys and values differ. A value under
// HKLM\Software\Classes is compared with HKCR, one view of the same keys.
// The threading model that FixThreadingModel repairs is left to that repair.
std::optional<std::string> RegistrationDifference(const RegistrationKeys& registration);

// Whether there holds what wanted holds, by the rules above.
bool SameValue(const RegistryValue& wanted, const std::optional<RegistryValue>& there);

// "\"text\"" for a string, "(type 3, 4 bytes)" for other data, "missing".
std::string DescribeValue(const std::optional<RegistryValue>& value);

// "HKCR", "HKLM", "HKCU", "HKU".
const char* RootName(HKEY root);
