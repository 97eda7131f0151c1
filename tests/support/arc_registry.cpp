#include "support/arc_registry.h"

#include "fixtures/arcobjects/marker.h"
#include "support/bench.h"

#include <aclapi.h>

namespace {

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end = text.find(separator); end != std::string::npos; end = text.find(separator, start)) {
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool SetKeySecurity(HKEY root, const std::string& subKey, PSECURITY_DESCRIPTOR descriptor)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS)
        return false;
    const LONG status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

} // namespace

bool SeedKey(const std::string& subKey, const char* name, const std::string& data)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = ERROR_SUCCESS;
    if (name)
        status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                static_cast<DWORD>(data.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

ArcMachine::ArcMachine()
    : esri_(HKEY_LOCAL_MACHINE, "SOFTWARE\\ESRI"), torvane_(HKEY_LOCAL_MACHINE, "SOFTWARE\\Torvane")
{
}

void ArcMachine::SetHostVersion(const std::optional<std::string>& version) const
{
    if (version)
        SeedKey("SOFTWARE\\ESRI\\CoreRuntime", "RealVersion", *version);
    else
        SeedKey("SOFTWARE\\ESRI\\CoreRuntime");
}

void ArcMachine::SetProductHome(const std::string& version, const std::string& home) const
{
    SeedKey("SOFTWARE\\Torvane\\Shared\\" + version + "\\Environment", "QEX_HOME", home);
}

void ArcMachine::SetExtensionHome(const std::string& product, const std::string& version,
                                  const std::string& dir) const
{
    SeedKey("SOFTWARE\\Torvane\\" + product + "\\" + version, "InstallDir", dir);
}

void ArcMachine::CreateRasterKey() const
{
    SeedKey("SOFTWARE\\ESRI\\Raster");
}

void ArcMachine::CreateRasterEnvironmentKey() const
{
    SeedKey("SOFTWARE\\ESRI\\Raster\\Environment");
}

std::vector<std::string> ArcRegistrations()
{
    std::optional<RawValue> sequence = ReadRawValue(HKEY_CURRENT_USER, arcMarkerKey, arcMarkerSequence);
    if (!sequence)
        return {};
    return Split(std::string(sequence->bytes.c_str()), ';');
}

void ClearArcRegistrations()
{
    DeleteKeyTree(HKEY_CURRENT_USER, arcMarkerKey);
}

ScopedWriteDenial::ScopedWriteDenial(HKEY root, std::string subKey) : root_(root), subKey_(std::move(subKey))
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root_, subKey_.c_str(), 0, READ_CONTROL, &key) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    former_.resize(size);
    const bool saved =
        size && RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, former_.data(), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!saved)
        return;

    // Deny setting values to everyone; allow everything else.
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
        return;
    EXPLICIT_ACCESSA entries[2] = {};
    entries[0].grfAccessPermissions = KEY_SET_VALUE;
    entries[0].grfAccessMode = DENY_ACCESS;
    entries[1].grfAccessPermissions = KEY_ALL_ACCESS;
    entries[1].grfAccessMode = GRANT_ACCESS;
    for (EXPLICIT_ACCESSA& entry : entries) {
        entry.grfInheritance = NO_INHERITANCE;
        entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        entry.Trustee.ptstrName = static_cast<LPSTR>(everyone);
    }
    PACL acl = nullptr;
    if (SetEntriesInAclA(2, entries, nullptr, &acl) == ERROR_SUCCESS) {
        SECURITY_DESCRIPTOR descriptor;
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
        applied_ = SetKeySecurity(root_, subKey_, &descriptor);
        LocalFree(acl);
    }
    FreeSid(everyone);
}

ScopedWriteDenial::~ScopedWriteDenial()
{
    if (applied_)
        SetKeySecurity(root_, subKey_, former_.data());
}

bool WriteIsDenied(HKEY root, const std::string& subKey)
{
    HKEY key = nullptr;
    const LONG status = RegOpenKeyExA(root, subKey.c_str(), 0, KEY_SET_VALUE, &key);
    if (status == ERROR_SUCCESS)
        RegCloseKey(key);
    return status == ERROR_ACCESS_DENIED;
}
