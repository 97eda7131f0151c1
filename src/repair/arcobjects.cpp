#include "repair/arcobjects.h"

#include "common/path.h"
#include "common/run_log.h"
#include "common/system_folder.h"
#include "discovery/host.h"
#include "repair/com_servers.h"
#include "repair/progress_row.h"
#include "repair/registry_repairs.h"

#include <optional>
#include <string>
#include <vector>

namespace {

const char LibraryFolder[] = "bin";

// The libraries each host version needs, in the order they are registered.
const std::vector<const char*> LibrariesWithoutVersion = {"Geometry.dll", "SpatialReference.dll"};
const std::vector<const char*> Libraries83 = {"Geometry.dll", "SpatialReference.dll", "ESRICore.olb",
                                              "ESRITin.olb"};
const std::vector<const char*> Libraries90 = {"Geometry.dll"};
const std::vector<const char*> NoLibraries = {};

const char HostVersion83[] = "8.3.0";
const char HostVersion90[] = "9.0.0.0";
const char HostVersion91[] = "9.1";

// Exact, case-sensitive comparison of the whole string: "9.1.0" has no table.
const std::vector<const char*>& LibrariesFor(const std::optional<std::string>& hostVersion)
{
    if (!hostVersion)
        return LibrariesWithoutVersion;
    if (*hostVersion == HostVersion83)
        return Libraries83;
    if (*hostVersion == HostVersion90 || *hostVersion == HostVersion91)
        return Libraries90;
    return NoLibraries;
}

} // namespace

bool RegisterArcObjects(std::string_view hostDirectory, HWND window, bool* registryFailed, StepMode mode)
{
    const bool check = mode == StepMode::Verify;
    const std::optional<std::string> hostVersion = FindHostVersion();
    const std::vector<const char*>& libraries = LibrariesFor(hostVersion);
    const std::string folder = JoinPath(hostDirectory, LibraryFolder);
    const int count = static_cast<int>(libraries.size());
    LogLine({check ? "check" : "register", " the ArcObjects libraries in ", folder, " for host version ",
             hostVersion.value_or("(none)"), ": ", std::to_string(count), check ? " to check" : " to register"});

    std::optional<std::string> failedLibrary;
    // Libraries to register and no folder (a mistyped home, say): no success.
    const bool folderMissing = count > 0 && !FolderExists(folder);
    if (folderMissing) {
        LogLine({check ? "check" : "register", " the ArcObjects libraries in ", folder, check ? ": not in place" : ": failed",
                 ", the folder is not there"});
        NoteFailure(failedLibrary, folder);
    }
    for (int i = 0; i < count && !folderMissing; ++i) {
        const std::string path = JoinPath(folder, libraries[i]);
        // Missing, unloadable or not self-registering: skipped without a word on the row.
        if (ProbeModule(path) != SelfRegistering) {
            LogLine({"skip ", path, ": missing, or not a self-registering module"});
            continue;
        }
        ReportLabel(window, ArcObjectsRow, libraries[i]);
        if (!(check ? CheckModule(path) : RegisterModule(path)))
            NoteFailure(failedLibrary, libraries[i]);
        // A failed registration still advances the bar; a skipped one leaves a gap.
        ReportPosition(window, ArcObjectsRow, (i + 1) * 100 / count);
    }
    // The last position may have shown success; a failed library overrides it.
    if (failedLibrary)
        ReportRowFailure(window, ArcObjectsRow, *failedLibrary);

    // The raster environment is repaired whatever was registered, the empty table included.
    if (WriteRasterEnvironment(mode) == RegistryWrite::Failed && registryFailed)
        *registryFailed = true;
    return !failedLibrary;
}
