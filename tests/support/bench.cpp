#include "support/bench.h"

#include "common/messages.h"
#include "common/process.h"
#include "common/unique_any.h"
#include "support/com_markers.h"

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

bool PollUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD intervalMs)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(intervalMs);
    }
    return true;
}

std::string CommandLine(const std::string& program, const std::string& options)
{
    return Quoted(program) + (options.empty() ? "" : " " + options);
}

std::string ShortPath(const std::string& path)
{
    char shortPath[MAX_PATH] = {};
    const DWORD length = GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
    return length > 0 && length < MAX_PATH ? shortPath : path;
}

ScopedCurrentFolder::ScopedCurrentFolder(const std::string& path)
    : entered_(GetCurrentDirectoryA(MAX_PATH, previous_) > 0 && SetCurrentDirectoryA(path.c_str()))
{
}

ScopedCurrentFolder::~ScopedCurrentFolder()
{
    if (entered_)
        SetCurrentDirectoryA(previous_);
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
    unique_find find(FindFirstFileA((path + "\\*").c_str(), &data));
    if (find) {
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
        } while (FindNextFileA(find.get(), &data));
    }
    return RemoveDirectoryA(path.c_str()) != 0;
}

std::vector<std::string> FindNames(const std::string& pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    unique_find search(FindFirstFileA(pattern.c_str(), &entry));
    if (!search)
        return names;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search.get(), &entry));
    return names;
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

namespace {

// Creates subKey, or opens it when it exists. The last name is created
// relative to its parent: Wine's A functions refuse a whole path beyond
// MAX_PATH, and a test may need a 255-character name under a long parent.
LONG CreateKey(HKEY root, const std::string& subKey, REGSAM access, unique_hkey& key)
{
    const size_t slash = subKey.rfind('\\');
    if (slash == std::string::npos)
        return RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, 0, access, nullptr, key.put(), nullptr);
    unique_hkey parent;
    LONG status = CreateKey(root, subKey.substr(0, slash), KEY_CREATE_SUB_KEY, parent);
    if (status != ERROR_SUCCESS)
        return status;
    return RegCreateKeyExA(parent.get(), subKey.c_str() + slash + 1, 0, nullptr, 0, access, nullptr, key.put(),
                           nullptr);
}

} // namespace

bool CreateKey(HKEY root, const std::string& subKey)
{
    unique_hkey key;
    return CreateKey(root, subKey, KEY_READ, key) == ERROR_SUCCESS;
}

LONG SetValue(HKEY root, const std::string& subKey, const char* name, DWORD type, const void* data, DWORD size)
{
    unique_hkey key;
    LONG status = CreateKey(root, subKey, KEY_SET_VALUE, key);
    if (status == ERROR_SUCCESS)
        status = RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
    return status;
}

bool SetString(HKEY root, const std::string& subKey, const char* name, const std::string& data)
{
    return SetValue(root, subKey, name, REG_SZ, data.c_str(), static_cast<DWORD>(data.size() + 1)) ==
           ERROR_SUCCESS;
}

ScopedKey::ScopedKey(HKEY root, std::string subKey)
    : root_(root), subKey_(std::move(subKey)), wasAbsent_(!KeyExists(root_, subKey_))
{
    CreateKey(root_, subKey_);
}

ScopedKey::~ScopedKey()
{
    if (wasAbsent_)
        DeleteKeyTree(root_, subKey_);
}

bool ScopedKey::SetRaw(const char* name, DWORD type, const void* data, DWORD size) const
{
    return SetRaw(subKey_, name, type, data, size);
}

bool ScopedKey::SetString(const char* name, const std::string& data) const
{
    return ::SetString(root_, subKey_, name, data);
}

bool ScopedKey::Create(const std::string& subKey) const
{
    return CreateKey(root_, subKey);
}

bool ScopedKey::SetString(const std::string& subKey, const char* name, const std::string& data) const
{
    return ::SetString(root_, subKey, name, data);
}

bool ScopedKey::SetRaw(const std::string& subKey, const char* name, DWORD type, const void* data, DWORD size) const
{
    return SetValue(root_, subKey, name, type, data, size) == ERROR_SUCCESS;
}

bool ScopedKey::Remove(const std::string& subKey) const
{
    return DeleteKeyTree(root_, subKey);
}

ScopedEmptyMachineKey::ScopedEmptyMachineKey()
    : scratch_("Software\\QexTestMachine " + std::to_string(GetCurrentProcessId()))
{
    DeleteKeyTree(HKEY_CURRENT_USER, scratch_);
    unique_hkey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, scratch_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return;
    active_ = RegOverridePredefKey(HKEY_LOCAL_MACHINE, key.get()) == ERROR_SUCCESS;
}

ScopedEmptyMachineKey::~ScopedEmptyMachineKey()
{
    if (active_)
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    DeleteKeyTree(HKEY_CURRENT_USER, scratch_);
}

namespace {

void** ImportSlot(const char* function)
{
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const auto* headers = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const DWORD imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports); library->Name; ++library) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots)
            if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                lstrcmpA(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name, function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
    }
    return nullptr;
}

void WriteSlot(void** slot, void* value)
{
    DWORD protection = 0;
    if (slot && VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) {
        *slot = value;
        VirtualProtect(slot, sizeof *slot, protection, &protection);
    }
}

} // namespace

ImportHook::ImportHook(const char* function, void* hook) : slot(ImportSlot(function)), original(slot ? *slot : nullptr)
{
    WriteSlot(slot, hook);
}

ImportHook::~ImportHook()
{
    WriteSlot(slot, original);
}

bool KeyExists(HKEY root, const std::string& subKey)
{
    unique_hkey key;
    return RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

bool DeleteKeyTree(HKEY root, const std::string& subKey)
{
    return SHDeleteKeyA(root, subKey.c_str()) == ERROR_SUCCESS;
}

std::optional<RawValue> ReadRawValue(HKEY root, const std::string& subKey, const char* name)
{
    unique_hkey key;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::string bytes(size, '\0');
    if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&bytes[0]), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    bytes.resize(size);
    return RawValue{type, bytes};
}

std::optional<std::string> ReadString(HKEY root, const std::string& subKey, const char* name)
{
    std::optional<RawValue> value = ReadRawValue(root, subKey, name);
    if (!value)
        return std::nullopt;
    std::string text = value->bytes;
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

int ReadCount(HKEY root, const std::string& subKey, const char* name)
{
    std::optional<RawValue> value = ReadRawValue(root, subKey, name);
    if (!value || value->type != REG_DWORD || value->bytes.size() != sizeof(DWORD))
        return 0;
    DWORD count = 0;
    value->bytes.copy(reinterpret_cast<char*>(&count), sizeof count);
    return static_cast<int>(count);
}

ScopedValue::ScopedValue(HKEY root, std::string subKey, std::string name)
    : root_(root), subKey_(std::move(subKey)), name_(std::move(name)), keyWasAbsent_(!KeyExists(root_, subKey_))
{
    if (keyWasAbsent_) {
        saved_ = true;
        return;
    }
    unique_hkey key;
    if (RegOpenKeyExA(root_, subKey_.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    const LONG status = RegQueryValueExA(key.get(), name_.c_str(), nullptr, nullptr, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        saved_ = true;
    else if (status == ERROR_SUCCESS && (former_ = ReadRawValue(root_, subKey_, name_.c_str())))
        saved_ = true;
}

ScopedValue::~ScopedValue()
{
    if (!saved_)
        return;
    if (keyWasAbsent_) {
        DeleteKeyTree(root_, subKey_);
        return;
    }
    unique_hkey key;
    if (RegOpenKeyExA(root_, subKey_.c_str(), 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
        return;
    if (former_)
        RegSetValueExA(key.get(), name_.c_str(), 0, former_->type, reinterpret_cast<const BYTE*>(former_->bytes.data()),
                       static_cast<DWORD>(former_->bytes.size()));
    else
        RegDeleteValueA(key.get(), name_.c_str());
}

bool ScopedValue::Set(DWORD type, const std::string& data) const
{
    return saved_ && SetValue(root_, subKey_, name_.c_str(), type, data.c_str(),
                              static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
}

bool ScopedValue::Delete() const
{
    unique_hkey key;
    if (!saved_ || RegOpenKeyExA(root_, subKey_.c_str(), 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    const LONG status = RegDeleteValueA(key.get(), name_.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

std::optional<DWORD> RunProcess(const std::string& commandLine, DWORD timeoutMs, const char* workingDirectory)
{
    MarkerKey(); // the child's stand-ins record where this process reads
    std::optional<unique_process_information> process = StartProcess(commandLine, 0, workingDirectory);
    if (!process)
        return std::nullopt;
    if (WaitForSingleObject(process->process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process->process.get(), 99);
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process->process.get(), &code);
    return code;
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
std::vector<std::string> messageBoxes;

int WINAPI RecordMessageBox(HWND, LPCSTR text, LPCSTR caption, UINT)
{
    messageBoxes.push_back(std::string(caption ? caption : "Error") + ": " + (text ? text : ""));
    return IDOK;
}

} // namespace

ScopedMessageBoxes::ScopedMessageBoxes() : hook_("MessageBoxA", reinterpret_cast<void*>(RecordMessageBox))
{
    messageBoxes.clear();
}

const std::vector<std::string>& ScopedMessageBoxes::Shown() const
{
    return messageBoxes;
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
