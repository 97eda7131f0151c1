// The product's .NET assemblies, registered one regasm.exe run at a time on
// the .NET row.
#pragma once

#include "repair/step_mode.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

// The framework whose regasm.exe registers the assemblies.
constexpr char DotNetRuntimeVersion[] = "1.0.3705";

// InstallRoot + "v" + version; nullopt for an empty version or a missing key.
std::optional<std::string> FindDotNetDirectory(std::string_view version);

// An empty installDir stands for an absent one. window may be null.
// StepMode::Verify asks regasm.exe for each registration as a registry file
// ("/regfile:"), which it writes instead of registering, and compares that
// with the registry: an assembly not in place counts as one that failed.
bool RegisterAssemblies(std::string_view installDir, HWND window, StepMode mode = StepMode::Repair);
bool UnregisterAssemblies(std::string_view installDir, HWND window);
