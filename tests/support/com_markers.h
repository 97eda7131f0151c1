// Reading what the stand-in COM servers (tests/fixtures/com) recorded. They
// record under HKEY_CURRENT_USER\<key>, <key> taken from the environment
// variable QEX_COM_MARKERS, which child processes such as regsvr32 and the
// program inherit. This process takes a key of its own the first time any of
// these is called, and removes it at its end.
#pragma once

#include <optional>
#include <string>
#include <vector>

// This process's key; the first call also hands it to the processes it starts.
const std::string& MarkerKey();

// Calls of DllRegisterServer / DllUnregisterServer of the module with this
// file name ("a.dll"), whatever the calls returned.
int RegistrationCount(const std::string& module);
int UnregistrationCount(const std::string& module);
// File name of the exe that made the module's last call ("regsvr32.exe").
std::optional<std::string> RegisteringProcess(const std::string& module);
// Every call in order: "register a.dll", "unregister b.ocx"; and, while a
// ShowWatch lives, "show <title>" for every top-level window shown.
std::vector<std::string> MarkerSequence();
// The modules registered, in order.
std::vector<std::string> Registrations();
// The raster environment's "QEX_HOME" as the last registration found it:
// "(absent)" when it was not there, "(not recorded)" when nothing registered.
std::string RasterHomeWhenRegistered();
// Where the stand-ins register (HKCR): a COM server's key, and an assembly's
// as the stand-in regasm.exe writes it, each named after the module's full
// path with "/" for "\".
constexpr char ServerRegistrationsKey[] = "QexTestServer";
constexpr char AssemblyRegistrationsKey[] = "QexTestAssembly";
std::string ServerRegistration(const std::string& modulePath);
std::string AssemblyRegistration(const std::string& assemblyPath);
// Forgets everything recorded so far, and every registration of the stand-ins.
void ClearMarkers();

// Starts from nothing recorded, and forgets again when the owner goes.
struct ScopedComMarkers {
    ScopedComMarkers() { ClearMarkers(); }
    ~ScopedComMarkers() { ClearMarkers(); }
};
