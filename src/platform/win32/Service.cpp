#include "platform/win32/Service.h"

#include <aclapi.h>

#include <cstdio>
#include <mutex>

#include "platform/win32/ServiceLog.h"
#include "platform/win32/Win32Text.h"

namespace ovrin::win32 {
namespace {

constexpr wchar_t kDisplayName[] = L"Ovrin-Server";
constexpr wchar_t kFirewallRule[] = L"Ovrin-Server";
constexpr wchar_t kAccount[] = L"NT AUTHORITY\\LocalService";

// One argument as CommandLineToArgvW reads it back: quoted when it holds a blank
// or a quote, a quote escaped, backslashes doubled only before a quote.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

void Say(std::FILE* to, const std::string& text) {
    std::fprintf(to, "%s\n", text.c_str());
    std::fflush(to);
}

int Failed(const std::string& what, DWORD error) {
    std::string text = "ovrin-server: " + what + ": " + ErrorText(error);
    if (error == ERROR_ACCESS_DENIED) text += " (run it from a Command Prompt opened as administrator)";
    Say(stderr, text);
    return 1;
}

class Handle {
public:
    explicit Handle(SC_HANDLE h) : h_(h) {}
    ~Handle() {
        if (h_) CloseServiceHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    SC_HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

private:
    SC_HANDLE h_;
};

// Windows' own firewall tool; the rule lets clients reach the program, as the
// prompt at its first Listen would for a program with a window.
bool Firewall(const std::wstring& args) {
    std::wstring command = L"netsh.exe advfirewall firewall " + args;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process))
        return false;
    DWORD status = 1;
    if (WaitForSingleObject(process.hProcess, 15000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return status == 0;
}

// The service runs as Local Service, which may not write where a user's folders
// are: it gets modify rights on its own folder, inherited by what it makes there.
bool LetTheServiceWrite(const std::wstring& folder) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    if (!CreateWellKnownSid(WinLocalServiceSid, nullptr, sid, &size)) return false;
    PACL old = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &old,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    EXPLICIT_ACCESSW access{};
    access.grfAccessPermissions = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(sid);
    PACL acl = nullptr;
    DWORD result = SetEntriesInAclW(1, &access, old, &acl);
    if (result == ERROR_SUCCESS)
        result = SetNamedSecurityInfoW(const_cast<LPWSTR>(folder.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                       nullptr, nullptr, acl, nullptr);
    LocalFree(acl);
    LocalFree(descriptor);
    return result == ERROR_SUCCESS;
}

// --- the run under the service manager ---

struct Running {
    std::mutex mutex;
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status{};
    const std::function<int(const std::function<void()>&)>* program = nullptr;
    const std::function<void()>* stop = nullptr;
    int exitStatus = 0;
};
Running* gRunning = nullptr;

void Report(DWORD state, int exitStatus = 0) {
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS report{};
    {
        const std::lock_guard<std::mutex> lock(gRunning->mutex);
        SERVICE_STATUS& s = gRunning->status;
        s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        s.dwCurrentState = state;
        s.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
        s.dwWin32ExitCode = exitStatus ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
        s.dwServiceSpecificExitCode = static_cast<DWORD>(exitStatus);
        const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
        s.dwCheckPoint = pending ? s.dwCheckPoint + 1 : 0;
        s.dwWaitHint = pending ? 15000 : 0;
        handle = gRunning->handle;
        report = s;
    }
    // Once the stopped state is reported the dispatcher returns and the process
    // ends: nothing of the run (its lock included) may be touched after it.
    SetServiceStatus(handle, &report);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            Report(SERVICE_STOP_PENDING);
            (*gRunning->stop)();
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
        default: return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    gRunning->handle = RegisterServiceCtrlHandlerExW(kServiceName, &Control, nullptr);
    if (!gRunning->handle) return;
    Report(SERVICE_START_PENDING);
    gRunning->exitStatus = (*gRunning->program)([] { Report(SERVICE_RUNNING); });
    Report(SERVICE_STOPPED, gRunning->exitStatus);
}

}  // namespace

std::wstring ServiceCommandLine(const std::wstring& program, const std::vector<std::string>& args) {
    std::wstring line = L"\"" + program + L"\" --service";
    for (const std::string& arg : args) line += L" " + Quoted(Wide(arg));
    return line;
}

int InstallService(const std::wstring& program, const std::vector<std::string>& args, const std::string& folder) {
    const Handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) return Failed("cannot reach the service manager", GetLastError());
    const std::wstring command = ServiceCommandLine(program, args);
    SC_HANDLE made = CreateServiceW(manager.get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                    command.c_str(), nullptr, nullptr, nullptr, kAccount, nullptr);
    const bool existed = !made && GetLastError() == ERROR_SERVICE_EXISTS;
    if (existed) {
        made = OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS);
        if (made && !ChangeServiceConfigW(made, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE,
                                          command.c_str(), nullptr, nullptr, nullptr, kAccount, L"", kDisplayName)) {
            const DWORD error = GetLastError();
            CloseServiceHandle(made);
            return Failed("cannot change the service ovrin-server", error);
        }
    }
    const Handle service(made);
    if (!service) return Failed("cannot register the service ovrin-server", GetLastError());

    std::wstring about = L"Makes a radio's serial port reachable over TCP/IP.";
    SERVICE_DESCRIPTIONW description{about.data()};
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description);
    // As the Linux unit: restarted 5 s after a failure.
    SC_ACTION restart[3] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}};
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = 24 * 60 * 60;
    failure.cActions = 3;
    failure.lpsaActions = restart;
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure);

    const std::string source = AddEventSource(program);
    if (!source.empty()) Say(stderr, "ovrin-server: warning: the event log will not name its lines: " + source);
    const std::wstring wideFolder = Wide(folder);
    CreateDirectoryW(wideFolder.c_str(), nullptr);
    if (!LetTheServiceWrite(wideFolder))
        Say(stderr, "ovrin-server: warning: could not let Local Service write " + folder +
                        ": the settings and the log may not be saved");
    Firewall(std::wstring(L"delete rule name=\"") + kFirewallRule + L"\"");
    if (!Firewall(std::wstring(L"add rule name=\"") + kFirewallRule + L"\" dir=in action=allow program=\"" + program +
                  L"\" enable=yes"))
        Say(stderr, "ovrin-server: warning: no firewall rule added; clients on other computers need one: netsh "
                    "advfirewall firewall add rule name=\"Ovrin-Server\" dir=in action=allow program=\"" +
                        Utf8(program) + "\"");
    Say(stdout, std::string(existed ? "Service ovrin-server changed" : "Service ovrin-server installed") +
                    ": started at boot, as Local Service, without a window: " + Utf8(command));
    Say(stdout, "Settings and log (ovrin-server.log) in " + folder + "; start it now with: sc start ovrin-server");
    return 0;
}

int UninstallService() {
    const Handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return Failed("cannot reach the service manager", GetLastError());
    const Handle service(OpenServiceW(manager.get(), kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) return Failed("no service ovrin-server to remove", GetLastError());
    SERVICE_STATUS status{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        // It releases the transmitter and saves the settings first.
        for (int waited = 0; waited < 300 && status.dwCurrentState != SERVICE_STOPPED; ++waited) {
            Sleep(100);
            if (!QueryServiceStatus(service.get(), &status)) break;
        }
        Say(stdout, "Service ovrin-server stopped");
    }
    if (!DeleteService(service.get())) return Failed("cannot remove the service ovrin-server", GetLastError());
    RemoveEventSource();
    Firewall(std::wstring(L"delete rule name=\"") + kFirewallRule + L"\"");
    Say(stdout, "Service ovrin-server removed; its settings and log stay in their folder");
    return 0;
}

int RunAsService(const std::function<int(const std::function<void()>& serving)>& program,
                 const std::function<void()>& stop) {
    Running running;
    running.program = &program;
    running.stop = &stop;
    gRunning = &running;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kServiceName), &ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        const DWORD error = GetLastError();
        gRunning = nullptr;
        if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
            Say(stderr, "ovrin-server: --service is how the service manager starts the service; install it with "
                        "--install-service, start it with: sc start ovrin-server");
            return 2;
        }
        return Failed("cannot run as a service", error);
    }
    gRunning = nullptr;
    return running.exitStatus;
}

}  // namespace ovrin::win32
