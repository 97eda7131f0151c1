// What a run did, as its rows and its exit code show it. Platform-free.
#pragma once

#include <optional>
#include <string>

enum class RowOutcome { NotRun, Succeeded, Failed };

// A row that several passes use (the COM row: the raster folder, then QEX)
// stays failed once a pass failed.
void NotePass(RowOutcome& row, bool succeeded);

const char* RowOutcomeText(RowOutcome row);
// The same in a -verify run: "in place", "not in place", "not run".
const char* RowCheckText(RowOutcome row);

// The step at work, so that a run cut short can tell which one it cut.
enum class Step { None, ComServers, Assemblies, ArcObjects, Registry, Patch, AfCore };

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
    bool cutShort = false;              // the steps ended early: memory ran out, or the thread ended
    bool restartNeeded = false;         // done, but something is put in place only by a restart
    bool restartStarted = false;        // a patch installer has started the restart itself
    Step working = Step::None;
};

// Marks the step at work as failed: its row, or its bit.
void FailStep(RunOutcome& outcome, Step step);

// A patch installer's exit code that means it did its work: 0, or 1641 and
// 3010, which only ask for a restart.
bool IsPatchSuccess(unsigned long exitCode);

// A sum of bits, 0 only when nothing went wrong. A -verify run always gives
// it, each bit reading "a repair would change this".
//    1 COM row failed        16 patch installer failed
//    2 .NET row failed       32 AfCore.dll not replaced
//    4 ArcObjects row failed 64 no QEX installation for the product steps
//    8 registry not written 128 log not written
//  256 the run was cut short
unsigned ExitCodeBits(const RunOutcome& outcome);
constexpr unsigned LogNotWrittenBit = 128;

// Windows Installer's codes that deployment systems act on by themselves.
constexpr unsigned RestartStartedCode = 1641;  // done, a restart has been started
constexpr unsigned RestartRequiredCode = 3010; // done, restart to finish

// The exit code that -exit_codes asks for: the bit sum when something went
// wrong (a restart, if also needed, is only logged); otherwise 1641 or 3010
// when a restart was started or is needed; otherwise 0. Both lie above every
// bit sum, so neither can be read as one.
unsigned ExitCode(const RunOutcome& outcome);
