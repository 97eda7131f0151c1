// Registry values the host and the product rely on.
#pragma once

#include "repair/step_mode.h"

#include <optional>
#include <string>
#include <string_view>

// What became of a repair's values. Keys are opened, never created. A check
// (StepMode::Verify) opens them for reading and writes nothing: Written then
// means every value is in place, Failed that one is not, or cannot be read.
enum class RegistryWrite {
    Written,    // every value it had to write
    NotWritten, // nothing to write: another host version, no installation, or the key is not there
    Failed,     // a key that is there could not be opened for writing, or a value was not written
};

// The raster environment under HKLM\Software\ESRI\Raster (host 9.0.0.0 only).
// namedHome, when given, receives the raster home that the environment names
// once written (what it wrote, or in a check would write); it is left alone
// when the Environment key is not there.
RegistryWrite WriteRasterEnvironment(StepMode mode = StepMode::Repair,
                                     std::optional<std::string>* namedHome = nullptr);

// ThreadingModel "Both" for the product's one apartment-sensitive class;
// NotWritten when the class is not registered.
RegistryWrite FixThreadingModel(StepMode mode = StepMode::Repair);

// The value that FixThreadingModel owns, as a key under HKCR and a value name.
bool IsRepairedThreadingModel(std::string_view classesKey, std::string_view valueName);
