// A registry file in the REGEDIT4 form that "regasm.exe /regfile" writes:
// what an assembly's registration would put in the registry, read without
// applying it. Platform-free.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct RegFileValue {
    std::string name; // "" for the key's default value ("@")
    std::string data; // the string, its escapes resolved
};

struct RegFileKey {
    std::string root; // "HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER" or "HKEY_USERS"
    std::string path; // below the root, without a leading backslash; "" for the root itself
    std::vector<RegFileValue> values;
};

// The keys in the file's order. The file starts with "REGEDIT4"; then blank
// lines, "[root\path]" lines and, below a key, "\"name\"=\"data\"" and
// "@=\"data\"" lines, with "\\" and "\"" as the only escapes. nullopt when any
// line is something else (a deletion, a hex or dword value, a value before the
// first key, an unknown root): a file that cannot be read whole says nothing.
std::optional<std::vector<RegFileKey>> ParseRegFile(std::string_view text);
