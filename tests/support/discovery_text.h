// The registry data of every type and size that each lookup must read alike.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// A value as stored and the text a lookup gives for it: the bytes up to the
// first zero, whatever the type, nothing expanded.
struct StoredText {
    std::string what;
    DWORD type;
    std::string bytes;
    std::string expected;
};

inline std::vector<StoredText> StoredTexts()
{
    using namespace std::string_literals;
    const std::string big(65536, 'q');
    std::vector<StoredText> rows = {
        {"an expandable string is not expanded", REG_EXPAND_SZ, "%ProgramFiles%\\QEX\0"s, "%ProgramFiles%\\QEX"},
        {"a multi-string gives its first string", REG_MULTI_SZ, "9.1\0" "9.0.0.0\0\0"s, "9.1"},
        {"a multi-string of paths", REG_MULTI_SZ, "C:\\QEX\0D:\\QEX\0\0"s, "C:\\QEX"},
        {"an unterminated version", REG_SZ, "8.3.0", "8.3.0"},
        {"a number, up to its zero", REG_DWORD, "CX\0\0"s, "CX"},
        {"the number 0x00312E39", REG_DWORD, "9.1\0"s, "9.1"},
        {"a number without a zero", REG_DWORD, "ABCD", "ABCD"},
        {"the number 0", REG_DWORD, "\0\0\0\0"s, ""},
        {"binary data with a zero", REG_BINARY, "C:\\Q\0X"s, "C:\\Q"},
        {"binary data without a zero", REG_BINARY, "9.0.0.0", "9.0.0.0"},
        {"binary data that starts with a zero", REG_BINARY, "\0abc"s, ""},
        {"64 KiB of binary data", REG_BINARY, big, big},
        {"an unterminated string of 64 KiB", REG_SZ, big, big},
        {"a string of 64 KiB with its zero", REG_SZ, big + '\0', big},
        {"a string of 65535 characters with its zero", REG_SZ, std::string(65535, 's') + '\0', std::string(65535, 's')},
    };
    for (DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_DWORD, REG_NONE})
        rows.push_back({"zero-length, type " + std::to_string(type), type, "", ""});
    const std::string text = "C:\\Program Files\\QEX";
    for (size_t length = 1; length <= text.size(); ++length)
        rows.push_back({"a string of " + std::to_string(length) + " without its zero", REG_SZ, text.substr(0, length),
                        text.substr(0, length)});
    return rows;
}
