// Replacing one file with a complete copy of another, as an elevated program
// may in a folder that other users can write to.
#pragma once

#include <windows.h>

#include <string>

// How the copy took the target's place.
enum class Replaced {
    Now,          // the target is the copy
    OldAtRestart, // the target is the copy; the old one, in use, renamed aside, goes at the next restart
    AtRestart,    // the target is in use and cannot be renamed: the copy takes its place at the next restart
    Not,          // no complete copy was put in place: the target is as it was
};

struct Replacement {
    Replaced how = Replaced::Not;
    // Not: what failed, with the error code. OldAtRestart: the name the old
    // one has until the restart; AtRestart: the copy's. Now: empty, or why
    // the old one, renamed aside, stays (it could not be marked).
    std::string text;
};

// Finished only by the next restart.
bool WaitsForRestart(Replaced how);

// The calls that Windows before Vista lacks; null where it lacks them.
using SetFileInformationFunction = BOOL(WINAPI*)(HANDLE file, int infoClass, void* info, DWORD size);
struct FileCalls {
    SetFileInformationFunction setFileInformation = nullptr; // SetFileInformationByHandle
};
// This Windows' own, looked up once.
const FileCalls& SystemFileCalls();

// Copies source into a file of our own, created beside target under a fresh
// name (AF????.tmp), flushes it, and renames it over target through the one
// handle that created it, naming target relative to a handle to its folder
// that was opened first: a name swapped for a link between two calls, or a
// folder for a junction, leads nowhere. Without SetFileInformationByHandle
// (Windows XP) the handle is closed and the copy renamed by name.
// A target in use is renamed aside and deleted at the next restart, or, when
// it cannot be renamed either, replaced by the copy at the next restart.
// Every other failure removes the copy, through its handle where it can; the
// target then stays as it was, and nothing else in the folder is touched.
Replacement ReplaceWithCompleteCopy(const std::string& source, const std::string& target,
                                    const FileCalls& calls = SystemFileCalls());
