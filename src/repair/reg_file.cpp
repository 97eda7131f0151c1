#include "repair/reg_file.h"

#include <algorithm>

namespace {

constexpr std::string_view Header = "REGEDIT4";
constexpr const char* Roots[] = {"HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS"};

char UpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string_view Trimmed(std::string_view line)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!line.empty() && blank(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && blank(line.back()))
        line.remove_suffix(1);
    return line;
}

// "[root]" or "[root\path]"; the root's name in any case of letters.
std::optional<RegFileKey> ParseKey(std::string_view line)
{
    if (line.size() < 2 || line.front() != '[' || line.back() != ']')
        return std::nullopt;
    const std::string_view name = line.substr(1, line.size() - 2);
    const size_t slash = name.find('\\');
    std::string root(name.substr(0, slash));
    std::transform(root.begin(), root.end(), root.begin(), UpperAscii);
    if (std::none_of(std::begin(Roots), std::end(Roots), [&](const char* known) { return root == known; }))
        return std::nullopt;
    RegFileKey key{root, "", {}};
    if (slash != std::string_view::npos)
        key.path.assign(name.substr(slash + 1));
    while (!key.path.empty() && key.path.back() == '\\')
        key.path.pop_back();
    return key;
}

// A quoted string at the start of text; text then holds what follows it.
std::optional<std::string> TakeQuoted(std::string_view& text)
{
    if (text.empty() || text.front() != '"')
        return std::nullopt;
    std::string value;
    for (size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return value;
        }
        if (c == '\\') {
            if (i + 1 == text.size() || (text[i + 1] != '\\' && text[i + 1] != '"'))
                return std::nullopt;
            ++i;
        }
        value += text[i];
    }
    return std::nullopt;
}

// "\"name\"=\"data\"" or "@=\"data\"".
std::optional<RegFileValue> ParseValue(std::string_view line)
{
    RegFileValue value;
    if (!line.empty() && line.front() == '@') {
        line.remove_prefix(1);
    } else {
        std::optional<std::string> name = TakeQuoted(line);
        if (!name)
            return std::nullopt;
        value.name = std::move(*name);
    }
    if (line.empty() || line.front() != '=')
        return std::nullopt;
    line.remove_prefix(1);
    std::optional<std::string> data = TakeQuoted(line);
    if (!data || !line.empty())
        return std::nullopt;
    value.data = std::move(*data);
    return value;
}

} // namespace

std::optional<std::vector<RegFileKey>> ParseRegFile(std::string_view text)
{
    std::vector<RegFileKey> keys;
    bool headerSeen = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty())
            continue;
        if (!headerSeen) {
            if (line != Header)
                return std::nullopt;
            headerSeen = true;
        } else if (line.front() == '[') {
            std::optional<RegFileKey> key = ParseKey(line);
            if (!key)
                return std::nullopt;
            keys.push_back(std::move(*key));
        } else {
            std::optional<RegFileValue> value = ParseValue(line);
            if (!value || keys.empty())
                return std::nullopt;
            keys.back().values.push_back(std::move(*value));
        }
    }
    if (!headerSeen)
        return std::nullopt;
    return keys;
}
