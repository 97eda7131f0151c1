#include "support/discovery_packages.h"

#include "support/bench.h"

#include <windows.h>

#include <msi.h>

namespace {

const char* const productCodes[patchPackageCount] = {
    "{350F0702-7C36-4939-9FE5-5B21A4F113A1}",
    "{635C648D-1B1D-47C4-9752-3AC36F3379AC}",
    "{A5D42272-2BAB-41B0-BFCE-DB2F1EF5F279}",
    "{BBD7D9F7-D87C-4766-84FA-3CDE429F4EE3}",
};

} // namespace

const char* PatchProductCode(int which)
{
    return which >= 1 && which <= patchPackageCount ? productCodes[which - 1] : nullptr;
}

std::string PatchPackagePath(int which)
{
    return FixturePath(("qex_patch_" + std::to_string(which) + ".msi").c_str());
}

bool InstallPatchPackage(int which)
{
    return PatchProductCode(which) && InstallPackage(PatchPackagePath(which));
}

bool RemovePatchPackage(int which)
{
    return PatchProductCode(which) && RemovePackage(PatchProductCode(which));
}

bool IsProductRecorded(const char* productCode)
{
    return MsiQueryProductStateA(productCode) == INSTALLSTATE_DEFAULT;
}

ScopedPatchPackage::ScopedPatchPackage(int which) : which_(which)
{
    const char* code = PatchProductCode(which);
    if (code && !IsProductRecorded(code))
        installedHere_ = InstallPatchPackage(which);
}

ScopedPatchPackage::~ScopedPatchPackage()
{
    if (installedHere_)
        RemovePatchPackage(which_);
}

bool ScopedPatchPackage::Installed() const
{
    const char* code = PatchProductCode(which_);
    return code && IsProductRecorded(code);
}
