// Whether a step puts things in place (a repair) or only finds out, changing
// nothing, whether they are in place already (a -verify run). A check
// reports where a repair reports: what would change counts where a failure
// counts, on the same rows and in the same results.
#pragma once

enum class StepMode { Repair, Verify };
