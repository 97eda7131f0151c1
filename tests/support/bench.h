// What Windows-side tests share: where the build put things, scratch folders
// and registry keys that remove themselves, child processes, and a window
// that records the progress messages it receives.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

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

bool CreateFolders(const std::string& path);
bool RemoveTree(const std::string& path);
bool WriteFileText(const std::string& path, const std::string& text);
std::optional<std::string> ReadFileText(const std::string& path);
bool FileExists(const std::string& path);
bool CopyFixture(const char* fixture, const std::string& target);
std::vector<std::string> ReadLines(const std::string& path);

// A registry key (and its parents) created for a test, deleted with its whole
// tree when the owner goes. Seeds the 32-bit view, as the program sees it.
class ScopedKey {
public:
    ScopedKey(HKEY root, std::string subKey);
    ~ScopedKey();
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    bool SetString(const char* name, const std::string& data) const;
    bool SetRaw(const char* name, DWORD type, const void* data, DWORD size) const;
    bool SetDword(const char* name, DWORD data) const;
    const std::string& SubKey() const { return subKey_; }

private:
    HKEY root_;
    std::string subKey_;
};

bool KeyExists(HKEY root, const std::string& subKey);
bool DeleteKeyTree(HKEY root, const std::string& subKey);
// REG_SZ data as stored, with the byte length; nullopt when absent.
struct RawValue {
    DWORD type;
    std::string bytes;
};
std::optional<RawValue> ReadRawValue(HKEY root, const std::string& subKey, const char* name);

// Runs a command line exactly as given and waits up to timeoutMs.
// Returns the exit code, or nullopt when it could not start or timed out (then it is killed).
std::optional<DWORD> RunProcess(const std::string& commandLine, DWORD timeoutMs = 120000,
                                const char* workingDirectory = nullptr);

// Installs or removes an MSI package quietly through msiexec.
bool InstallPackage(const std::string& msiPath);
bool RemovePackage(const std::string& productCode);

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
