// Registry helpers for the ArcObjects and registry-repair tests: the host's
// and the maker's keys as a test describes them, and a key whose security
// denies setting values.
#pragma once

#include <windows.h>

#include "support/bench.h"

#include <optional>
#include <string>
#include <vector>

// The host's and the maker's registry as a test describes it (32-bit view of
// HKLM). "SOFTWARE\ESRI" and "SOFTWARE\Torvane" go with all they hold when
// the owner goes.
struct ArcMachine {
    ScopedKey esri{HKEY_LOCAL_MACHINE, "SOFTWARE\\ESRI"};
    ScopedKey torvane{HKEY_LOCAL_MACHINE, "SOFTWARE\\Torvane"};

    // "RealVersion" under "SOFTWARE\ESRI\CoreRuntime"; nullopt: the key without the value.
    void SetHostVersion(const std::optional<std::string>& version) const;
    // "QEX_HOME" of a shared version's "Environment" key.
    void SetProductHome(const std::string& version, const std::string& home) const;
    // "InstallDir" of "SOFTWARE\Torvane\<product>\<version>".
    void SetExtensionHome(const std::string& product, const std::string& version, const std::string& dir) const;
    // The host's raster keys, as an installed host leaves them.
    void CreateRasterKey() const { esri.Create(RasterKey); }
    void CreateRasterEnvironmentKey() const { esri.Create(RasterEnvironmentKey); }
};

// Denies KEY_SET_VALUE on an existing key to everyone while the owner lives,
// then gives the key its former security back.
class ScopedWriteDenial {
public:
    ScopedWriteDenial(HKEY root, std::string subKey);
    ~ScopedWriteDenial();
    ScopedWriteDenial(const ScopedWriteDenial&) = delete;
    ScopedWriteDenial& operator=(const ScopedWriteDenial&) = delete;

    // False when the key could not be given the denying security.
    bool Applied() const { return applied_; }

private:
    HKEY root_;
    std::string subKey_;
    std::vector<BYTE> former_;
    bool applied_ = false;
};

// True when a write to the key is refused (ERROR_ACCESS_DENIED on opening for KEY_SET_VALUE).
bool WriteIsDenied(HKEY root, const std::string& subKey);
