#include "common/file_copy.h"

#include "common/unique_any.h"

#include <winternl.h>

#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

namespace {

// The names of our own: no longer than "AfCore.dll", so every target that
// can be copied to can be replaced.
constexpr char OwnNameFormat[] = "AF%04X.tmp";
constexpr unsigned OwnNameCount = 0x10000;
constexpr DWORD CopyChunk = 64 * 1024;

// Vista's declaration, which the headers leave out for an XP target.
constexpr int FileDispositionInfoClass = 4;
struct DispositionInfo {
    BOOLEAN deleteFile;
};

std::string Failure(const char* what, DWORD error)
{
    return std::string(what) + " (error " + std::to_string(error) + ")";
}

std::string FolderOf(const std::string& path)
{
    return path.substr(0, path.find_last_of('\\'));
}

std::string NameOf(const std::string& path)
{
    return path.substr(path.find_last_of('\\') + 1);
}

// Tries attempt(path) with fresh names of our own in folder until one is not
// taken yet; the path it took, or nullopt with attempt's error.
template <typename Attempt>
std::optional<std::string> UnderOwnName(const std::string& folder, Attempt attempt)
{
    const unsigned seed = GetTickCount() ^ GetCurrentProcessId();
    for (unsigned i = 0; i < OwnNameCount; ++i) {
        char name[sizeof "AFFFFF.tmp"];
        std::snprintf(name, sizeof name, OwnNameFormat, (seed + i) % OwnNameCount);
        std::string path = folder + "\\" + name;
        if (attempt(path))
            return path;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return std::nullopt;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return std::nullopt;
}

// The copy, in a new file that nobody else holds (CREATE_NEW), kept open
// without sharing. Until Keep() it is deleted when the owner goes, on every
// path: through its handle, or by name once the handle was closed for a
// rename by name.
class CopyOfOurOwn {
public:
    explicit CopyOfOurOwn(const FileCalls& calls) : calls_(calls) {}
    ~CopyOfOurOwn()
    {
        if (kept_)
            return;
        if (file_ && calls_.setFileInformation) {
            DispositionInfo info{TRUE};
            calls_.setFileInformation(file_.get(), FileDispositionInfoClass, &info, sizeof info);
            return;
        }
        file_.reset();
        if (!path_.empty())
            DeleteFileA(path_.c_str());
    }
    CopyOfOurOwn(const CopyOfOurOwn&) = delete;
    CopyOfOurOwn& operator=(const CopyOfOurOwn&) = delete;

    bool Create(const std::string& folder)
    {
        std::optional<std::string> path = UnderOwnName(folder, [&](const std::string& candidate) {
            file_.reset(CreateFileA(candidate.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
            return static_cast<bool>(file_);
        });
        if (path)
            path_ = std::move(*path);
        return static_cast<bool>(path);
    }
    HANDLE Handle() const { return file_.get(); }
    const std::string& Path() const { return path_; }
    void CloseForRenameByName() { file_.reset(); }
    // In place, or waiting for the restart to be put there.
    void Keep() { kept_ = true; }

private:
    const FileCalls& calls_;
    unique_file file_;
    std::string path_;
    bool kept_ = false;
};

// Without sharing for delete: nobody can rename or delete the folder itself while it is held.
unique_file OpenFolder(const std::string& folder)
{
    return unique_file(CreateFileA(folder.c_str(), FILE_TRAVERSE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
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

// Renames file to name in the folder that folder's handle holds, whatever
// that folder's path is called by now. The kernel's own call, to which
// SetFileInformationByHandle passes the record unchanged on Windows: Wine's
// makes every name absolute, and then refuses the folder handle.
bool RenameInFolder(HANDLE file, HANDLE folder, const std::string& name)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return false;
    // The record and the whole name after it, terminator included; DWORDs keep it aligned.
    const size_t size = sizeof(FILE_RENAME_INFORMATION) + static_cast<size_t>(length) * sizeof(WCHAR);
    std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = folder;
    info->FileNameLength = static_cast<ULONG>(length - 1) * sizeof(WCHAR);
    if (!MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, info->FileName, length))
        return false;
    IO_STATUS_BLOCK status{};
    const NTSTATUS result = NtSetInformationFile(file, &status, info, static_cast<ULONG>(size), FileRenameInformation);
    SetLastError(RtlNtStatusToDosError(result));
    return NT_SUCCESS(result);
}

bool MoveCopyOver(CopyOfOurOwn& copy, HANDLE folder, const std::string& target, const FileCalls& calls)
{
    if (calls.setFileInformation)
        return RenameInFolder(copy.Handle(), folder, NameOf(target));
    // Windows XP renames by name only. Between this close and the move the
    // copy's name is open to a swap: the one window left, and on XP only.
    copy.CloseForRenameByName();
    return MoveFileExA(copy.Path().c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

// The rename failed as it does over a file that a program holds. A folder or
// a read-only file refuses it in the same way and is no library in use; nor
// is a link. Each is left alone.
bool IsInUse(DWORD error, const std::string& target)
{
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
        return false;
    const DWORD attributes = GetFileAttributesA(target.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// As an installer does with a library in use: a loaded module can be renamed,
// so the old one moves aside and the copy takes its name now; a file held
// without delete sharing cannot, so Windows puts the copy in place as it
// starts again.
Replacement ReplaceInUse(CopyOfOurOwn& copy, HANDLE folder, const std::string& target, const FileCalls& calls)
{
    const std::optional<std::string> aside = UnderOwnName(FolderOf(target), [&](const std::string& candidate) {
        return MoveFileExA(target.c_str(), candidate.c_str(), 0) != 0;
    });
    if (!aside) {
        if (!MoveFileExA(copy.Path().c_str(), target.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING))
            return {Replaced::Not, Failure("the target is in use and the copy could not be marked to replace it at "
                                           "restart", GetLastError())};
        copy.Keep();
        return {Replaced::AtRestart, NameOf(copy.Path())};
    }
    if (!MoveCopyOver(copy, folder, target, calls)) {
        const DWORD error = GetLastError();
        MoveFileExA(aside->c_str(), target.c_str(), 0);
        return {Replaced::Not, Failure("the copy could not be moved over the target", error)};
    }
    copy.Keep();
    if (!MoveFileExA(aside->c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        const DWORD error = GetLastError();
        const std::string stays = "the old one stays as " + NameOf(*aside) + ", not marked for deletion at restart";
        return {Replaced::Now, Failure(stays.c_str(), error)};
    }
    return {Replaced::OldAtRestart, NameOf(*aside)};
}

} // namespace

bool WaitsForRestart(Replaced how)
{
    return how == Replaced::OldAtRestart || how == Replaced::AtRestart;
}

// Looked up, so that the program still starts where it is missing.
const FileCalls& SystemFileCalls()
{
    static const FileCalls calls{reinterpret_cast<SetFileInformationFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle")))};
    return calls;
}

Replacement ReplaceWithCompleteCopy(const std::string& source, const std::string& target, const FileCalls& calls)
{
    unique_file from(CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!from)
        return {Replaced::Not, Failure("the source cannot be read", GetLastError())};
    const unique_file folder = OpenFolder(FolderOf(target));
    if (!folder)
        return {Replaced::Not, Failure("the target's folder cannot be opened", GetLastError())};
    CopyOfOurOwn copy(calls);
    if (!copy.Create(FolderOf(target)))
        return {Replaced::Not, Failure("no file of our own could be created beside the target", GetLastError())};

    const char* failed = nullptr;
    if (!CopyContents(from.get(), copy.Handle()))
        failed = "the copy failed";
    // On disk before it takes the target's place: a power loss after the
    // rename must not leave a half-written library.
    else if (!FlushFileBuffers(copy.Handle()))
        failed = "the copy could not be flushed";
    else if (!CopyWriteTime(from.get(), copy.Handle()))
        failed = "the copy's time could not be set";
    if (failed)
        return {Replaced::Not, Failure(failed, GetLastError())};
    if (MoveCopyOver(copy, folder.get(), target, calls)) {
        copy.Keep();
        return {Replaced::Now, {}};
    }
    const DWORD error = GetLastError();
    if (IsInUse(error, target))
        return ReplaceInUse(copy, folder.get(), target, calls);
    return {Replaced::Not, Failure("the copy could not be moved over the target", error)};
}
