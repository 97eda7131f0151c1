// Registry seeding that the discovery tests need beyond ScopedKey: a key tree
// that only goes when the test made it, and a private, empty
// HKEY_LOCAL_MACHINE for this process.
#pragma once

#include <windows.h>

#include <string>

// A key tree under HKEY_LOCAL_MACHINE (such as SOFTWARE\ESRI) that a test
// seeds and that goes, with everything under it, with the owner. Only a tree
// that was absent at the start is removed. Sub-key names are full paths
// under HKLM. 32-bit view, as the program sees it.
class SeededTree {
public:
    explicit SeededTree(std::string top);
    ~SeededTree();
    SeededTree(const SeededTree&) = delete;
    SeededTree& operator=(const SeededTree&) = delete;

    bool WasAbsent() const { return wasAbsent_; }
    bool Create(const std::string& subKey) const;
    bool SetString(const std::string& subKey, const char* name, const std::string& data) const;
    bool SetRaw(const std::string& subKey, const char* name, DWORD type, const void* data, DWORD size) const;
    bool Remove(const std::string& subKey) const;

private:
    std::string top_;
    bool wasAbsent_;
};

// Maps HKEY_LOCAL_MACHINE, in this process only, to an empty scratch key
// under HKEY_CURRENT_USER; the real HKLM comes back, and the scratch key goes,
// with the owner. Every key of the real HKLM (such as
// SOFTWARE\Microsoft\Windows\CurrentVersion) is missing inside.
class ScopedEmptyMachineKey {
public:
    ScopedEmptyMachineKey();
    ~ScopedEmptyMachineKey();
    ScopedEmptyMachineKey(const ScopedEmptyMachineKey&) = delete;
    ScopedEmptyMachineKey& operator=(const ScopedEmptyMachineKey&) = delete;

    bool Active() const { return active_; }

private:
    std::string scratch_;
    bool active_ = false;
};
