#pragma once
// The program as a Windows service, for a station that must serve before anyone
// logs in: registered with the service manager (started at boot, as Local Service,
// restarted 5 s after a failure, its event source and firewall rule beside it),
// removed again, and run when the service manager starts it.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace ovrin::win32 {

inline constexpr wchar_t kServiceName[] = L"ovrin-server";

// The command line the service manager runs: the program, then --service and the
// arguments, each quoted so that CommandLineToArgvW gives them back as they are.
std::wstring ServiceCommandLine(const std::wstring& program, const std::vector<std::string>& args);

// Registers (or, when it is there, updates) the service to run the program with
// the arguments, and lets its account write the folder. Reports on standard output
// and error; returns the exit status.
int InstallService(const std::wstring& program, const std::vector<std::string>& args, const std::string& folder);
// Stops the service when it runs and removes it; its folder stays.
int UninstallService();

// Runs as the service manager started it. `program` runs on the service's thread
// and calls `serving` once it serves; a stop or the system's shutdown calls `stop`
// from another thread. Returns the program's exit status, or 2 when the process was
// not started by the service manager.
int RunAsService(const std::function<int(const std::function<void()>& serving)>& program,
                 const std::function<void()>& stop);

}  // namespace ovrin::win32
