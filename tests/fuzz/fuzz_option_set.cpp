// Arbitrary bytes as a command line: no crash, no leak, and the set's
// invariants hold (no empty name; no upper-case ASCII unless case-sensitive).
#include "options/option_set.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const bool caseSensitive = data[0] & 1;
    const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);

    OptionSet set(line.c_str(), caseSensitive);
    OptionSet skipped(SkipProgramPath(line.c_str()), caseSensitive);
    if (skipped.Any() != (skipped.Count() > 0))
        abort();
    for (const OptionSet::Entry& entry : set.Entries()) {
        if (entry.name.empty())
            abort();
        if (entry.name.find(' ') != std::string::npos || entry.name.find(':') != std::string::npos)
            abort();
        if (!caseSensitive)
            for (char c : entry.name)
                if (c >= 'A' && c <= 'Z')
                    abort();
        if (!set.Has(entry.name))
            abort();
        std::optional<std::string> value = std::string("sentinel");
        if (!set.TryGetValue(entry.name, value))
            abort();
    }
    if (set.Any() != (set.Count() > 0))
        abort();
    return 0;
}
