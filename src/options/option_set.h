// The command line as named options: "-name", "/name", "-name:value",
// "-name:\"value with spaces\"". Platform-free.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class OptionSet {
public:
    struct Entry {
        std::string name;
        std::optional<std::string> value; // nullopt: a flag
    };

    explicit OptionSet(const char* commandLine = nullptr, bool caseSensitive = false);
    virtual ~OptionSet();

    // Replaces every entry by the options found in commandLine; null changes nothing.
    void Parse(const char* commandLine);

    bool Has(std::string_view name) const;
    int Count() const;
    bool Any() const;
    // The first matching entry's value; nullopt for an absent name and for a flag alike.
    std::optional<std::string> GetValue(std::string_view name) const;
    // True when a name matches; value then holds its value (nullopt for a flag).
    // When none matches, value is left as it was.
    bool TryGetValue(std::string_view name, std::optional<std::string>& value) const;

    bool CaseSensitive() const { return caseSensitive_; }
    // Every occurrence, in command-line order.
    const std::vector<Entry>& Entries() const { return entries_; }

private:
    const Entry* Find(std::string_view name) const;
    void Add(std::string_view name, std::optional<std::string_view> value);

    std::vector<Entry> entries_;
    bool caseSensitive_;
};

// The part of a Windows command line that follows the program's own path:
// a first token in double quotes up to its closing quote, otherwise up to the
// first space or tab. Null gives null.
const char* SkipProgramPath(const char* commandLine);
