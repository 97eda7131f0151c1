// The registry file that "regasm.exe /regfile" writes, read line by line.
#include "repair/reg_file.h"

#include <doctest.h>

#include <string>

namespace {

// The keys as one line each: "root|path|name=data|name=data".
std::string Flat(const std::optional<std::vector<RegFileKey>>& keys)
{
    if (!keys)
        return "(unreadable)";
    std::string text;
    for (const RegFileKey& key : *keys) {
        text += (text.empty() ? "" : "\n") + key.root + "|" + key.path;
        for (const RegFileValue& value : key.values)
            text += "|" + value.name + "=" + value.data;
    }
    return text;
}

} // namespace

TEST_CASE("a registry file: keys, named and default strings, two escapes; any other line makes it unreadable")
{
    const std::string head = "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\CLSID\\{1}\\InprocServer32]\r\n";
    struct Row {
        std::string text;
        std::string keys;
    };
    const Row rows[] = {
        {head + "@=\"mscoree.dll\"\r\n\"ThreadingModel\"=\"Both\"\r\n",
         "HKEY_CLASSES_ROOT|CLSID\\{1}\\InprocServer32|=mscoree.dll|ThreadingModel=Both"},
        {head + "\"CodeBase\"=\"C:\\\\Program Files\\\\a \\\"b\\\".dll\"\r\n",
         "HKEY_CLASSES_ROOT|CLSID\\{1}\\InprocServer32|CodeBase=C:\\Program Files\\a \"b\".dll"},
        // LF alone, blanks around lines, a root in other letters, a key without values, an empty string.
        {"REGEDIT4\n  [hkey_local_machine\\Software\\X]  \n\"a\"=\"\"\n[HKEY_USERS]\n",
         "HKEY_LOCAL_MACHINE|Software\\X|a=\nHKEY_USERS|"},
        {"REGEDIT4\r\n", ""},
        {"", "(unreadable)"},
        {"Windows Registry Editor Version 5.00\r\n" + head.substr(10), "(unreadable)"},
        {"\"a\"=\"b\"\r\nREGEDIT4\r\n", "(unreadable)"},
        {"REGEDIT4\r\n\"a\"=\"b\"\r\n", "(unreadable)"},                   // a value before any key
        {"REGEDIT4\r\n[HKEY_NOWHERE\\X]\r\n", "(unreadable)"},
        {"REGEDIT4\r\n[-HKEY_CLASSES_ROOT\\X]\r\n", "(unreadable)"},       // a deletion
        {head + "\"n\"=dword:00000001\r\n", "(unreadable)"},
        {head + "\"n\"=hex:01,02\r\n", "(unreadable)"},
        {head + "\"n\"=\"a\\tb\"\r\n", "(unreadable)"},                   // an escape regedit does not know
        {head + "\"n\"=\"unterminated\r\n", "(unreadable)"},
        {head + "\"n\"=\"a\" junk\r\n", "(unreadable)"},
        {head + "; a comment\r\n", "(unreadable)"},
        {head + "[HKEY_CLASSES_ROOT\\Y\r\n", "(unreadable)"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.text);
        CHECK(Flat(ParseRegFile(row.text)) == row.keys);
    }
}
