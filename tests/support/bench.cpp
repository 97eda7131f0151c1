#include "support/bench.h"

#include "common/messages.h"

#include <shlwapi.h>

#include <fstream>
#include <sstream>

std::string BuildFolder()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    PathRemoveFileSpecA(path);
    return path;
}

std::string ProgramPath()
{
    char path[MAX_PATH] = {};
    lstrcpynA(path, BuildFolder().c_str(), MAX_PATH);
    PathRemoveFileSpecA(path);
    return std::string(path) + "\\RepairQEXApps.exe";
}

std::string FixturePath(const char* fileName)
{
    return BuildFolder() + "\\" + fileName;
}

bool CreateFolders(const std::string& path)
{
    for (size_t slash = path.find('\\', 3); slash != std::string::npos; slash = path.find('\\', slash + 1))
        CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    return RemoveDirectoryA(path.c_str()) != 0;
}

ScratchFolder::ScratchFolder(const std::string& name)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "qex " + name + " " + std::to_string(GetCurrentProcessId());
    RemoveTree(path_);
    CreateFolders(path_);
}

ScratchFolder::~ScratchFolder()
{
    RemoveTree(path_);
}

std::string ScratchFolder::Make(const std::string& relative) const
{
    std::string full = path_ + "\\" + relative;
    CreateFolders(full.substr(0, full.rfind('\\')));
    return full;
}

bool WriteFileText(const std::string& path, const std::string& text)
{
    std::ofstream file(path, std::ios::binary);
    file << text;
    return static_cast<bool>(file);
}

std::optional<std::string> ReadFileText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CopyFixture(const char* fixture, const std::string& target)
{
    CreateFolders(target.substr(0, target.rfind('\\')));
    return CopyFileA(FixturePath(fixture).c_str(), target.c_str(), FALSE) != 0;
}

std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::optional<std::string> text = ReadFileText(path);
    if (!text)
        return lines;
    std::istringstream stream(*text);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

ScopedKey::ScopedKey(HKEY root, std::string subKey) : root_(root), subKey_(std::move(subKey))
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(root_, subKey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
        RegCloseKey(key);
}

ScopedKey::~ScopedKey()
{
    DeleteKeyTree(root_, subKey_);
}

bool ScopedKey::SetRaw(const char* name, DWORD type, const void* data, DWORD size) const
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root_, subKey_.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool ScopedKey::SetString(const char* name, const std::string& data) const
{
    return SetRaw(name, REG_SZ, data.c_str(), static_cast<DWORD>(data.size() + 1));
}

bool ScopedKey::SetDword(const char* name, DWORD data) const
{
    return SetRaw(name, REG_DWORD, &data, sizeof data);
}

bool KeyExists(HKEY root, const std::string& subKey)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool DeleteKeyTree(HKEY root, const std::string& subKey)
{
    return SHDeleteKeyA(root, subKey.c_str()) == ERROR_SUCCESS;
}

std::optional<RawValue> ReadRawValue(HKEY root, const std::string& subKey, const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, size = 0;
    std::optional<RawValue> result;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::string bytes(size, '\0');
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&bytes[0]), &size) ==
            ERROR_SUCCESS) {
            bytes.resize(size);
            result = RawValue{type, bytes};
        }
    }
    RegCloseKey(key);
    return result;
}

std::optional<DWORD> RunProcess(const std::string& commandLine, DWORD timeoutMs, const char* workingDirectory)
{
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, workingDirectory, &startup,
                        &info))
        return std::nullopt;
    std::optional<DWORD> exitCode;
    if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        exitCode = code;
    } else {
        TerminateProcess(info.hProcess, 99);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return exitCode;
}

bool InstallPackage(const std::string& msiPath)
{
    return RunProcess("msiexec /i \"" + msiPath + "\" /qn") == DWORD(0);
}

bool RemovePackage(const std::string& productCode)
{
    return RunProcess("msiexec /x " + productCode + " /qn") == DWORD(0);
}

namespace {
const char recorderClass[] = "QexMessageRecorder";
}

MessageRecorder::MessageRecorder()
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = recorderClass;
    RegisterClassA(&windowClass); // fails harmlessly when already registered
    window_ = CreateWindowA(recorderClass, "recorder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MessageRecorder::~MessageRecorder()
{
    DestroyWindow(window_);
}

std::vector<std::string> MessageRecorder::Lines(const std::string& prefix) const
{
    std::vector<std::string> selected;
    for (const std::string& line : lines_)
        if (line.compare(0, prefix.size(), prefix) == 0)
            selected.push_back(line);
    return selected;
}

LRESULT CALLBACK MessageRecorder::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<MessageRecorder*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
    case UM_SETPROGRESS:
        self->lines_.push_back("progress " + std::to_string(lParam) + " " + std::to_string(static_cast<int>(wParam)));
        return TRUE;
    case UM_SETSTATUS:
        self->lines_.push_back("status " + std::to_string(lParam) + " " + std::to_string(static_cast<int>(wParam)));
        return TRUE;
    case UM_SETTEXT:
        self->lines_.push_back("text " + std::to_string(lParam) + " " +
                               (wParam ? reinterpret_cast<const char*>(wParam) : "(null)"));
        return TRUE;
    case UM_FINISH:
        self->lines_.push_back("finish");
        return TRUE;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

std::string Join(const std::vector<std::string>& lines, const char* separator)
{
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i)
        joined += (i ? separator : "") + lines[i];
    return joined;
}
