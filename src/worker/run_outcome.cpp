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

bool IsPatchSuccess(unsigned long exitCode)
{
    return exitCode == 0 || exitCode == 1641 || exitCode == 3010;
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
                         outcome.logNotWritten};
    unsigned code = 0;
    for (unsigned i = 0; i < sizeof bits / sizeof bits[0]; ++i)
        if (bits[i])
            code |= 1u << i;
    return code;
}
