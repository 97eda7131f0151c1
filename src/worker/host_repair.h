// The host side of a repair (host home, raster environment, side-by-side
// decision and patch installer, raster COM servers, ArcObjects) and the
// AfCore.dll synchronisation into the imaging product.
#pragma once

#include "worker/worker_context.h"

#include <optional>
#include <string>

class OptionSet;

// Reads and may change sxsRequired. Returns the host home it settled on;
// comRowFailure receives the first file that failed in the raster folder's
// COM registration, if any.
std::optional<std::string> RepairHost(const WorkerContext& context, const OptionSet& options, bool& sxsRequired,
                                      std::optional<std::string>& comRowFailure);

void SyncAfCore(const OptionSet& options);

// "sxs_required" read as a decimal integer equal to 1; an option without a
// value reads as another number.
bool SxsRequiredOption(const OptionSet& options);
