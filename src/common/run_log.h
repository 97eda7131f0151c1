// The run's log, asked for with -log:"path": plain text in the active code
// page, appended to the file, one write per line and no buffering of our
// own, so that a run that waits shows what it waits for. Without a log every
// call here does nothing.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// Opens path for appending, creating it when missing; other programs may
// read it meanwhile. Only a file on disk is taken: a link (a reparse point),
// a pipe or a device is refused, and so is a pipe server's wish to act as
// this run. False when it cannot be opened or is refused: the run goes on
// without.
bool OpenRunLogFile(const std::string& path);

// Ends the log as if none had been asked for: later lines go nowhere, and
// nothing counts as failed.
void CloseRunLog() noexcept;

// True while lines are written: work that only the log needs can be skipped.
bool IsRunLogOpen();

// One line: the local date and time, the process id in brackets, the parts,
// CRLF. Never throws.
void LogLine(std::initializer_list<std::string_view> parts) noexcept;

// A log was asked for and could not be opened, or a line could not be written.
bool RunLogFailed();

// "0x8000FFFF": a status or exit code as Windows prints them.
std::string HexCode(unsigned long code);
