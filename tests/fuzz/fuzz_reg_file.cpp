// Arbitrary bytes as a registry file: no crash, and what is read, written
// out again in the same form, reads back the same.
#include "repair/reg_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string Quoted(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string Written(const std::vector<RegFileKey>& keys)
{
    std::string text = "REGEDIT4\r\n";
    for (const RegFileKey& key : keys) {
        text += "[" + key.root + (key.path.empty() ? "" : "\\" + key.path) + "]\r\n";
        for (const RegFileValue& value : key.values)
            text += (value.name.empty() ? "@" : Quoted(value.name)) + "=" + Quoted(value.data) + "\r\n";
    }
    return text;
}

bool Same(const std::vector<RegFileKey>& a, const std::vector<RegFileKey>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].root != b[i].root || a[i].path != b[i].path || a[i].values.size() != b[i].values.size())
            return false;
        for (size_t j = 0; j < a[i].values.size(); ++j)
            if (a[i].values[j].name != b[i].values[j].name || a[i].values[j].data != b[i].values[j].data)
                return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::vector<RegFileKey>> keys = ParseRegFile(text);
    if (!keys)
        return 0;
    const std::optional<std::vector<RegFileKey>> again = ParseRegFile(Written(*keys));
    if (!again || !Same(*keys, *again))
        abort();
    return 0;
}
