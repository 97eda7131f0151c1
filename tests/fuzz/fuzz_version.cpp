// Arbitrary bytes as two versions: no crash, no undefined behaviour (numbers
// of any length are clamped), and the comparison is a consistent order that
// agrees with the parsed fields.
#include "discovery/version.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <tuple>

namespace {

auto Fields(const VersionTriple& t)
{
    return std::make_tuple(t.major, t.minor, t.patch);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte chooses where the input splits into a and b, and which is null.
    if (size == 0)
        return 0;
    const uint8_t control = data[0];
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t split = rest.empty() ? 0 : (control >> 2) % (rest.size() + 1);
    std::optional<std::string_view> a = rest.substr(0, split);
    std::optional<std::string_view> b = rest.substr(split);
    if (control & 1)
        a.reset();
    if (control & 2)
        b.reset();

    const int ab = CompareVersions(a, b);
    const int ba = CompareVersions(b, a);
    if (ab < -1 || ab > 1 || ab != -ba)
        abort();
    if (CompareVersions(a, a) != 0 || CompareVersions(b, b) != 0)
        abort();
    if (a && b) {
        const auto left = Fields(VersionTriple::Parse(a));
        const auto right = Fields(VersionTriple::Parse(b));
        if (ab != (left < right ? -1 : right < left ? 1 : 0))
            abort();
    } else if (ab != (a ? 1 : b ? -1 : 0)) {
        abort();
    }
    // A null or empty text parses as 0.0.0.
    if (Fields(VersionTriple::Parse(std::nullopt)) != std::make_tuple(0, 0, 0))
        abort();
    return 0;
}
