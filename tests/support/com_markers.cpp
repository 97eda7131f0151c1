#include "support/com_markers.h"

#include "support/bench.h"

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
    DeleteKeyTree(HKEY_CURRENT_USER, key_);
    SetEnvironmentVariableA(MarkerVariable, key_.c_str());
}

ScopedComMarkers::~ScopedComMarkers()
{
    DeleteKeyTree(HKEY_CURRENT_USER, key_);
    SetEnvironmentVariableA(MarkerVariable, previous_ ? previous_->c_str() : nullptr);
}

int ScopedComMarkers::Registered(const std::string& module) const
{
    return ReadCount(HKEY_CURRENT_USER, key_ + "\\" + module, "Registered");
}

int ScopedComMarkers::Unregistered(const std::string& module) const
{
    return ReadCount(HKEY_CURRENT_USER, key_ + "\\" + module, "Unregistered");
}

std::optional<std::string> ScopedComMarkers::Process(const std::string& module) const
{
    return ReadString(HKEY_CURRENT_USER, key_ + "\\" + module, "Process");
}

std::vector<std::string> ScopedComMarkers::Sequence() const
{
    std::vector<std::string> lines;
    std::istringstream text(ReadString(HKEY_CURRENT_USER, key_, "Sequence").value_or(""));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

void ScopedComMarkers::Clear() const
{
    DeleteKeyTree(HKEY_CURRENT_USER, key_);
}

bool ScopedComMarkers::WaitForRegistered(const std::string& module, DWORD timeoutMs) const
{
    return WaitFor([&] { return Registered(module) > 0; }, timeoutMs);
}

bool ScopedComMarkers::WaitForUnregistered(const std::string& module, DWORD timeoutMs) const
{
    return WaitFor([&] { return Unregistered(module) > 0; }, timeoutMs);
}
