// A sample machine in the Wine prefix: the host of a chosen version with its
// ArcObjects libraries and raster component, QEX 8.7.0 with COM servers,
// assemblies and patch installers, its extension, LUMERA with an outdated
// AfCore.dll, a stale raster environment and threading model, and the .NET
// Framework's (stand-in) regasm.exe. The same machine serves the end-to-end
// tests and scripts/demo, so they cannot drift apart.
#pragma once

#include <map>
#include <string>
#include <vector>

class SampleMachine {
public:
    // hostVersion: "9.0.0.0", "9.1", "8.3.0", or "" for a machine without the host.
    explicit SampleMachine(std::string hostVersion);
    ~SampleMachine(); // removes everything Seed() put there
    SampleMachine(const SampleMachine&) = delete;
    SampleMachine& operator=(const SampleMachine&) = delete;

    // False when some part could not be put in place (a fixture missing).
    bool Seed();
    void Remove();

    const std::string& HostVersion() const { return hostVersion_; }
    // Folders as the registry holds them (each ends with a backslash).
    static std::string HostHome();
    static std::string ProductHome();
    static std::string ExtensionHome();
    static std::string LumeraHome();
    static std::string FrameworkFolder();
    // Where the raster component's COM servers lie for this host version.
    std::string RasterServerFolder() const;

    // Files whose contents tell the copies apart.
    static std::string HostAfCore();
    static std::string ProductAfCore();
    static std::string LumeraAfCore();

    // The product's self-registering modules, in the server folder.
    static const std::vector<std::string>& ProductServers();
    std::vector<std::string> RasterServers() const;
    static const std::vector<std::string>& Assemblies();

private:
    std::string hostVersion_;
    std::string savedInstallRoot_;
    bool hadInstallRoot_ = false;
    bool seeded_ = false;
};

// What a repair can change, as "category|item" -> state.
using MachineState = std::map<std::string, std::string>;
MachineState CaptureState(const SampleMachine& machine);
// Lines such as "registry  HKLM\...\QEX_HOME: C:\Old\ -> C:\Program Files\...".
std::vector<std::string> DescribeChanges(const MachineState& before, const MachineState& after);

// COM registration markers the fixture servers leave (HKCU\Software\QexTest\ComMarkers).
int RegistrationCount(const std::string& moduleFileName);
int UnregistrationCount(const std::string& moduleFileName);
void ClearRegistrationMarkers();
// The regasm stand-in's log, one command line per run.
std::vector<std::string> RegasmRuns();
// The patch stand-ins' logs: "command line|working directory" per run.
std::vector<std::string> PatchRuns(int which);
