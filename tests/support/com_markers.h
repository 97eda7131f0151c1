// Reading what the stand-in COM servers (tests/fixtures/com) recorded. They
// record under HKEY_CURRENT_USER\<key>, <key> taken from the environment
// variable QEX_COM_MARKERS, which child processes such as regsvr32 inherit.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// Chooses a fresh marker key for this process (and the processes it starts)
// and removes it, with everything recorded, when the owner goes.
class ScopedComMarkers {
public:
    ScopedComMarkers();
    ~ScopedComMarkers();
    ScopedComMarkers(const ScopedComMarkers&) = delete;
    ScopedComMarkers& operator=(const ScopedComMarkers&) = delete;

    const std::string& Key() const { return key_; }

    // Calls of DllRegisterServer / DllUnregisterServer of the module with
    // this file name ("a.dll"), whatever the calls returned.
    int Registered(const std::string& module) const;
    int Unregistered(const std::string& module) const;
    // File name of the exe that made the module's last call ("regsvr32.exe").
    std::optional<std::string> Process(const std::string& module) const;
    // Every call in order: "register a.dll", "unregister b.ocx".
    std::vector<std::string> Sequence() const;
    // Forgets everything recorded so far.
    void Clear() const;
    // For a regsvr32 started without waiting: true once the module has been
    // registered at least once, false if that has not happened in timeoutMs.
    bool WaitForRegistered(const std::string& module, DWORD timeoutMs = 60000) const;
    bool WaitForUnregistered(const std::string& module, DWORD timeoutMs = 60000) const;

private:
    std::string key_;
    std::optional<std::string> previous_;
};
