// The host side of a repair (host home, raster environment, side-by-side
// decision and patch installer, raster COM servers, ArcObjects) and the
// AfCore.dll synchronisation into the imaging product.
#pragma once

#include "repair/step_mode.h"
#include "worker/run_outcome.h"
#include "worker/worker_context.h"

#include <optional>
#include <string>

class OptionSet;

// The LUMERA version whose home receives AfCore.dll.
constexpr char LumeraVersion[] = "8.7";

// Reads and may change sxsRequired. Returns the host home it settled on;
// outcome receives what its passes did (the raster folder's on the COM row,
// the ArcObjects row) and what else failed (registry, patch installer).
std::optional<std::string> RepairHost(const WorkerContext& context, const OptionSet& options, bool& sxsRequired,
                                      RunOutcome& outcome);

// False when both homes were known and no complete copy could be put in place;
// in a -verify run, when the copy there is missing or differs (nothing is copied).
bool SyncAfCore(const OptionSet& options);

// StepMode::Verify for a -verify run: every step checks instead of repairing.
StepMode ModeOf(const OptionSet& options);

// "sxs_required" read as a decimal integer equal to 1; an option without a
// value reads as another number.
bool SxsRequiredOption(const OptionSet& options);
