#include "repair/com_servers.h"

#include "common/path.h"
#include "common/process.h"
#include "common/run_log.h"
#include "common/seh_guard.h"
#include "common/system_folder.h"
#include "common/unique_any.h"
#include "repair/progress_row.h"
#include "repair/registration_check.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>

namespace {

constexpr char ServerFolderName[] = "bin\\ntx86";
constexpr char SharedBinderPath[] = "C:\\Program Files\\Torvane\\Shared\\bin\\ntx86\\AsmBinder.dll";
constexpr char SideBySideUtility[] = "AsmBinder.dll";
constexpr char ComUtility[] = "ComBridge.dll";

constexpr char RegisterExport[] = "DllRegisterServer";
constexpr char Regsvr32[] = "regsvr32.exe";

// The directions of self-registration: the export, regsvr32's switches for
// a module that cannot be loaded (none for a check: it starts nothing that
// changes the machine), the words of the log, and whether the export's
// writes are captured and compared instead of kept.
struct SelfRegistration {
    const char* exportName;
    const char* fallbackSwitches;
    const char* verb;
    const char* ok;     // a module's line
    const char* done;   // a utility's line
    const char* failed; // either
    bool captured;
};
constexpr SelfRegistration Registration{RegisterExport, "/s", "register ", "ok", "done", "failed", false};
constexpr SelfRegistration Unregistration{"DllUnregisterServer", "/s /u", "unregister ", "ok", "done", "failed", false};
constexpr SelfRegistration Checking{RegisterExport, nullptr, "check ", "in place", "in place", "not in place", true};

// Mapping runs no code of the module and leaves its imports unresolved.
constexpr DWORD MapOnly = DONT_RESOLVE_DLL_REFERENCES | LOAD_WITH_ALTERED_SEARCH_PATH;
// A full load: dependencies found beside the module first, DllMain runs.
constexpr DWORD LoadInFull = LOAD_WITH_ALTERED_SEARCH_PATH;
constexpr DWORD FallbackCreationFlags = CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS;

// One pass of a sweep: the search pattern and the offset of its positions.
struct SweepPass {
    const char* pattern;
    int offset;
};
// The unregistration's "*.ocx" positions carry no offset: the row shows them as sent.
constexpr SweepPass RegistrationPasses[] = {{"*.dll", 2}, {"*.ocx", 2}};
constexpr SweepPass UnregistrationPasses[] = {{"*.dll", 2}, {"*.ocx", 0}};

using SelfRegistrationExport = HRESULT(STDAPICALLTYPE*)();

// 98·k / N after the offset. Modules that appeared after the count (k > N,
// even N = 0) hold the bar at 100 instead of dividing by zero or overrunning.
int SweepPosition(int offset, int k, int n)
{
    if (n <= 0)
        return 100;
    return std::min(100, offset + (98 * k) / n);
}

// regsvr32 by its full path in the system folder: the search path would
// start with our own folder and the current one. Both paths quoted, since
// the product lives under "Program Files". It starts in the system folder,
// so the module's dependencies are never looked for in the caller's folder.
bool StartRegsvr32Fallback(const std::string& path, const char* switches)
{
    // Nobody waits for it; its handles go at once.
    return StartProcessInSystemFolder(Quoted(SystemToolPath(Regsvr32)) + " " + switches + " " + Quoted(path),
                                      FallbackCreationFlags)
        .has_value();
}

// The module's registration, written where it would go, against the
// registry: in place when every key and value is already there.
bool CompareCapturedRegistration(const std::string& modulePath, SelfRegistrationExport entry,
                                 const SelfRegistration& how)
{
    std::string failure;
    const std::optional<RegistrationKeys> captured = CaptureRegistration(entry, how.exportName, failure);
    if (!captured) {
        LogLine({how.verb, modulePath, ": ", how.failed, ", ", failure});
        return false;
    }
    const std::optional<std::string> difference = RegistrationDifference(*captured);
    if (difference)
        LogLine({how.verb, modulePath, ": ", how.failed, ", ", *difference});
    else
        LogLine({how.verb, modulePath, ": ", how.ok});
    return !difference;
}

// The module's export called in this process; with how.captured, under a
// capture. The module is loaded and its export found first: its DllMain runs
// on the real registry, only the export's writes are captured.
bool ApplyToModule(std::string_view path, const SelfRegistration& how)
{
    if (path.empty())
        return false;
    const std::string modulePath(path);
    unique_hmodule module(LoadLibraryExA(modulePath.c_str(), nullptr, LoadInFull));
    if (!module) {
        const DWORD error = GetLastError();
        if (!how.fallbackSwitches) {
            LogLine({how.verb, modulePath, ": ", how.failed, ", not loadable (error ", std::to_string(error), ")"});
            return false;
        }
        const bool started = StartRegsvr32Fallback(modulePath, how.fallbackSwitches);
        LogLine({how.verb, modulePath, ": ", how.failed, ", not loadable (error ", std::to_string(error), "), ",
                 started ? "regsvr32 started" : "regsvr32 could not be started"});
        return false;
    }
    auto entry = reinterpret_cast<SelfRegistrationExport>(
        reinterpret_cast<void*>(GetProcAddress(module.get(), how.exportName)));
    if (!entry) {
        LogLine({how.verb, modulePath, ": ", how.failed, ", no ", how.exportName});
        return false;
    }
    if (how.captured)
        return CompareCapturedRegistration(modulePath, entry, how);
    // A module that crashes in its export counts as failed and is still released.
    HRESULT status = E_FAIL;
    if (!CallGuarded(entry, status)) {
        LogLine({how.verb, modulePath, ": ", how.failed, ", an exception in ", how.exportName});
        return false;
    }
    if (status != S_OK) {
        LogLine({how.verb, modulePath, ": ", how.failed, ", status ", HexCode(static_cast<unsigned long>(status))});
        return false;
    }
    LogLine({how.verb, modulePath, ": ", how.ok});
    return true;
}

bool IsSelfRegistering(const std::string& path)
{
    return ProbeModule(path) == SelfRegistering;
}

// What probing a folder found, by the file names that its searches returned.
// A sweep reuses the count's probes: mapping every module twice would cost
// as much again as the probing itself, and a module that appears after the
// count is still probed when the sweep meets it.
struct FolderSurvey {
    int selfRegistering = 0;
    std::map<std::string, ModuleProbe> probes;
};

// Calls visit(file name, full path, probe) for every entry of the search, in
// the search's order. Sub-folders named like modules are probed like files
// and fall out there.
template <typename Visit>
void ForEachEntry(const std::string& folder, const char* pattern, Visit visit)
{
    WIN32_FIND_DATAA entry{};
    unique_find search(FindFirstFileA(JoinPath(folder, pattern).c_str(), &entry));
    if (!search)
        return;
    do {
        visit(entry.cFileName, JoinPath(folder, entry.cFileName));
    } while (FindNextFileA(search.get(), &entry));
}

FolderSurvey SurveyFolder(const std::string& folder)
{
    FolderSurvey survey;
    // A missing path passes (INVALID_FILE_ATTRIBUTES has every bit set) and its searches find nothing.
    if (folder.empty() || !(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY))
        return survey;
    for (const SweepPass& pass : RegistrationPasses)
        ForEachEntry(folder, pass.pattern, [&](const char* name, const std::string& path) {
            ModuleProbe probe = ProbeModule(path);
            survey.probes.emplace(name, probe);
            if (probe == SelfRegistering)
                ++survey.selfRegistering;
        });
    return survey;
}

ModuleProbe ProbeOnce(const FolderSurvey& survey, const char* name, const std::string& path)
{
    auto known = survey.probes.find(name);
    return known != survey.probes.end() ? known->second : ProbeModule(path);
}

// Notes the first module that failed; the sweep goes on after a failure.
template <size_t Count>
void SweepServerFolder(const std::string& folder, const SweepPass (&passes)[Count], const SelfRegistration& how,
                       HWND window, std::optional<std::string>& firstFailure)
{
    const FolderSurvey survey = SurveyFolder(folder);
    const int n = survey.selfRegistering;
    int k = 0;
    for (const SweepPass& pass : passes) {
        ForEachEntry(folder, pass.pattern, [&](const char* name, const std::string& path) {
            if (ProbeOnce(survey, name, path) != SelfRegistering)
                return;
            ReportLabel(window, ComRow, name);
            ++k;
            if (!ApplyToModule(path, how))
                NoteFailure(firstFailure, name);
            ReportPosition(window, ComRow, SweepPosition(pass.offset, k, n));
        });
    }
}

std::string UtilityInFolder(const std::string& serverFolder, const char* fileName)
{
    return serverFolder + "\\" + fileName;
}

// What became of a utility: done, absent (no file of that name), or failed
// (a file that is there could not be registered or unregistered). A check
// reads done as in place, failed as not in place.
enum class UtilityOutcome { Done, Absent, Failed };

bool IsFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A copy that is there but does not map as a self-registering module (empty,
// corrupt, another machine's, no DllRegisterServer) cannot be registered:
// that is a broken installation, not a missing utility.
UtilityOutcome ApplyToCopy(const std::string& path, const SelfRegistration& how)
{
    if (!IsFile(path))
        return UtilityOutcome::Absent;
    if (!IsSelfRegistering(path)) {
        LogLine({how.verb, path, ": ", how.failed, ", not a self-registering module"});
        return UtilityOutcome::Failed;
    }
    return ApplyToModule(path, how) ? UtilityOutcome::Done : UtilityOutcome::Failed;
}

// The copy in the maker's shared folder first; the server folder's copy
// decides when the shared one is missing or fails. A shared copy that failed
// leaves the step failed, not absent, when the folder has no copy.
UtilityOutcome ApplyToSideBySideUtility(const std::string& serverFolder, const SelfRegistration& how)
{
    const UtilityOutcome shared = ApplyToCopy(SharedBinderPath, how);
    if (shared == UtilityOutcome::Done)
        return shared;
    const UtilityOutcome inFolder = ApplyToCopy(UtilityInFolder(serverFolder, SideBySideUtility), how);
    return inFolder == UtilityOutcome::Absent ? shared : inFolder;
}

UtilityOutcome ApplyToComUtility(const std::string& serverFolder, const SelfRegistration& how)
{
    return ApplyToCopy(UtilityInFolder(serverFolder, ComUtility), how);
}

// With sxsRequired every utility must be done. Without it an absent one is
// tolerated, but one that is there and fails is a failure of the row.
bool UtilityFailed(const char* utility, UtilityOutcome outcome, bool sxsRequired, const SelfRegistration& how)
{
    const bool failed = outcome == UtilityOutcome::Failed || (outcome == UtilityOutcome::Absent && sxsRequired);
    if (outcome == UtilityOutcome::Done)
        LogLine({"utility ", utility, ": ", how.done});
    else if (outcome == UtilityOutcome::Failed)
        LogLine({"utility ", utility, ": ", how.failed});
    else if (failed)
        LogLine({"utility ", utility, ": absent, ", how.failed, ": the side-by-side utilities are required"});
    else
        LogLine({"utility ", utility, ": absent"});
    return failed;
}

} // namespace

ModuleProbe ProbeModule(std::string_view path)
{
    if (path.empty())
        return NotLoadable;
    unique_hmodule module(LoadLibraryExA(std::string(path).c_str(), nullptr, MapOnly));
    if (!module)
        return NotLoadable;
    return GetProcAddress(module.get(), RegisterExport) ? SelfRegistering : NotSelfRegistering;
}

bool RegisterModule(std::string_view path)
{
    return ApplyToModule(path, Registration);
}

bool UnregisterModule(std::string_view path)
{
    return ApplyToModule(path, Unregistration);
}

bool CheckModule(std::string_view path)
{
    return ApplyToModule(path, Checking);
}

int CountSelfRegisteringModules(std::string_view folder)
{
    return SurveyFolder(std::string(folder)).selfRegistering;
}

bool RegisterProductComServers(std::string_view installDir, bool sxsRequired, HWND window)
{
    std::optional<std::string> failedFile;
    return RegisterProductComServers(installDir, sxsRequired, window, failedFile);
}

bool RegisterProductComServers(std::string_view installDir, bool sxsRequired, HWND window,
                               std::optional<std::string>& failedFile, StepMode mode)
{
    // A check goes the registration's way: utilities first, then the sweep.
    const SelfRegistration& how = mode == StepMode::Verify ? Checking : Registration;
    failedFile.reset();
    if (installDir.empty())
        return false;
    const std::string serverFolder = JoinPath(installDir, ServerFolderName);
    LogLine({how.verb, "the COM servers in ", serverFolder, sxsRequired ? ", the utilities required" : ""});

    ReportLabel(window, ComRow, SideBySideUtility);
    if (UtilityFailed(SideBySideUtility, ApplyToSideBySideUtility(serverFolder, how), sxsRequired, how)) {
        NoteFailure(failedFile, SideBySideUtility);
        if (sxsRequired) {
            LogLine({how.verb, "the COM servers in ", serverFolder, ": stopped, a required utility ", how.failed});
            ReportStatus(window, ComRow, STATUS_CODE_FAILURE);
            return false;
        }
    }
    ReportPosition(window, ComRow, 1);

    ReportLabel(window, ComRow, ComUtility);
    if (UtilityFailed(ComUtility, ApplyToComUtility(serverFolder, how), sxsRequired, how)) {
        NoteFailure(failedFile, ComUtility);
        if (sxsRequired) {
            LogLine({how.verb, "the COM servers in ", serverFolder, ": stopped, a required utility ", how.failed});
            ReportStatus(window, ComRow, STATUS_CODE_FAILURE);
            return false;
        }
    }
    ReportPosition(window, ComRow, 2);

    // A folder that is not there (a mistyped home, say) registered nothing: no success.
    if (FolderExists(serverFolder)) {
        SweepServerFolder(serverFolder, RegistrationPasses, how, window, failedFile);
    } else {
        LogLine({how.verb, "the COM servers in ", serverFolder, ": ", how.failed, ", the folder is not there"});
        NoteFailure(failedFile, serverFolder);
    }
    // The last position may have shown success; a failed module overrides it.
    if (failedFile)
        ReportRowFailure(window, ComRow, *failedFile);
    return !failedFile;
}

bool UnregisterProductComServers(std::string_view installDir, bool sxsRequired, HWND window)
{
    if (installDir.empty())
        return false;
    const std::string serverFolder = JoinPath(installDir, ServerFolderName);
    LogLine({"unregister the COM servers in ", serverFolder, sxsRequired ? ", the utilities required" : ""});

    std::optional<std::string> failedFile;
    SweepServerFolder(serverFolder, UnregistrationPasses, Unregistration, window, failedFile);

    ReportLabel(window, ComRow, ComUtility);
    if (UtilityFailed(ComUtility, ApplyToComUtility(serverFolder, Unregistration), sxsRequired, Unregistration)) {
        ReportStatus(window, ComRow, STATUS_CODE_FAILURE);
        NoteFailure(failedFile, ComUtility);
    }

    ReportLabel(window, ComRow, SideBySideUtility);
    if (UtilityFailed(SideBySideUtility, ApplyToSideBySideUtility(serverFolder, Unregistration), sxsRequired,
                      Unregistration)) {
        ReportStatus(window, ComRow, STATUS_CODE_FAILURE);
        NoteFailure(failedFile, SideBySideUtility);
    }

    ReportPosition(window, ComRow, 99);
    ReportPosition(window, ComRow, 100);
    // 100 shows success: a failure above must not end as a tick.
    if (failedFile)
        ReportRowFailure(window, ComRow, *failedFile);
    return !failedFile;
}
