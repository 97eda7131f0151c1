// What a run did, as its rows and its exit code show it. Platform-free.
#pragma once

#include <optional>
#include <string>

enum class RowOutcome { NotRun, Succeeded, Failed };

// A row that several passes use (the COM row: the raster folder, then QEX)
// stays failed once a pass failed.
void NotePass(RowOutcome& row, bool succeeded);

const char* RowOutcomeText(RowOutcome row);

struct RunOutcome {
    RowOutcome comRow = RowOutcome::NotRun;
    RowOutcome netRow = RowOutcome::NotRun;
    RowOutcome arcObjectsRow = RowOutcome::NotRun;
    // The first file that failed on the COM row, shown there to the end of the run.
    std::optional<std::string> comRowFailedFile;
    bool registryNotWritten = false;    // a key that is there could not be written
    bool patchFailed = false;           // not started, or an exit code that is no success
    bool afCoreNotReplaced = false;     // both homes known, no complete copy put in place
    bool noProductInstallation = false; // product steps selected, no QEX home
    bool logNotWritten = false;
    bool restartNeeded = false;         // work that only the next restart finishes (AfCore.dll in use)
};

// A patch installer's exit code that means it did its work: 0, or 1641 and
// 3010, which only ask for a restart.
bool IsPatchSuccess(unsigned long exitCode);

// The exit code that -exit_codes asks for: a sum of bits, 0 only when nothing
// went wrong.
//    1 COM row failed        16 patch installer failed
//    2 .NET row failed       32 AfCore.dll not replaced
//    4 ArcObjects row failed 64 no QEX installation for the product steps
//    8 registry not written 128 log not written
unsigned ExitCodeBits(const RunOutcome& outcome);
