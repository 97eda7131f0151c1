// Registry seeding that the discovery tests need beyond ScopedKey: a value of
// a key that the test does not own (changed, then put back as it was), and a
// private, empty HKEY_LOCAL_MACHINE for this process.
#pragma once

#include <windows.h>

#include <optional>
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

// Remembers a value of an existing key (its type and bytes, or its absence)
// and restores exactly that when the owner goes. 32-bit view, as the program sees it.
class ScopedValue {
public:
    ScopedValue(HKEY root, std::string subKey, std::string name);
    ~ScopedValue();
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

    bool SetString(const std::string& data) const;
    bool Delete() const;
    // False when the key could not be opened or the value not read.
    bool Saved() const { return saved_; }

private:
    HKEY root_;
    std::string subKey_;
    std::string name_;
    bool saved_ = false;
    std::optional<DWORD> type_;
    std::string bytes_;
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
