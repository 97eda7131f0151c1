// The maker's three-part version numbers. Platform-free.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

struct VersionTriple {
    int32_t major = 0;
    int32_t minor = 0;
    int32_t patch = 0;

    // "9..1" is 9.1.0; "9a" is 9; a fourth field is ignored; null or "" is 0.0.0.
    // A number beyond 32 bits is clamped to INT32_MAX or INT32_MIN; the text
    // ends at its first zero byte, as a C string would.
    static VersionTriple Parse(std::optional<std::string_view> text);
};

// 1 when a is the higher version, -1 when b is, 0 when equal. A null a is
// lower than any version; a null b is lower than any a that is not null.
int CompareVersions(std::optional<std::string_view> a, std::optional<std::string_view> b);
