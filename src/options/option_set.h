// The command line as named options: "-name", "/name", "-name:value",
// "-name:\"value with spaces\"". Platform-free.
#pragma once

#include <functional>
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

// Count without "log" and "exit_codes": they say how a run reports, never
// which steps it runs; nor "verify", which checks the steps that the others
// select. With "verify", "cleanup" is not counted either: a verify run never
// cleans up, so it checks what it would check without it.
int StepOptionCount(const OptionSet& options);

// A path as the platform makes it full (the current folder, "." and "..",
// runs of separators resolved) and long (each short 8.3 segment written
// out); nullopt when it cannot.
using FullPathFunction = std::function<std::optional<std::string>(const std::string& path)>;

// The options part of a Windows command line. Started the usual way, the
// line begins with the program's own path; a launcher that names the program
// separately may pass the options alone. So the first word is skipped only
// when it names this program: modulePath or shortPath (its file as the loader
// gives it, and the short form of that) whole, or a relative path that they
// end with (RepairQEXApps, ..\bin\RepairQEXApps.exe), or any spelling that
// fullPathOf makes into one of them (C:\kit\\RepairQEXApps.exe, or
// C:\PROGRA~1\deploy-kit\RepairQEXApps.exe, half short). Letters
// compare without regard to case, a "/" counts as a backslash, ".exe" may be
// left out. In double quotes the word ends at the closing quote; without them
// a full path may hold spaces and is skipped whole. Otherwise the whole line
// is options. Null gives null.
const char* SkipProgramPath(const char* commandLine, std::string_view modulePath, std::string_view shortPath,
                            const FullPathFunction& fullPathOf = nullptr);
