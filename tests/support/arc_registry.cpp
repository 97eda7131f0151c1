#include "support/arc_registry.h"

#include "common/unique_any.h"
#include "support/bench.h"

#include <aclapi.h>

namespace {

bool SetKeySecurity(HKEY root, const std::string& subKey, PSECURITY_DESCRIPTOR descriptor)
{
    unique_hkey key;
    return RegOpenKeyExA(root, subKey.c_str(), 0, WRITE_DAC, key.put()) == ERROR_SUCCESS &&
           RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
}

} // namespace

void ArcMachine::SetHostVersion(const std::optional<std::string>& version) const
{
    if (version)
        esri.SetString(HostKey, "RealVersion", *version);
    else
        esri.Create(HostKey);
}

void ArcMachine::SetProductHome(const std::string& version, const std::string& home) const
{
    torvane.SetString(std::string(SharedKey) + "\\" + version + "\\Environment", "QEX_HOME", home);
}

void ArcMachine::SetExtensionHome(const std::string& product, const std::string& version,
                                  const std::string& dir) const
{
    torvane.SetString("SOFTWARE\\Torvane\\" + product + "\\" + version, "InstallDir", dir);
}

ScopedWriteDenial::ScopedWriteDenial(HKEY root, std::string subKey) : root_(root), subKey_(std::move(subKey))
{
    unique_hkey key;
    if (RegOpenKeyExA(root_, subKey_.c_str(), 0, READ_CONTROL, key.put()) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    former_.resize(size);
    if (!size || RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, former_.data(), &size) != ERROR_SUCCESS)
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
    unique_hkey key;
    return RegOpenKeyExA(root, subKey.c_str(), 0, KEY_SET_VALUE, key.put()) == ERROR_ACCESS_DENIED;
}
