// The exit code that -exit_codes gives: one bit per kind of failure.
#include "worker/run_outcome.h"

#include <doctest.h>

#include <string>

TEST_CASE("each kind of failure has its bit; a run where nothing went wrong gives 0")
{
    struct Row {
        std::string what;
        void (*spoil)(RunOutcome&);
        unsigned code;
    };
    const Row rows[] = {
        {"every row succeeded", [](RunOutcome& o) { o.comRow = o.netRow = o.arcObjectsRow = RowOutcome::Succeeded; }, 0},
        {"COM row", [](RunOutcome& o) { o.comRow = RowOutcome::Failed; }, 1},
        {".NET row", [](RunOutcome& o) { o.netRow = RowOutcome::Failed; }, 2},
        {"ArcObjects row", [](RunOutcome& o) { o.arcObjectsRow = RowOutcome::Failed; }, 4},
        {"registry", [](RunOutcome& o) { o.registryNotWritten = true; }, 8},
        {"patch installer", [](RunOutcome& o) { o.patchFailed = true; }, 16},
        {"AfCore.dll", [](RunOutcome& o) { o.afCoreNotReplaced = true; }, 32},
        {"no QEX", [](RunOutcome& o) { o.noProductInstallation = true; }, 64},
        {"log", [](RunOutcome& o) { o.logNotWritten = true; }, 128},
    };
    RunOutcome everything;
    for (const Row& row : rows) {
        CAPTURE(row.what);
        RunOutcome outcome;
        row.spoil(outcome);
        CHECK(ExitCodeBits(outcome) == row.code);
        row.spoil(everything);
    }
    CHECK(ExitCodeBits(everything) == 255);
}

TEST_CASE("a row stays failed once a pass failed; a patch succeeds with 0, 1641 or 3010")
{
    RowOutcome row = RowOutcome::NotRun;
    NotePass(row, true);
    CHECK(row == RowOutcome::Succeeded);
    NotePass(row, false);
    NotePass(row, true);
    CHECK(row == RowOutcome::Failed);

    for (unsigned long code : {0ul, 1641ul, 3010ul}) {
        CAPTURE(code);
        CHECK(IsPatchSuccess(code));
    }
    for (unsigned long code : {1ul, 1603ul, 1602ul, 3011ul, 0xC0000005ul}) {
        CAPTURE(code);
        CHECK_FALSE(IsPatchSuccess(code));
    }
}
