// Ovrin-Server on Windows: reads the command line, makes the Win32 platform's
// facilities and runs the program (run/Run.h) with the window, or none
// with --headless or as a service.
// One program, built for the GUI subsystem: started from a console, it writes its
// messages (--help, --version, the --headless log) there.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <timeapi.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/Lifecycle.h"
#include "cli/CommandLine.h"
#include "ovrin/Version.h"
#include "run/Run.h"
#include "platform/std/FileHost.h"
#include "platform/std/StderrLog.h"
#include "platform/win32/MessageLoop.h"
#include "platform/win32/Service.h"
#include "platform/win32/ServiceLog.h"
#include "platform/win32/Win32CommControl.h"
#include "platform/win32/Win32Dialogs.h"
#include "platform/win32/Win32Pictures.h"
#include "platform/win32/Win32Sockets.h"
#include "platform/win32/Win32Text.h"
#include "platform/win32/Win32Timers.h"
#include "platform/win32/Win32Window.h"

namespace {

using ovrin::cli::Options;
namespace win32 = ovrin::win32;

// A GUI program has no standard streams of its own; started from a console it
// writes to that console, and redirected streams are kept as they are.
void ConnectStreams() {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err != nullptr && err != INVALID_HANDLE_VALUE) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    std::FILE* ignored = nullptr;
    freopen_s(&ignored, "CONOUT$", "w", stdout);
    freopen_s(&ignored, "CONOUT$", "w", stderr);
}

std::vector<std::string> Arguments() {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; argv && i < count; ++i) args.push_back(win32::Utf8(argv[i]));
    if (argv) LocalFree(argv);
    return args;
}

int BadUsage(const std::string& why) {
    std::fprintf(stderr, "ovrin-server: %s (see --help)\n", why.c_str());
    return ovrin::cli::kBadUsage;
}

std::wstring ProgramPath() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

std::string ProgramFolder() { return win32::Utf8(std::filesystem::path(ProgramPath()).parent_path().wstring()); }

// Whether a file can be made in the folder (Program Files cannot, for a user).
bool Writable(const std::string& folder) {
    const std::wstring probe = win32::Wide(folder) + L"\\.ovrin-write-test";
    const HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

// The settings folder: the one given, else the program's folder when it can be
// written (portable use), else %APPDATA%\Ovrin-Server.
std::string SettingsFolder(const Options& o) {
    const std::string program = ProgramFolder();
    if (o.configDir) return ovrin::cli::SettingsFolder(o, program, true, {}, {});
    if (Writable(program)) return program;
    wchar_t appData[MAX_PATH] = L"";
    const DWORD n = GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return program;
    return win32::Utf8(appData) + "\\Ovrin-Server";
}

// The service's: the one given, else %ProgramData%\Ovrin-Server, the machine's
// rather than a user's, there before anyone logs in.
std::string ServiceFolder(const Options& o) {
    if (o.configDir) return ovrin::cli::SettingsFolder(o, ProgramFolder(), true, {}, {});
    wchar_t common[MAX_PATH] = L"";
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common)))
        return ProgramFolder();
    return win32::Utf8(common) + "\\Ovrin-Server";
}

// What the service runs with: the options given to --install-service.
std::vector<std::string> ServiceArguments(const std::vector<std::string>& args) {
    std::vector<std::string> kept;
    for (const std::string& arg : args)
        if (arg != "--install-service" && arg != "--headless") kept.push_back(arg);
    return kept;
}

const char kServiceUsage[] =
    "\n"
    "As a Windows service (from a Command Prompt opened as administrator):\n"
    "  --install-service [OPTION]...  register the service ovrin-server: started at\n"
    "                    boot, without a window, as Local Service, with these options;\n"
    "                    its settings and its log (ovrin-server.log, and the event\n"
    "                    log) in %ProgramData%\\Ovrin-Server unless --config-dir is\n"
    "                    given. Start it with: sc start ovrin-server. Given again, it\n"
    "                    changes the options\n"
    "  --uninstall-service  stop the service and remove it; its folder stays\n"
    "  --service         how the service manager starts the program\n";

// Ctrl+C, Ctrl+Break, the console closed, logoff, shutdown, the service stopped:
// end as closing the window would, on the loop's thread.
std::mutex gEndMutex;
win32::MessageLoop* gLoop = nullptr;
std::function<void()> gEnd;  // on the loop's thread only
HANDLE gEnded = nullptr;

void RequestEnd() {
    const std::lock_guard<std::mutex> lock(gEndMutex);
    if (gLoop) gLoop->Post([] {
            if (gEnd) gEnd();
        });
}

// Gives the program a moment to end before Windows ends the process.
BOOL WINAPI ConsoleControl(DWORD) {
    RequestEnd();
    WaitForSingleObject(gEnded, 4000);
    return TRUE;
}

// What the Win32 platform makes for a run: timers on the message loop, the window
// with its pictures and message boxes, and the console's and the session's end.
class Win32Run final : public ovrin::RunPlatform {
public:
    Win32Run(win32::MessageLoop& loop, std::function<void()> serving) : loop_(loop), serving_(std::move(serving)) {}

    std::unique_ptr<ovrin::TimerBackend> Backend(ovrin::Timer& model) override {
        return std::make_unique<win32::Win32TimerBackend>(loop_, model);
    }

    std::unique_ptr<ovrin::Dialogs> WindowDialogs() override {
        auto dialogs = std::make_unique<win32::Win32Dialogs>();
        dialogs_ = dialogs.get();
        return dialogs;
    }

    std::unique_ptr<Window> MakeWindow(ovrin::frmMain& f) override {
        auto window = std::make_unique<MainWindow>(f, *this);
        if (dialogs_) {
            dialogs_->SetOwner(window->window.Handle());
            // Closed while a box is open: the program has ended; the box takes its
            // safe answer.
            win32::Win32Dialogs* dialogs = dialogs_;
            window->window.Closed = [dialogs] { dialogs->EndAll(); };
        }
        return window;
    }

    std::unique_ptr<Held> OnEndRequest(std::function<void()> request) override {
        gEnd = std::move(request);
        return std::make_unique<EndHook>();
    }

    // Keyboard navigation (Tab) for the window, while there is one.
    int RunLoop() override {
        if (serving_) serving_();
        return loop_.Run(dialog_);
    }

private:
    struct MainWindow final : Window {
        MainWindow(ovrin::frmMain& f, Win32Run& owner) : run(owner), window(f.View(), pictures) {
            run.dialog_ = window.Handle();
        }
        ~MainWindow() override { run.dialog_ = nullptr; }
        void Close() override { window.Close(); }
        Win32Run& run;
        const win32::Win32Pictures pictures;
        win32::Win32Window window;
    };
    struct EndHook final : Held {
        ~EndHook() override { gEnd = nullptr; }
    };

    win32::MessageLoop& loop_;
    std::function<void()> serving_;
    win32::Win32Dialogs* dialogs_ = nullptr;
    HWND dialog_ = nullptr;
};

// Makes the folder; one named with --config-dir that cannot be made is refused.
std::string MadeFolder(const Options& o, const std::string& folder) {
    std::error_code made, kind;
    std::filesystem::create_directories(std::filesystem::path(win32::Wide(folder)), made);
    if (o.configDir && (made || !std::filesystem::is_directory(std::filesystem::path(win32::Wide(folder)), kind)))
        return "--config-dir " + *o.configDir + ": " + (made ? made.message() : std::string("not a folder"));
    return {};
}

// One run of the server, with its window or none, in the settings folder given;
// `report` tells why it cannot start, `serving` that it runs.
int Serve(const Options& o, const std::string& folder, ovrin::Log& log,
          const std::function<int(const std::string&)>& report, const std::function<void()>& serving) {
    win32::MessageLoop loop;
    win32::Win32Sockets sockets(loop);
    if (o.bindAddress) {
        if (const std::string refused = sockets.SetListenAddress(*o.bindAddress); !refused.empty())
            return report("--bind " + *o.bindAddress + ": " + refused);
    }
    if (const std::string unusable = MadeFolder(o, folder); !unusable.empty()) return report(unusable);
    ovrin::FileHost host(folder, ovrin::version::Major, ovrin::version::Minor, ovrin::version::Revision,
                         [&loop] { loop.Quit(0); });
    win32::Win32CommControl com(loop, log);
    // The receive gap is a few milliseconds: ask for the finest timer Windows gives.
    timeBeginPeriod(1);
    {
        const std::lock_guard<std::mutex> lock(gEndMutex);
        gLoop = &loop;
    }
    Win32Run run(loop, serving);
    const ovrin::RunFacilities facilities{com, sockets, host, log, o.comPort.value_or("")};
    const int status = o.headless ? ovrin::RunHeadless(run, facilities, o) : ovrin::RunWindow(run, facilities, o);
    {
        const std::lock_guard<std::mutex> lock(gEndMutex);
        gLoop = nullptr;
    }
    SetEvent(gEnded);
    timeEndPeriod(1);
    return status;
}

// Under the service manager: no window, no console, the log in the folder's file
// and the event log.
int ServeAsService(const Options& given) {
    return win32::RunAsService(
        [&given](const std::function<void()>& serving) {
            Options o = given;
            o.headless = true;
            const std::string folder = ServiceFolder(o);
            MadeFolder(o, folder);  // for the log; Serve tells why it could not
            win32::ServiceLog log(folder);
            const auto report = [&log](const std::string& why) {
                log.Line(ovrin::LogLevel::Error, "The service cannot start: " + why);
                return ovrin::cli::kBadUsage;
            };
            return Serve(o, folder, log, report, serving);
        },
        RequestEnd);
}

}  // namespace

int main() {
    ConnectStreams();
    const std::vector<std::string> args = Arguments();
    const ovrin::cli::Parsed parsed = ovrin::cli::ParseOptions(args);
    const Options& o = parsed.options;
    if (!parsed.error.empty()) return BadUsage(parsed.error);
    if (o.help) {
        std::fputs((ovrin::cli::Usage("ovrin-server") + kServiceUsage).c_str(), stdout);
        return 0;
    }
    if (o.version) {
        std::printf("%s\n", ovrin::VersionCaption(ovrin::version::Major, ovrin::version::Minor,
                                                  ovrin::version::Revision).c_str());
        return 0;
    }
    if (o.listPorts) {
        win32::MessageLoop loop;
        ovrin::StderrLog quiet;
        const win32::Win32CommControl ports(loop, quiet);
        std::fputs(ovrin::PortListing(ports, SettingsFolder(o)).c_str(), stdout);
        return 0;
    }
    gEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    switch (o.service) {
        case Options::Service::Install: {
            const std::string folder = ServiceFolder(o);
            if (const std::string unusable = MadeFolder(o, folder); !unusable.empty()) return BadUsage(unusable);
            return win32::InstallService(ProgramPath(), ServiceArguments(args), folder);
        }
        case Options::Service::Uninstall: return win32::UninstallService();
        case Options::Service::Run: return ServeAsService(o);
        case Options::Service::None: break;
    }

    // Ctrl+C reaches a program its console started even when that start asked for
    // it to be ignored.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(&ConsoleControl, TRUE);
    ovrin::StderrLog log;
    return Serve(o, SettingsFolder(o), log, BadUsage, {});
}
