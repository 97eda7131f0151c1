#include "worker/run_outcome.h"

void NotePass(RowOutcome& row, bool succeeded)
{
    if (row != RowOutcome::Failed)
        row = succeeded ? RowOutcome::Succeeded : RowOutcome::Failed;
}

const char* RowOutcomeText(RowOutcome row)
{
    switch (row) {
    case RowOutcome::Succeeded:
        return "ok";
    case RowOutcome::Failed:
        return "failed";
    case RowOutcome::NotRun:
        break;
    }
    return "not run";
}

const char* RowCheckText(RowOutcome row)
{
    switch (row) {
    case RowOutcome::Succeeded:
        return "in place";
    case RowOutcome::Failed:
        return "not in place";
    case RowOutcome::NotRun:
        break;
    }
    return "not run";
}

void FailStep(RunOutcome& outcome, Step step)
{
    switch (step) {
    case Step::ComServers:
        NotePass(outcome.comRow, false);
        break;
    case Step::Assemblies:
        NotePass(outcome.netRow, false);
        break;
    case Step::ArcObjects:
        NotePass(outcome.arcObjectsRow, false);
        break;
    case Step::Registry:
        outcome.registryNotWritten = true;
        break;
    case Step::Patch:
        outcome.patchFailed = true;
        break;
    case Step::AfCore:
        outcome.afCoreNotReplaced = true;
        break;
    case Step::None:
        break;
    }
}

bool IsPatchSuccess(unsigned long exitCode)
{
    return exitCode == 0 || exitCode == RestartStartedCode || exitCode == RestartRequiredCode;
}

unsigned ExitCodeBits(const RunOutcome& outcome)
{
    const bool bits[] = {outcome.comRow == RowOutcome::Failed,
                         outcome.netRow == RowOutcome::Failed,
                         outcome.arcObjectsRow == RowOutcome::Failed,
                         outcome.registryNotWritten,
                         outcome.patchFailed,
                         outcome.afCoreNotReplaced,
                         outcome.noProductInstallation,
                         outcome.logNotWritten,
                         outcome.cutShort};
    unsigned code = 0;
    for (unsigned i = 0; i < sizeof bits / sizeof bits[0]; ++i)
        if (bits[i])
            code |= 1u << i;
    return code;
}

unsigned ExitCode(const RunOutcome& outcome)
{
    if (const unsigned bits = ExitCodeBits(outcome))
        return bits;
    if (outcome.restartStarted)
        return RestartStartedCode;
    if (outcome.restartNeeded)
        return RestartRequiredCode;
    return 0;
}
