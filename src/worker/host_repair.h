// The host side of a repair (host home, raster environment, side-by-side
// decision and patch installer, raster COM servers, ArcObjects) and the
// AfCore.dll synchronisation into the imaging product.
#pragma once

#include "common/file_copy.h"
#include "repair/step_mode.h"
#include "worker/run_outcome.h"
#include "worker/worker_context.h"

#include <optional>
#include <string>

class OptionSet;

// The LUMERA version whose home receives AfCore.dll.
constexpr char LumeraVersion[] = "8.7";

// Reads and may change sxsRequired. outcome receives what its passes did (the
// raster folder's on the COM row, the ArcObjects row), what else failed
// (registry, patch installer), whether the patch asks for a restart, and
// which of its steps is at work.
void RepairHost(const WorkerContext& context, const OptionSet& options, bool& sxsRequired, RunOutcome& outcome);

// How LUMERA's AfCore.dll was replaced (Replaced::Not: both homes were known
// and no complete copy could be put in place); nullopt when the copy was
// skipped (a home not known, a host version without the copy). In a -verify
// run nothing is copied: Replaced::Not when the copy there is missing or
// differs, Replaced::Now when it holds the source's bytes.
std::optional<Replaced> SyncAfCore(const OptionSet& options);

// StepMode::Verify for a -verify run: every step checks instead of repairing.
StepMode ModeOf(const OptionSet& options);

// "sxs_required" read as a decimal integer equal to 1; an option without a
// value reads as another number.
bool SxsRequiredOption(const OptionSet& options);
