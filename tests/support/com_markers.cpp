#include "support/com_markers.h"

#include "support/bench.h"

#include <algorithm>
#include <sstream>

namespace {

constexpr char MarkerVariable[] = "QEX_COM_MARKERS";

struct ProcessMarkerKey {
    std::string key = "Software\\QexTest\\ComMarkers " + std::to_string(GetCurrentProcessId());
    ProcessMarkerKey()
    {
        DeleteKeyTree(HKEY_CURRENT_USER, key);
        SetEnvironmentVariableA(MarkerVariable, key.c_str());
    }
    ~ProcessMarkerKey()
    {
        DeleteKeyTree(HKEY_CURRENT_USER, key);
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\QexTest"); // only when no other process's key is left
    }
};

std::string ModuleKey(const std::string& module)
{
    return MarkerKey() + "\\" + module;
}

} // namespace

const std::string& MarkerKey()
{
    static const ProcessMarkerKey owner;
    return owner.key;
}

int RegistrationCount(const std::string& module)
{
    return ReadCount(HKEY_CURRENT_USER, ModuleKey(module), "Registered");
}

int UnregistrationCount(const std::string& module)
{
    return ReadCount(HKEY_CURRENT_USER, ModuleKey(module), "Unregistered");
}

std::optional<std::string> RegisteringProcess(const std::string& module)
{
    return ReadString(HKEY_CURRENT_USER, ModuleKey(module), "Process");
}

std::vector<std::string> MarkerSequence()
{
    std::vector<std::string> lines;
    std::istringstream text(ReadString(HKEY_CURRENT_USER, MarkerKey(), "Sequence").value_or(""));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Registrations()
{
    std::vector<std::string> modules;
    for (const std::string& line : MarkerSequence())
        if (line.compare(0, 9, "register ") == 0)
            modules.push_back(line.substr(9));
    return modules;
}

std::string RasterHomeWhenRegistered()
{
    return ReadString(HKEY_CURRENT_USER, MarkerKey(), "RasterHome").value_or("(not recorded)");
}

std::string ServerRegistration(const std::string& modulePath)
{
    std::string key = std::string(ServerRegistrationsKey) + "\\" + modulePath;
    std::replace(key.begin() + sizeof ServerRegistrationsKey, key.end(), '\\', '/');
    return key;
}

std::string AssemblyRegistration(const std::string& assemblyPath)
{
    std::string key = std::string(AssemblyRegistrationsKey) + "\\" + assemblyPath;
    std::replace(key.begin() + sizeof AssemblyRegistrationsKey, key.end(), '\\', '/');
    return key;
}

void ClearMarkers()
{
    DeleteKeyTree(HKEY_CURRENT_USER, MarkerKey());
    DeleteKeyTree(HKEY_CLASSES_ROOT, ServerRegistrationsKey);
    DeleteKeyTree(HKEY_CLASSES_ROOT, AssemblyRegistrationsKey);
}
