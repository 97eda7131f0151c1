// A sample machine in the Wine prefix: the host of a chosen version with its
// ArcObjects libraries and raster component, QEX 8.7.0 with COM servers,
// assemblies and patch installers, its extension, LUMERA with an outdated
// AfCore.dll, a stale raster environment and threading model, and the .NET
// Framework's (stand-in) regasm.exe. The same machine serves the end-to-end
// tests and scripts/demo, so they cannot drift apart.
#pragma once

#include "support/bench.h"
#include "support/com_markers.h"
#include "support/program_driver.h"

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The sample machine's own keys under HKLM, and the stale raster home it seeds.
constexpr char ProductKey[] = "SOFTWARE\\Torvane\\Shared\\8.7.0\\Environment";
constexpr char ExtensionsKey[] = "SOFTWARE\\Torvane\\Mirel";
constexpr char LumeraKey[] = "SOFTWARE\\NORVAK\\LUMERA\\8.7";
constexpr char StaleRasterHome[] = "C:\\Program Files\\Old Raster\\";

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
    std::unique_ptr<ScopedValue> installRoot_; // put back as it was by Remove()
    bool seeded_ = false;
};

// Ways to spoil the sample machine before a run: one table for the tests and
// the hostile-input runs (scripts/figures). A row's spoil function changes
// the machine that SampleMachine(host) seeded and says how to run the
// program; false when it could not.
struct Spoiling {
    std::string program = ProgramPath();
    std::string options = "-nogui";
    std::string heldOpen;                  // opened with share mode 0 during the run
    std::vector<std::string> extraFolders; // snapshotted and removed afterwards
};
struct SpoiledMachine {
    const char* name;
    const char* host;
    std::function<bool(Spoiling&)> spoil;
    bool control = false; // a run that does lose something: proves the comparison sees it
};
const std::vector<SpoiledMachine>& SpoiledMachines();
// The row of that name, or null.
const SpoiledMachine* SpoiledMachineNamed(const std::string& name);
// The file opened for reading with share mode 0 while the owner lives; an empty path opens nothing.
unique_file HoldOpen(const std::string& path);
// The file held open for reading with shareMode by another process, a
// program of the bench's own (file_holder.exe), until the owner ends it;
// null when that process could not open it.
std::unique_ptr<RunningProgram> HoldInAnotherProcess(const std::string& path, DWORD shareMode);
// The prefix's restart as far as files go: the renames and deletions pending
// for the next start are carried out, by Wine's own wineboot -r (as when the
// prefix's server starts cold). A restart ends every program first: end those
// that hold the files before.
bool RestartPrefix();

// What a repair can change, as "category|item" -> state.
using MachineState = std::map<std::string, std::string>;
MachineState CaptureState(const SampleMachine& machine);
// Lines such as "registry  HKLM\...\QEX_HOME: C:\Old\ -> C:\Program Files\...".
std::vector<std::string> DescribeChanges(const MachineState& before, const MachineState& after);

// The class's "ThreadingModel" and a value of HKLM\SOFTWARE\ESRI\Raster\Environment
// ("QEX_HOME", ...); nullopt when absent.
std::optional<std::string> ThreadingModelValue();
std::optional<std::string> RasterEnvironmentValue(const char* name);
// The regasm stand-in's log, one command line per run.
std::vector<std::string> RegasmRuns();
// The patch stand-ins' logs: "command line|working directory" per run.
std::vector<std::string> PatchRuns(int which);

// One row of the progress window as a run left it.
struct RowState {
    bool visible = false;
    int bar = 0;
    int status = 0; // 0 pending, 1 success, 2 failure
    std::string caption;
    std::string label;
};

// The three rows of the program's window, read from another process.
struct WindowRows {
    RowState com, net, arc;
};
WindowRows ReadRows(HWND window);

// What a run of the real RepairQEXApps.exe showed and how it ended.
struct RepairRun {
    std::optional<DWORD> exitCode;   // nullopt: it did not end in time (then it was killed)
    DWORD processId = 0;             // as its log lines name it
    bool windowRead = false;         // the work was done (the worker thread ended) and the window read
    std::optional<bool> everVisible; // the progress window was shown at some moment (as a ShowWatch
                                     // saw it); nullopt when no ShowWatch could be set
    bool heldWhileWorking = false;   // whileWorking was called with the run held inside its work
    bool okEnabled = false;          // OK's state then, read apart from what decided the work was done
    RowState com, net, arc;
    std::vector<std::string> messageBoxes; // "caption: text" of every message box, dismissed with OK

    // How it ended, as one text: "exit code 0, no message box", or with
    // "message box: caption: text" for each.
    std::string Outcome() const;
};
constexpr char kQuietEnd[] = "exit code 0, no message box";

enum class RunEnd {
    ByOk,     // the window waits for OK: read it once the work is done, call atFinish, press OK if enabled
    ByItself, // a silent run: never press OK, wait for it to close itself
};

// Where and how a run starts, as from a download folder; each empty field keeps the default.
struct RunPlace {
    std::string program;       // a copy of the program elsewhere (default: as built)
    std::string currentFolder; // its current folder (default: the caller's)
    // Libraries ("msi") that Wine's loader takes from the search path before
    // its own, as Windows does with any library that is not a known DLL. Set
    // for the program's file name in the prefix's AppDefaults: a
    // WINEDLLOVERRIDES set by a Windows parent does not reach the child's loader.
    std::vector<std::string> searchedFirst;
    // As some launchers do: the program as the application name, the options
    // alone as the command line.
    bool optionsOnly = false;
};

// Runs the program with options (written as on a command line after the
// program's quoted path) and drives it to its end; message boxes are
// recorded and dismissed with OK as they come. With whileWorking, the run is
// held inside its work (at its first stand-in COM server or regasm.exe) while
// whileWorking looks at its progress window (null when it has none).
RepairRun RunRepair(const std::string& options, RunEnd end,
                    const std::function<void(HWND)>& atFinish = nullptr, const RunPlace& place = {},
                    const std::function<void(HWND)>& whileWorking = nullptr);
