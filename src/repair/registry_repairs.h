// Registry values the host and the product rely on.
#pragma once

// The raster environment under HKLM\Software\ESRI\Raster (host 9.0.0.0 only).
void WriteRasterEnvironment();

// ThreadingModel "Both" for the product's one apartment-sensitive class;
// false when the class's key cannot be opened or the value not written.
bool FixThreadingModel();
