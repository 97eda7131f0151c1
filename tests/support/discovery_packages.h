// The side-by-side patch products, installed for real from tiny Windows
// Installer packages built beside the tests (tests/fixtures/discovery.cmake).
//   which 1: the first patch's product  {350F0702-7C36-4939-9FE5-5B21A4F113A1}
//   which 2: the second patch's first   {635C648D-1B1D-47C4-9752-3AC36F3379AC}
//   which 3: the second patch's second  {A5D42272-2BAB-41B0-BFCE-DB2F1EF5F279}
//   which 4: the second patch's third   {BBD7D9F7-D87C-4766-84FA-3CDE429F4EE3}
#pragma once

#include <string>

constexpr int patchPackageCount = 4;

// The product code of package which (1 to 4); nullptr outside that range.
const char* PatchProductCode(int which);
// build/win32/bin/qex_patch_<which>.msi.
std::string PatchPackagePath(int which);

// msiexec /i or /x, quietly; true when msiexec exits with 0.
bool InstallPatchPackage(int which);
bool RemovePatchPackage(int which);
// Whatever the package: the installer's own record of the product code.
bool IsProductRecorded(const char* productCode);

// Installs package which for the owner's lifetime and removes it afterwards
// (only when it was not installed before). Installed() tells whether the
// product is there.
class ScopedPatchPackage {
public:
    explicit ScopedPatchPackage(int which);
    ~ScopedPatchPackage();
    ScopedPatchPackage(const ScopedPatchPackage&) = delete;
    ScopedPatchPackage& operator=(const ScopedPatchPackage&) = delete;

    bool Installed() const;

private:
    int which_;
    bool installedHere_ = false;
};
