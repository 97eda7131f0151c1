// Parsing and comparing the maker's three-part versions, on Linux under sanitizers.
#include "discovery/version.h"

#include <doctest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

const int32_t int32Max = std::numeric_limits<int32_t>::max();
const int32_t int32Min = std::numeric_limits<int32_t>::min();

std::string Show(const VersionTriple& t)
{
    return std::to_string(t.major) + "." + std::to_string(t.minor) + "." + std::to_string(t.patch);
}

std::string Parsed(std::optional<std::string_view> text)
{
    return Show(VersionTriple::Parse(text));
}

} // namespace

TEST_CASE("pieces give major, minor and patch; missing ones are 0")
{
    CHECK(Parsed(std::nullopt) == "0.0.0");
    CHECK(Parsed("") == "0.0.0");
    CHECK(Parsed("8") == "8.0.0");
    CHECK(Parsed("8.7") == "8.7.0");
    CHECK(Parsed("8.7.0") == "8.7.0");
    CHECK(Parsed("10.20.30") == "10.20.30");
    CHECK(Parsed("8.7.0.5") == "8.7.0");
    CHECK(Parsed("1.2.3.4.5.6") == "1.2.3");
}

TEST_CASE("empty pieces are skipped")
{
    CHECK(Parsed("9..1") == "9.1.0");
    CHECK(Parsed(".9.1") == "9.1.0");
    CHECK(Parsed("9.1.") == "9.1.0");
    CHECK(Parsed("...9...1...2...3") == "9.1.2");
    CHECK(Parsed(".") == "0.0.0");
    CHECK(Parsed("....") == "0.0.0");
}

TEST_CASE("each piece gives its leading integer, after white space and one sign")
{
    CHECK(Parsed("9a.1b.2c") == "9.1.2");
    CHECK(Parsed("abc") == "0.0.0");
    CHECK(Parsed("x.7") == "0.7.0");
    CHECK(Parsed(" 9.\t1.\n\v\f\r2") == "9.1.2");
    CHECK(Parsed("+9.-1.-0") == "9.-1.0");
    CHECK(Parsed("- 9") == "0.0.0");  // white space only before the sign
    CHECK(Parsed("+-9") == "0.0.0");  // one sign only
    CHECK(Parsed("--9") == "0.0.0");
    CHECK(Parsed("9 1.2") == "9.2.0"); // a space ends the number, it does not split
    CHECK(Parsed("007.08.009") == "7.8.9");
    CHECK(Parsed("\xB9.\xFF" "5") == "0.0.0"); // bytes above 0x7F are not digits or space
}

TEST_CASE("a number beyond 32 bits is clamped, without overflow")
{
    CHECK(VersionTriple::Parse("2147483647").major == int32Max);
    CHECK(VersionTriple::Parse("2147483648").major == int32Max);
    CHECK(VersionTriple::Parse("99999999999999999999999999").major == int32Max);
    CHECK(VersionTriple::Parse("-2147483648").major == int32Min);
    CHECK(VersionTriple::Parse("-2147483649").major == int32Min);
    CHECK(VersionTriple::Parse("-99999999999999999999999999").major == int32Min);
    CHECK(VersionTriple::Parse("1.4294967296.4294967297").minor == int32Max);
    CHECK(VersionTriple::Parse("1.4294967296.4294967297").patch == int32Max);
    // Far beyond 64 bits too.
    CHECK(VersionTriple::Parse(std::string(5000, '9')).major == int32Max);
    CHECK(VersionTriple::Parse("-" + std::string(5000, '9')).major == int32Min);
    CHECK(Parsed("00000000000000000000000000012.3") == "12.3.0"); // leading zeros are not a big number

    CHECK(CompareVersions("99999999999", "2147483647") == 0);
    CHECK(CompareVersions("2147483647", "2147483646") == 1);
    CHECK(CompareVersions("-99999999999", "-2147483648") == 0);
    CHECK(CompareVersions("-99999999999", "-2147483647") == -1);
}

TEST_CASE("the text ends at its first zero byte")
{
    using namespace std::string_literals;
    CHECK(Parsed("9\0.5"s) == "9.0.0");
    CHECK(Parsed("\0" "9.5"s) == "0.0.0");
    CHECK(CompareVersions("8.7\0.9"s, "8.7") == 0);
}

TEST_CASE("comparisons field by field")
{
    CHECK(CompareVersions("9.0.0.0", "9.0") == 0);
    CHECK(CompareVersions("10.0", "9.9.9") == 1);
    CHECK(CompareVersions("8.7", "8.7.1") == -1);
    CHECK(CompareVersions("8.7.0.5", "8.7.0.9") == 0);
    CHECK(CompareVersions("1..2", "1.2") == 0);
    CHECK(CompareVersions("letters", "0") == 0);
    CHECK(CompareVersions("9.0", "8.7.0") == 1);
    CHECK(CompareVersions("8.6.0", "8.7.0") == -1);
    CHECK(CompareVersions("8.7.2", "8.7.10") == -1); // numbers, not text
    CHECK(CompareVersions("2.0.0", "1.99.99") == 1);
    // Two fields pointing opposite ways: the first that differs decides.
    CHECK(CompareVersions("8.6.9", "8.7.0") == -1);
    CHECK(CompareVersions("8.7.0", "8.6.9") == 1);
    CHECK(CompareVersions("9.0.0", "8.0.9") == 1);
    CHECK(CompareVersions("8.9.9", "9.0.0") == -1);
    CHECK(CompareVersions("1.2.9", "1.3.0") == -1);
    CHECK(CompareVersions("-1", "0.0.0") == -1);    // signed fields
    CHECK(CompareVersions("0.0.0", "0.0.-1") == 1);
    CHECK(CompareVersions("0.0.0", "") == 0);
    CHECK(CompareVersions("", "0.0.1") == -1);
}

TEST_CASE("null is lower than any version, and equal to null")
{
    CHECK(CompareVersions(std::nullopt, "1.0") == -1);
    CHECK(CompareVersions(std::nullopt, "0.0.0") == -1);
    CHECK(CompareVersions(std::nullopt, "") == -1);
    CHECK(CompareVersions(std::nullopt, std::nullopt) == 0);
    CHECK(CompareVersions("1.0", std::nullopt) == 1);
    CHECK(CompareVersions("", std::nullopt) == 1);
    CHECK(CompareVersions("-5", std::nullopt) == 1);
}

TEST_CASE("the comparison is antisymmetric")
{
    const char* versions[] = {"", "0", "8.7", "8.7.0", "8.7.1", "9.0.0.0", "10", "-1.5", "a.b", "4294967296"};
    for (const char* a : versions)
        for (const char* b : versions) {
            CAPTURE(a);
            CAPTURE(b);
            CHECK(CompareVersions(a, b) == -CompareVersions(b, a));
        }
}
