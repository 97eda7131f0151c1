// The product's .NET assemblies, registered one regasm.exe run at a time on
// the .NET row.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

// The framework whose regasm.exe registers the assemblies.
constexpr char DotNetRuntimeVersion[] = "1.0.3705";

// InstallRoot + "v" + version; nullopt for an empty version or a missing key.
std::optional<std::string> FindDotNetDirectory(std::string_view version);

// An empty installDir stands for an absent one. window may be null.
bool RegisterAssemblies(std::string_view installDir, HWND window);
bool UnregisterAssemblies(std::string_view installDir, HWND window);
