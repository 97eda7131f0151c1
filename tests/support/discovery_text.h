// How doctest shows a looked-up string in a failed check: "text", or nullopt.
// Long values are cut to their first 60 characters and their length.
#pragma once

#include <doctest.h>

#include <optional>
#include <string>

namespace doctest {
template <> struct StringMaker<std::optional<std::string>> {
    static String convert(const std::optional<std::string>& value)
    {
        if (!value)
            return "nullopt";
        if (value->size() <= 60)
            return ("\"" + *value + "\"").c_str();
        return ("\"" + value->substr(0, 60) + "...\" (" + std::to_string(value->size()) + " characters)").c_str();
    }
};
} // namespace doctest
