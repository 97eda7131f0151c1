#include "common/file_copy.h"

#include "common/system_folder.h"
#include "common/unique_any.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

// The copy's name of our own: no longer than "AfCore.dll", so every target
// that can be copied to can be replaced.
constexpr char CopyNameFormat[] = "AF%04X.tmp";
constexpr unsigned CopyNameCount = 0x10000;
constexpr DWORD CopyChunk = 64 * 1024;

// Vista's declarations, which the headers leave out for an XP target.
constexpr int FileRenameInfoClass = 3;
constexpr int FileDispositionInfoClass = 4;
struct RenameInfo {
    BOOL replaceIfExists;
    HANDLE rootDirectory;
    DWORD fileNameLength; // in bytes, without the terminator
    WCHAR fileName[1];
};
struct DispositionInfo {
    BOOLEAN deleteFile;
};
using SetFileInformationFunction = BOOL(WINAPI*)(HANDLE file, int infoClass, void* info, DWORD size);

// Looked up, so that the program still starts where it is missing.
SetFileInformationFunction SetFileInformation()
{
    static const auto function = reinterpret_cast<SetFileInformationFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle")));
    return function;
}

std::string Failure(const char* what, DWORD error)
{
    return std::string(what) + " (error " + std::to_string(error) + ")";
}

std::string FolderOf(const std::string& path)
{
    return path.substr(0, path.find_last_of('\\'));
}

// A new, empty file that nobody else holds (CREATE_NEW), kept open without
// sharing until it is renamed or deleted through this handle.
unique_file CreateFileOfOurOwn(const std::string& folder)
{
    const unsigned seed = GetTickCount() ^ GetCurrentProcessId();
    for (unsigned i = 0; i < CopyNameCount; ++i) {
        char name[sizeof "AFFFFF.tmp"];
        std::snprintf(name, sizeof name, CopyNameFormat, (seed + i) % CopyNameCount);
        const std::string path = folder + "\\" + name;
        unique_file file(CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            return file;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return file;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return unique_file();
}

bool CopyContents(HANDLE from, HANDLE to)
{
    std::vector<char> buffer(CopyChunk);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(from, buffer.data(), CopyChunk, &read, nullptr))
            return false;
        if (read == 0)
            return true;
        DWORD written = 0;
        if (!WriteFile(to, buffer.data(), read, &written, nullptr))
            return false;
        if (written != read) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
    }
}

// The copy keeps the source's time of last writing, as a copy by name would.
bool CopyWriteTime(HANDLE from, HANDLE to)
{
    FILETIME written{};
    return GetFileTime(from, nullptr, nullptr, &written) && SetFileTime(to, nullptr, nullptr, &written);
}

// The target in the kernel's own form ("\\??\\C:\\...", "\\??\\UNC\\server\\..."):
// Windows before 10 hands a rename's name to the kernel as it is, later ones
// and Wine accept that form too. Full first: the kernel resolves no "..".
std::optional<std::string> KernelPath(const std::string& target)
{
    const std::optional<std::string> full = FullPath(target);
    if (!full)
        return std::nullopt;
    if (full->rfind("\\\\", 0) == 0)
        return "\\??\\UNC\\" + full->substr(2);
    return "\\??\\" + *full;
}

bool RenameOver(HANDLE file, const std::string& path)
{
    const std::optional<std::string> target = KernelPath(path);
    if (!target)
        return false;
    const int length = MultiByteToWideChar(CP_ACP, 0, target->c_str(), -1, nullptr, 0);
    if (length <= 0)
        return false;
    // The record and the whole name after it, terminator included; DWORDs keep it aligned.
    const size_t size = sizeof(RenameInfo) + static_cast<size_t>(length) * sizeof(WCHAR);
    std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    auto* info = reinterpret_cast<RenameInfo*>(buffer.data());
    info->replaceIfExists = TRUE;
    info->rootDirectory = nullptr;
    info->fileNameLength = static_cast<DWORD>(length - 1) * sizeof(WCHAR);
    if (!MultiByteToWideChar(CP_ACP, 0, target->c_str(), -1, info->fileName, length))
        return false;
    return SetFileInformation()(file, FileRenameInfoClass, info, static_cast<DWORD>(size));
}

void DeleteWhenClosed(HANDLE file)
{
    DispositionInfo info{TRUE};
    SetFileInformation()(file, FileDispositionInfoClass, &info, sizeof info);
}

} // namespace

std::optional<std::string> ReplaceWithCompleteCopy(const std::string& source, const std::string& target)
{
    if (!SetFileInformation())
        return Failure("this Windows cannot rename a file through its handle", ERROR_CALL_NOT_IMPLEMENTED);
    unique_file from(CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!from)
        return Failure("the source cannot be read", GetLastError());
    unique_file copy = CreateFileOfOurOwn(FolderOf(target));
    if (!copy)
        return Failure("no file of our own could be created beside the target", GetLastError());

    const char* failed = nullptr;
    if (!CopyContents(from.get(), copy.get()))
        failed = "the copy failed";
    // On disk before it takes the target's place: a power loss after the
    // rename must not leave a half-written library.
    else if (!FlushFileBuffers(copy.get()))
        failed = "the copy could not be flushed";
    else if (!CopyWriteTime(from.get(), copy.get()))
        failed = "the copy's time could not be set";
    else if (!RenameOver(copy.get(), target))
        failed = "the copy could not be moved over the target";
    if (!failed)
        return std::nullopt;
    const DWORD error = GetLastError();
    DeleteWhenClosed(copy.get());
    return Failure(failed, error);
}
