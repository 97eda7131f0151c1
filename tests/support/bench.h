// What Windows-side tests share: where the build put things, scratch folders
// and registry keys that remove themselves, child processes, a window that
// records the progress messages it receives, and how doctest shows values.
#pragma once

#include "common/unique_any.h"

#include <windows.h>

#include <doctest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// A failed check shows a "const char*" as its text, not its address, lines
// as a list, and an optional as its value or nullopt; long strings are cut to
// their first 60 characters and their length.
namespace doctest {
template <> struct StringMaker<const char*> {
    static String convert(const char* value) { return value ? ("\"" + std::string(value) + "\"").c_str() : "null"; }
};
template <> struct StringMaker<std::vector<std::string>> {
    static String convert(const std::vector<std::string>& lines)
    {
        std::string text;
        for (const std::string& line : lines)
            text += (text.empty() ? "{\"" : "\", \"") + line;
        return (lines.empty() ? "{}" : text + "\"}").c_str();
    }
};
template <typename T> struct StringMaker<std::optional<T>> {
    static String convert(const std::optional<T>& value) { return value ? toString(*value) : "nullopt"; }
};
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

// Asks every intervalMs until condition holds; false once timeoutMs has passed without it.
bool PollUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD intervalMs = 10);

// The folder that holds the test programs and fixtures (build/win32/bin).
std::string BuildFolder();
// build/win32/RepairQEXApps.exe.
std::string ProgramPath();
// A fixture built beside the tests.
std::string FixturePath(const char* fileName);

// A fresh folder under the prefix's temporary folder, removed with everything
// in it when the owner goes. The name may hold spaces.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }
    // Path() + "\" + relative, with its parent folders created.
    std::string Make(const std::string& relative) const;

private:
    std::string path_;
};

// This process's current folder while the owner lives; Entered() is false when it could not be changed.
class ScopedCurrentFolder {
public:
    explicit ScopedCurrentFolder(const std::string& path);
    ~ScopedCurrentFolder();
    ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
    ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;
    bool Entered() const { return entered_; }

private:
    char previous_[MAX_PATH] = {};
    bool entered_;
};

bool CreateFolders(const std::string& path);
bool RemoveTree(const std::string& path);
bool WriteFileText(const std::string& path, const std::string& text);
std::optional<std::string> ReadFileText(const std::string& path);
bool FileExists(const std::string& path);
bool CopyFixture(const char* fixture, const std::string& target);
std::vector<std::string> ReadLines(const std::string& path);
// The names a search such as "C:\\x\\*.dll" finds, in its order, without "." and "..".
std::vector<std::string> FindNames(const std::string& pattern);

// The keys the program reads and repairs (HKLM, but the class under HKCR).
constexpr char HostKey[] = "SOFTWARE\\ESRI\\CoreRuntime";
constexpr char RasterKey[] = "SOFTWARE\\ESRI\\Raster";
constexpr char RasterEnvironmentKey[] = "SOFTWARE\\ESRI\\Raster\\Environment";
constexpr char SharedKey[] = "SOFTWARE\\Torvane\\Shared";
constexpr char FrameworkKey[] = "SOFTWARE\\Microsoft\\.NETFramework";
constexpr char CurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr char ClassKey[] = "CLSID\\{0F9ED691-6672-4C14-A1E5-B748E75A9E93}";
constexpr char ClassServerKey[] = "CLSID\\{0F9ED691-6672-4C14-A1E5-B748E75A9E93}\\InprocServer32";
// The raster home when the host's version alone decides it.
constexpr char DefaultRasterHome[] = "C:\\Program Files\\Common Files\\ESRI\\Raster\\";

// Registry helpers; every one works in the 32-bit view, as the program sees it.
// Creating a key creates its parents.
bool CreateKey(HKEY root, const std::string& subKey);
// Creates the key when needed; ERROR_SUCCESS or the status of the call that failed.
LONG SetValue(HKEY root, const std::string& subKey, const char* name, DWORD type, const void* data, DWORD size);
// REG_SZ with its terminating zero.
bool SetString(HKEY root, const std::string& subKey, const char* name, const std::string& data);
bool KeyExists(HKEY root, const std::string& subKey);
bool DeleteKeyTree(HKEY root, const std::string& subKey);
// The data as stored, with the byte length; nullopt when absent.
struct RawValue {
    DWORD type;
    std::string bytes;
};
std::optional<RawValue> ReadRawValue(HKEY root, const std::string& subKey, const char* name);
// The data without its trailing zeros, whatever the type; nullopt when absent.
std::optional<std::string> ReadString(HKEY root, const std::string& subKey, const char* name);
// A REG_DWORD value; 0 when absent or of another type or size.
int ReadCount(HKEY root, const std::string& subKey, const char* name);

// A registry key (and its parents) that a test creates and seeds. When the
// owner goes, the key goes with its whole tree, but only when it was absent
// at the start. The sub-keys that the three-argument calls name are full
// paths under the same root. 32-bit view, as the program sees it.
class ScopedKey {
public:
    ScopedKey(HKEY root, std::string subKey);
    ~ScopedKey();
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    bool WasAbsent() const { return wasAbsent_; }
    bool SetString(const char* name, const std::string& data) const;
    bool SetRaw(const char* name, DWORD type, const void* data, DWORD size) const;

    bool Create(const std::string& subKey) const;
    bool SetString(const std::string& subKey, const char* name, const std::string& data) const;
    bool SetRaw(const std::string& subKey, const char* name, DWORD type, const void* data, DWORD size) const;
    bool Remove(const std::string& subKey) const;

private:
    HKEY root_;
    std::string subKey_;
    bool wasAbsent_;
};

// Maps HKEY_LOCAL_MACHINE, in this process only, to an empty scratch key
// under HKEY_CURRENT_USER; the real HKLM comes back, and the scratch key goes,
// with the owner. Every key of the real HKLM (such as
// SOFTWARE\Microsoft\Windows\CurrentVersion) is missing inside.
class ScopedEmptyMachineKey {
public:
    ScopedEmptyMachineKey();
    ~ScopedEmptyMachineKey();
    ScopedEmptyMachineKey(const ScopedEmptyMachineKey&) = delete;
    ScopedEmptyMachineKey& operator=(const ScopedEmptyMachineKey&) = delete;

    bool Active() const { return active_; }

private:
    std::string scratch_;
    bool active_ = false;
};

// Points this executable's import of a function (such as "MessageBoxA"),
// through which the code under test linked in here calls it, at a hook while
// the owner lives. original is what the import pointed at; null when nothing
// here imports the function.
struct ImportHook {
    void** slot;
    void* original;
    ImportHook(const char* function, void* hook);
    ~ImportHook();
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;
};

// Remembers a value of a key the test does not own (its type and bytes, or its
// absence) and restores exactly that when the owner goes; a key that was
// absent goes again, with everything under it.
class ScopedValue {
public:
    ScopedValue(HKEY root, std::string subKey, std::string name);
    ~ScopedValue();
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

    // The text with its terminating zero, creating the key when needed.
    bool Set(DWORD type, const std::string& data) const;
    bool SetString(const std::string& data) const { return Set(REG_SZ, data); }
    bool Delete() const;
    // False when the value could not be read.
    bool Saved() const { return saved_; }

private:
    HKEY root_;
    std::string subKey_;
    std::string name_;
    bool keyWasAbsent_;
    bool saved_ = false;
    std::optional<RawValue> former_;
};

// The program's path in double quotes, then the options, as a command line.
std::string CommandLine(const std::string& program, const std::string& options);
// The short (8.3) form of an existing path; the path itself when it has none.
std::string ShortPath(const std::string& path);

// Runs a command line exactly as given and waits up to timeoutMs.
// Returns the exit code, or nullopt when it could not start or timed out (then it is killed).
std::optional<DWORD> RunProcess(const std::string& commandLine, DWORD timeoutMs = 120000,
                                const char* workingDirectory = nullptr);

// Installs or removes an MSI package quietly through msiexec.
bool InstallPackage(const std::string& msiPath);
bool RemovePackage(const std::string& productCode);

// While the owner lives, a MessageBoxA that the code under test (linked in
// here) calls shows nothing: the call is recorded as "caption: text" and
// answered with OK.
class ScopedMessageBoxes {
public:
    ScopedMessageBoxes();
    const std::vector<std::string>& Shown() const;

private:
    ImportHook hook_;
};

// A window on the calling thread that records UM_SETPROGRESS, UM_SETSTATUS,
// UM_SETTEXT and UM_FINISH as lines such as "progress 1000 34",
// "status 1003 2", "text 1005 x.dll", "finish".
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    HWND Window() const { return window_; }
    const std::vector<std::string>& Lines() const { return lines_; }
    // Only the lines that start with prefix ("progress 1000", "text", ...).
    std::vector<std::string> Lines(const std::string& prefix) const;
    void Clear() { lines_.clear(); }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window_ = nullptr;
    std::vector<std::string> lines_;
};

std::string Join(const std::vector<std::string>& lines, const char* separator = "\n");
