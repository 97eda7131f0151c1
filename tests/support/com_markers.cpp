#include "support/com_markers.h"

#include "support/bench.h"

#include <shlwapi.h>

#include <sstream>

namespace {

constexpr char MarkerVariable[] = "QEX_COM_MARKERS";

std::optional<std::string> Environment(const char* name)
{
    char value[1024];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value)
        return std::nullopt;
    return std::string(value, length);
}

int ReadCount(const std::string& key, const std::string& module, const char* name)
{
    std::optional<RawValue> value = ReadRawValue(HKEY_CURRENT_USER, key + "\\" + module, name);
    if (!value || value->type != REG_DWORD || value->bytes.size() != sizeof(DWORD))
        return 0;
    DWORD count = 0;
    value->bytes.copy(reinterpret_cast<char*>(&count), sizeof count);
    return static_cast<int>(count);
}

std::optional<std::string> ReadText(const std::string& key, const char* name)
{
    std::optional<RawValue> value = ReadRawValue(HKEY_CURRENT_USER, key, name);
    if (!value || value->type != REG_SZ)
        return std::nullopt;
    return std::string(value->bytes.c_str());
}

template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

} // namespace

ScopedComMarkers::ScopedComMarkers()
    : key_("Software\\QexTest\\ComMarkers " + std::to_string(GetCurrentProcessId())),
      previous_(Environment(MarkerVariable))
{
    SHDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
    SetEnvironmentVariableA(MarkerVariable, key_.c_str());
}

ScopedComMarkers::~ScopedComMarkers()
{
    SHDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
    SetEnvironmentVariableA(MarkerVariable, previous_ ? previous_->c_str() : nullptr);
}

int ScopedComMarkers::Registered(const std::string& module) const
{
    return ReadCount(key_, module, "Registered");
}

int ScopedComMarkers::Unregistered(const std::string& module) const
{
    return ReadCount(key_, module, "Unregistered");
}

std::optional<std::string> ScopedComMarkers::Process(const std::string& module) const
{
    return ReadText(key_ + "\\" + module, "Process");
}

std::vector<std::string> ScopedComMarkers::Sequence() const
{
    std::vector<std::string> lines;
    std::istringstream text(ReadText(key_, "Sequence").value_or(""));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

void ScopedComMarkers::Clear() const
{
    SHDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
}

bool ScopedComMarkers::WaitForRegistered(const std::string& module, DWORD timeoutMs) const
{
    return WaitFor([&] { return Registered(module) > 0; }, timeoutMs);
}

bool ScopedComMarkers::WaitForUnregistered(const std::string& module, DWORD timeoutMs) const
{
    return WaitFor([&] { return Unregistered(module) > 0; }, timeoutMs);
}
