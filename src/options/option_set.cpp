#include "options/option_set.h"

#include <algorithm>

namespace {

// Only ASCII letters fold, whatever the code page: a lead or trail byte of a
// double-byte character must never change.
char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool NamesMatch(std::string_view a, std::string_view b, bool caseSensitive)
{
    if (a.size() != b.size())
        return false;
    if (caseSensitive)
        return a == b;
    return std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

} // namespace

OptionSet::OptionSet(const char* commandLine, bool caseSensitive) : caseSensitive_(caseSensitive)
{
    Parse(commandLine);
}

OptionSet::~OptionSet() = default;

void OptionSet::Add(std::string_view name, std::optional<std::string_view> value)
{
    if (name.empty())
        return;
    Entry entry;
    entry.name.assign(name);
    if (!caseSensitive_)
        std::transform(entry.name.begin(), entry.name.end(), entry.name.begin(), LowerAscii);
    if (value)
        entry.value.emplace(*value);
    entries_.push_back(std::move(entry));
}

void OptionSet::Parse(const char* commandLine)
{
    if (!commandLine)
        return;
    entries_.clear();

    const std::string_view line(commandLine);
    constexpr auto npos = std::string_view::npos;
    size_t p = 0;
    while (p < line.size()) {
        const size_t prefix = line.find_first_of("-/", p);
        if (prefix == npos)
            return;
        const size_t nameStart = prefix + 1;
        if (nameStart >= line.size())
            return;
        const size_t terminator = line.find_first_of(" :", nameStart);
        if (terminator == npos) {
            Add(line.substr(nameStart), std::nullopt);
            return;
        }
        const std::string_view name = line.substr(nameStart, terminator - nameStart);
        if (line[terminator] == ' ' || terminator + 1 == line.size()) {
            Add(name, std::nullopt);
            p = terminator + 1;
            continue;
        }
        // A colon with a value after it; a quote opens a value only right after the colon.
        size_t valueStart = terminator + 1;
        size_t valueEnd;
        if (line[valueStart] == '"') {
            ++valueStart;
            valueEnd = line.find('"', valueStart);
        } else {
            valueEnd = line.find(' ', valueStart);
        }
        if (valueEnd == npos) {
            Add(name, line.substr(std::min(valueStart, line.size())));
            return;
        }
        Add(name, line.substr(valueStart, valueEnd - valueStart));
        p = valueEnd + 1;
    }
}

const OptionSet::Entry* OptionSet::Find(std::string_view name) const
{
    for (const Entry& entry : entries_)
        if (NamesMatch(entry.name, name, caseSensitive_))
            return &entry;
    return nullptr;
}

bool OptionSet::Has(std::string_view name) const
{
    return Find(name) != nullptr;
}

int OptionSet::Count() const
{
    return static_cast<int>(entries_.size());
}

bool OptionSet::Any() const
{
    return Count() > 0;
}

std::optional<std::string> OptionSet::GetValue(std::string_view name) const
{
    const Entry* entry = Find(name);
    return entry ? entry->value : std::nullopt;
}

bool OptionSet::TryGetValue(std::string_view name, std::optional<std::string>& value) const
{
    const Entry* entry = Find(name);
    if (!entry)
        return false;
    value = entry->value;
    return true;
}

int StepOptionCount(const OptionSet& options)
{
    const bool caseSensitive = options.CaseSensitive();
    const bool verify = options.Has("verify");
    int count = 0;
    for (const OptionSet::Entry& entry : options.Entries())
        if (!NamesMatch(entry.name, "log", caseSensitive) && !NamesMatch(entry.name, "exit_codes", caseSensitive) &&
            !NamesMatch(entry.name, "verify", caseSensitive) &&
            !(verify && NamesMatch(entry.name, "cleanup", caseSensitive)))
            ++count;
    return count;
}

namespace {

// Path text compares as Windows compares file names here: ASCII letters
// without case, either slash as a separator.
char PathChar(char c)
{
    return c == '/' ? '\\' : LowerAscii(c);
}

bool SamePath(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return PathChar(x) == PathChar(y); });
}

bool EndsWithPath(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && SamePath(text.substr(text.size() - tail.size()), tail);
}

// The program's path as it may be written: whole, or without its ".exe".
std::string_view WithoutExe(std::string_view path)
{
    return EndsWithPath(path, ".exe") ? path.substr(0, path.size() - 4) : path;
}

// "." and ".." at the head of a relative path say nothing about which file it is.
std::string_view WithoutDotSegments(std::string_view word)
{
    for (;;) {
        if (word.size() >= 2 && word[0] == '.' && PathChar(word[1]) == '\\')
            word.remove_prefix(2);
        else if (word.size() >= 3 && word[0] == '.' && word[1] == '.' && PathChar(word[2]) == '\\')
            word.remove_prefix(3);
        else
            return word;
    }
}

// What is known of the program's own file.
struct Program {
    std::string_view modulePath;
    std::string_view shortPath;
    const FullPathFunction& fullPathOf;
};

std::string_view FileNameOf(std::string_view path)
{
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// The word is the full path, or a relative path that the full path ends with
// at a separator.
bool WordNamesPath(std::string_view word, std::string_view fullPath)
{
    if (fullPath.empty() || word.empty())
        return false;
    for (std::string_view full : {fullPath, WithoutExe(fullPath)}) {
        if (SamePath(word, full))
            return true;
        const std::string_view relative = WithoutDotSegments(word);
        if (relative.empty() || relative.size() >= full.size() || !EndsWithPath(full, relative))
            continue;
        if (PathChar(relative.front()) == '\\' || PathChar(full[full.size() - relative.size() - 1]) == '\\')
            return true;
    }
    return false;
}

// Only text that ends with the program's file name can name it once made
// full: nothing else is worth asking the platform about.
bool EndsWithFileName(std::string_view text, const Program& program)
{
    for (std::string_view path : {program.modulePath, program.shortPath}) {
        const std::string_view name = FileNameOf(path);
        if (!name.empty() && (EndsWithPath(text, name) || EndsWithPath(text, WithoutExe(name))))
            return true;
    }
    return false;
}

// The text, made full, is the program's path, with or without its ".exe".
bool FullSpellingNamesProgram(std::string_view text, const Program& program)
{
    if (!program.fullPathOf || !EndsWithFileName(text, program))
        return false;
    const std::optional<std::string> full = program.fullPathOf(std::string(text));
    if (!full)
        return false;
    for (std::string_view path : {program.modulePath, program.shortPath})
        if (!path.empty() && (SamePath(*full, path) || SamePath(*full, WithoutExe(path))))
            return true;
    return false;
}

bool WordNamesProgram(std::string_view word, const Program& program)
{
    return WordNamesPath(word, program.modulePath) || WordNamesPath(word, program.shortPath) ||
           FullSpellingNamesProgram(word, program);
}

bool EndsWord(const char* p)
{
    return *p == '\0' || *p == ' ' || *p == '\t';
}

// Without quotes the full path, spaces and all, may open the line.
const char* AfterUnquotedFullPath(const char* commandLine, std::string_view fullPath)
{
    if (fullPath.empty())
        return nullptr;
    const std::string_view line(commandLine);
    for (std::string_view full : {fullPath, WithoutExe(fullPath)}) {
        if (line.size() >= full.size() && SamePath(line.substr(0, full.size()), full) &&
            EndsWord(commandLine + full.size()))
            return commandLine + full.size();
    }
    return nullptr;
}

// The same in another spelling, spaces and all: the shortest head of the line
// that ends a word and names the program once made full.
const char* AfterUnquotedFullSpelling(const char* commandLine, const Program& program)
{
    if (!program.fullPathOf)
        return nullptr;
    for (const char* end = commandLine; *end; ++end) {
        const std::string_view head(commandLine, static_cast<size_t>(end - commandLine) + 1);
        if (EndsWord(end + 1) && FullSpellingNamesProgram(head, program))
            return end + 1;
    }
    return nullptr;
}

} // namespace

const char* SkipProgramPath(const char* commandLine, std::string_view modulePath, std::string_view shortPath,
                            const FullPathFunction& fullPathOf)
{
    if (!commandLine)
        return nullptr;
    const Program program{modulePath, shortPath, fullPathOf};
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        const std::string_view word(commandLine + 1, static_cast<size_t>(p - commandLine - 1));
        if (!WordNamesProgram(word, program))
            return commandLine;
        return *p == '"' ? p + 1 : p;
    }
    for (std::string_view full : {modulePath, shortPath})
        if (const char* rest = AfterUnquotedFullPath(commandLine, full))
            return rest;
    while (!EndsWord(p))
        ++p;
    const std::string_view word(commandLine, static_cast<size_t>(p - commandLine));
    if (WordNamesPath(word, modulePath) || WordNamesPath(word, shortPath))
        return p;
    if (const char* rest = AfterUnquotedFullSpelling(commandLine, program))
        return rest;
    return commandLine;
}
