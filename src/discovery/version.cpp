#include "discovery/version.h"

#include <cstdint>
#include <limits>

namespace {

bool IsSpace(char c)
{
    // The C locale's white space; no locale is consulted.
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The piece's leading decimal integer after white space and one sign; 0 when
// it does not begin with a number. A number beyond 32 bits is clamped to
// INT32_MAX or INT32_MIN, as strtol does with a 32-bit long.
int32_t LeadingInteger(std::string_view piece)
{
    size_t i = 0;
    while (i < piece.size() && IsSpace(piece[i]))
        ++i;
    bool negative = false;
    if (i < piece.size() && (piece[i] == '+' || piece[i] == '-')) {
        negative = piece[i] == '-';
        ++i;
    }
    // The magnitude of INT32_MIN, the largest that either sign can hold.
    const int64_t limit = negative ? int64_t{std::numeric_limits<int32_t>::max()} + 1
                                   : int64_t{std::numeric_limits<int32_t>::max()};
    int64_t magnitude = 0;
    for (; i < piece.size() && piece[i] >= '0' && piece[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (piece[i] - '0');
        if (magnitude > limit)
            magnitude = limit; // stays clamped; never grows past 64 bits
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

} // namespace

VersionTriple VersionTriple::Parse(std::optional<std::string_view> text)
{
    VersionTriple triple;
    if (!text)
        return triple;
    // The version is a zero-terminated string: nothing after a zero byte belongs to it.
    std::string_view rest = text->substr(0, text->find('\0'));
    int32_t* fields[] = {&triple.major, &triple.minor, &triple.patch};
    size_t field = 0;
    while (field < 3 && !rest.empty()) {
        const size_t dot = rest.find('.');
        const std::string_view piece = rest.substr(0, dot);
        rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
        if (piece.empty())
            continue; // leading, trailing or repeated dots
        *fields[field++] = LeadingInteger(piece);
    }
    return triple;
}

int CompareVersions(std::optional<std::string_view> a, std::optional<std::string_view> b)
{
    if (!a)
        return b ? -1 : 0;
    if (!b)
        return 1;
    const VersionTriple left = VersionTriple::Parse(a);
    const VersionTriple right = VersionTriple::Parse(b);
    const int32_t pairs[][2] = {{left.major, right.major}, {left.minor, right.minor}, {left.patch, right.patch}};
    for (const auto& pair : pairs)
        if (pair[0] != pair[1])
            return pair[0] > pair[1] ? 1 : -1;
    return 0;
}
