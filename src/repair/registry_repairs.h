// Registry values the host and the product rely on.
#pragma once

// What became of a repair's values. Keys are opened, never created.
enum class RegistryWrite {
    Written,    // every value it had to write
    NotWritten, // nothing to write: another host version, no installation, or the key is not there
    Failed,     // a key that is there could not be opened for writing, or a value was not written
};

// The raster environment under HKLM\Software\ESRI\Raster (host 9.0.0.0 only).
RegistryWrite WriteRasterEnvironment();

// ThreadingModel "Both" for the product's one apartment-sensitive class;
// NotWritten when the class is not registered.
RegistryWrite FixThreadingModel();
