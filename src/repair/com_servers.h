// COM servers: probing, registering and unregistering single modules, and the
// sweeps over an installation's bin\ntx86 folder that report on the COM row.
#pragma once

#include "repair/step_mode.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

enum ModuleProbe : int {
    NotLoadable = -1,       // empty path, or the file cannot be mapped as a module
    SelfRegistering = 1,    // maps and exports DllRegisterServer
    NotSelfRegistering = 2, // maps, no such export
};

// An empty path stands for an absent one throughout.
ModuleProbe ProbeModule(std::string_view path);
bool RegisterModule(std::string_view path);
bool UnregisterModule(std::string_view path);
// What the module's DllRegisterServer writes, captured and compared with the
// registry; nothing reaches the real registry, no regsvr32 starts. False
// ("not in place") also when the module cannot be loaded, lacks the export,
// crashes in it or returns a failure.
bool CheckModule(std::string_view path);
int CountSelfRegisteringModules(std::string_view folder);

// window may be null: the same work, nothing reported. A sweep in which
// something failed ends the COM row on the failure icon, its label naming the
// first file that failed.
bool RegisterProductComServers(std::string_view installDir, bool sxsRequired, HWND window);
// As above; failedFile receives the first file that failed, or nothing.
// StepMode::Verify checks each module (CheckModule) in the same order, on
// the same row: a module not in place counts as one that failed.
bool RegisterProductComServers(std::string_view installDir, bool sxsRequired, HWND window,
                               std::optional<std::string>& failedFile, StepMode mode = StepMode::Repair);
bool UnregisterProductComServers(std::string_view installDir, bool sxsRequired, HWND window);
