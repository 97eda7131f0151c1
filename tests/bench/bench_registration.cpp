// Registers a folder of stand-in COM servers three ways and prints the times:
// the repair's sweep (without and with a run log), the administrator's loop
// of "regsvr32 /s" runs, and the floor that no sweep can beat (each module
// loaded once, DllRegisterServer called in-process). Then the same sweep as
// -verify runs it: every module's registration captured and compared.
// Usage: bench_registration [modules] [rounds]
#include "common/path.h"
#include "common/process.h"
#include "common/run_log.h"
#include "common/unique_any.h"
#include "repair/com_servers.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr char MarkerVariable[] = "QEX_COM_MARKERS";
// Where the stand-in servers register (tests/fixtures/com/com_server.c).
constexpr char ServerRegistrationsKey[] = "QexTestServer";

std::string OwnFolder()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    PathRemoveFileSpecA(path);
    return path;
}

double Seconds(const std::function<void()>& work)
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    work();
    QueryPerformanceCounter(&end);
    return double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

void RemoveFolders(const std::vector<std::string>& files, const std::vector<std::string>& folders)
{
    for (const std::string& file : files)
        DeleteFileA(file.c_str());
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        RemoveDirectoryA(folder->c_str());
}

void RegisterInProcess(const std::string& path)
{
    unique_hmodule module(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!module)
        return;
    using Export = HRESULT(STDAPICALLTYPE*)();
    if (auto entry = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module.get(), "DllRegisterServer"))))
        entry();
}

void RegisterWithRegsvr32(const std::string& path)
{
    std::optional<unique_process_information> process =
        StartProcess(Quoted(SystemToolPath("regsvr32.exe")) + " /s " + Quoted(path), CREATE_NO_WINDOW);
    if (process)
        WaitForProcess(*process);
}

} // namespace

int main(int argc, char** argv)
{
    const int modulesWanted = argc > 1 ? std::atoi(argv[1]) : 300;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;

    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string root = std::string(temp) + "qex bench " + std::to_string(GetCurrentProcessId());
    const std::string installDir = root + "\\install";
    const std::string serverFolder = installDir + "\\bin\\ntx86";
    const std::string markerKey = "Software\\QexTest\\Bench " + std::to_string(GetCurrentProcessId());
    SetEnvironmentVariableA(MarkerVariable, markerKey.c_str());

    const std::vector<std::string> folders = {root, installDir, installDir + "\\bin", serverFolder};
    for (const std::string& folder : folders)
        CreateDirectoryA(folder.c_str(), nullptr);
    const std::string fixture = JoinPath(OwnFolder(), "com_server.dll");
    std::vector<std::string> modules;
    for (int i = 0; i < modulesWanted; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Server%03d.dll", i);
        modules.push_back(JoinPath(serverFolder, name));
        if (!CopyFileA(fixture.c_str(), modules.back().c_str(), FALSE)) {
            std::printf("cannot copy %s\n", fixture.c_str());
            return 1;
        }
    }

    // Alternating rounds, each from the same empty marker key, so that both
    // runs meet the same registry and the same load on the machine.
    const std::string log = root + "\\bench.log";
    double sweep = 1e30, logged = 1e30, floor = 1e30, count = 1e30, check = 1e30;
    std::optional<std::string> failed;
    for (int round = 0; round < rounds; ++round) {
        count = std::min(count, Seconds([&] { CountSelfRegisteringModules(serverFolder); }));
        SHDeleteKeyA(HKEY_CURRENT_USER, markerKey.c_str());
        // No log: this sweep writes none.
        CloseRunLog();
        sweep = std::min(sweep, Seconds([&] { RegisterProductComServers(installDir, false, nullptr); }));
        SHDeleteKeyA(HKEY_CURRENT_USER, markerKey.c_str());
        OpenRunLogFile(log);
        logged = std::min(logged, Seconds([&] { RegisterProductComServers(installDir, false, nullptr); }));
        CloseRunLog();
        // Every module registered: the check compares all of each registration.
        check = std::min(check, Seconds([&] {
                             RegisterProductComServers(installDir, false, nullptr, failed, StepMode::Verify);
                         }));
        SHDeleteKeyA(HKEY_CURRENT_USER, markerKey.c_str());
        floor = std::min(floor, Seconds([&] {
                             for (const std::string& module : modules)
                                 RegisterInProcess(module);
                         }));
    }
    const double regsvr32 = Seconds([&] {
        for (const std::string& module : modules)
            RegisterWithRegsvr32(module);
    });

    std::printf("modules:              %d (best of %d rounds for the in-process runs)\n", modulesWanted, rounds);
    std::printf("sweep (RegisterProductComServers): %8.3f s\n", sweep);
    std::printf("sweep with -log (a line a module): %8.3f s\n", logged);
    std::printf("floor (load + DllRegisterServer):  %8.3f s\n", floor);
    std::printf("count alone (one probe each):      %8.3f s\n", count);
    std::printf("check (-verify, all in place):     %8.3f s%s\n", check, failed ? " (not all in place!)" : "");
    std::printf("regsvr32 /s loop:                  %8.3f s\n", regsvr32);
    std::printf("regsvr32 loop / sweep: %6.2f  (wanted >= 10)\n", regsvr32 / sweep);
    std::printf("sweep / floor:         %6.2f  (wanted <= 1.25)\n", sweep / floor);
    std::printf("logged / sweep:        %6.2f  (wanted <= 1.05)\n", logged / sweep);
    std::printf("check / sweep:         %6.2f  (wanted <= 2)\n", check / sweep);

    SHDeleteKeyA(HKEY_CURRENT_USER, markerKey.c_str());
    SHDeleteKeyA(HKEY_CLASSES_ROOT, ServerRegistrationsKey);
    DeleteFileA(log.c_str());
    RemoveFolders(modules, folders);
    return 0;
}
