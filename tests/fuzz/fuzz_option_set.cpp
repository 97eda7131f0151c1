// Arbitrary bytes as a command line: no crash, no leak, and the set's
// invariants hold (no empty name; no upper-case ASCII unless case-sensitive).
// The line's first part, up to a newline, also serves as the program's path:
// skipping it leaves a tail of the line, and the path itself, in quotes or
// not, is always skipped. A stand-in platform that gives every path back as
// its full path lets the skip also try the line's heads.
#include "options/option_set.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const bool caseSensitive = data[0] & 1;
    const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);

    OptionSet set(line.c_str(), caseSensitive);
    const std::string_view program(line.c_str(), std::min(line.find('\n'), strlen(line.c_str())));
    const auto asGiven = [](const std::string& path) { return std::optional<std::string>(path); };
    const char* rest = SkipProgramPath(line.c_str(), program, "", asGiven);
    if (rest < line.c_str() || rest > line.c_str() + strlen(line.c_str()))
        abort();
    if (!program.empty() && program.find('"') == std::string_view::npos) {
        const std::string quoted = "\"" + std::string(program) + "\" -x";
        if (std::string(SkipProgramPath(quoted.c_str(), "", program)) != " -x")
            abort();
    }
    if (!program.empty() && program.front() != '"') {
        const std::string unquoted = std::string(program) + " -x";
        if (std::string(SkipProgramPath(unquoted.c_str(), program, "")) != " -x")
            abort();
    }
    OptionSet skipped(rest, caseSensitive);
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
