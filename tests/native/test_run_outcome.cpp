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
        {"cut short", [](RunOutcome& o) { o.cutShort = true; }, 256},
    };
    RunOutcome everything;
    for (const Row& row : rows) {
        CAPTURE(row.what);
        RunOutcome outcome;
        row.spoil(outcome);
        CHECK(ExitCodeBits(outcome) == row.code);
        row.spoil(everything);
    }
    CHECK(ExitCodeBits(everything) == 511);
}

TEST_CASE("the exit code: the bits when something failed, else 1641 or 3010 for a restart, else 0")
{
    struct Row {
        std::string what;
        void (*spoil)(RunOutcome&);
        unsigned code;
    };
    const Row rows[] = {
        {"nothing went wrong", [](RunOutcome&) {}, 0},
        {"a restart needed", [](RunOutcome& o) { o.restartNeeded = true; }, 3010},
        {"a restart started", [](RunOutcome& o) { o.restartStarted = true; }, 1641},
        {"a restart started and one needed", [](RunOutcome& o) { o.restartStarted = o.restartNeeded = true; }, 1641},
        {"a restart needed and a row failed", [](RunOutcome& o) { o.restartNeeded = true; o.netRow = RowOutcome::Failed; }, 2},
        {"a restart started and the run cut short", [](RunOutcome& o) { o.restartStarted = true; o.cutShort = true; }, 256},
    };
    for (const Row& row : rows) {
        CAPTURE(row.what);
        RunOutcome outcome;
        row.spoil(outcome);
        CHECK(ExitCode(outcome) == row.code);
    }
}

TEST_CASE("a step cut short fails its row or its bit")
{
    const std::pair<Step, unsigned> steps[] = {{Step::ComServers, 1}, {Step::Assemblies, 2}, {Step::ArcObjects, 4},
                                               {Step::Registry, 8},   {Step::Patch, 16},     {Step::AfCore, 32},
                                               {Step::None, 0}};
    for (const auto& row : steps) {
        const unsigned bit = row.second;
        CAPTURE(bit);
        RunOutcome outcome;
        outcome.comRow = RowOutcome::Succeeded;
        FailStep(outcome, row.first);
        CHECK(ExitCodeBits(outcome) == bit);
    }
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
