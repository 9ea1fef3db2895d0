// Ovrin-Server on Windows: reads the command line, makes the Win32 platform's
// facilities and runs the program (platform/shared/Run.h) with the window, or none
// with --headless.
// One program, built for the GUI subsystem: started from a console, it writes its
// messages (--help, --version, the --headless log) there.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>
#include <timeapi.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Lifecycle.h"
#include "cli/CommandLine.h"
#include "ovrin/Version.h"
#include "platform/shared/Run.h"
#include "platform/std/FileHost.h"
#include "platform/std/StderrLog.h"
#include "platform/win32/MessageLoop.h"
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

std::string ProgramFolder() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return win32::Utf8(std::filesystem::path(path).parent_path().wstring());
}

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

// Ctrl+C, Ctrl+Break, the console closed, logoff, shutdown: end as closing the
// window would, on the loop's thread, and give it a moment before Windows ends us.
win32::MessageLoop* gLoop = nullptr;
std::function<void()> gEnd;
HANDLE gEnded = nullptr;

BOOL WINAPI ConsoleControl(DWORD) {
    if (!gLoop) return FALSE;
    gLoop->Post([] {
        if (gEnd) gEnd();
    });
    WaitForSingleObject(gEnded, 4000);
    return TRUE;
}

// What the Win32 platform makes for a run: timers on the message loop, the window
// with its pictures and message boxes, and the console's and the session's end.
class Win32Run final : public ovrin::RunPlatform {
public:
    explicit Win32Run(win32::MessageLoop& loop) : loop_(loop) {}

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
        if (dialogs_) dialogs_->SetOwner(window->window.Handle());
        return window;
    }

    std::unique_ptr<Held> OnEndRequest(std::function<void()> request) override {
        gEnd = std::move(request);
        return std::make_unique<EndHook>();
    }

    // Keyboard navigation (Tab) for the window, while there is one.
    int RunLoop() override { return loop_.Run(dialog_); }

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
    win32::Win32Dialogs* dialogs_ = nullptr;
    HWND dialog_ = nullptr;
};

}  // namespace

int main() {
    ConnectStreams();
    const ovrin::cli::Parsed parsed = ovrin::cli::ParseOptions(Arguments());
    const Options& o = parsed.options;
    if (!parsed.error.empty()) return BadUsage(parsed.error);
    if (o.help) {
        std::fputs(ovrin::cli::Usage("ovrin-server").c_str(), stdout);
        return 0;
    }
    if (o.version) {
        std::printf("%s\n", ovrin::VersionCaption(ovrin::version::Major, ovrin::version::Minor,
                                                  ovrin::version::Revision).c_str());
        return 0;
    }

    win32::MessageLoop loop;
    win32::Win32Sockets sockets(loop);
    if (o.bindAddress) {
        if (const std::string refused = sockets.SetListenAddress(*o.bindAddress); !refused.empty())
            return BadUsage("--bind " + *o.bindAddress + ": " + refused);
    }

    const std::string folder = SettingsFolder(o);
    if (o.listPorts) {
        ovrin::StderrLog quiet;
        const win32::Win32CommControl ports(loop, quiet);
        std::fputs(ovrin::PortListing(ports, folder).c_str(), stdout);
        return 0;
    }
    std::error_code made, kind;
    std::filesystem::create_directories(std::filesystem::path(win32::Wide(folder)), made);
    if (o.configDir && (made || !std::filesystem::is_directory(std::filesystem::path(win32::Wide(folder)), kind)))
        return BadUsage("--config-dir " + *o.configDir + ": " + (made ? made.message() : std::string("not a folder")));

    ovrin::FileHost host(folder, ovrin::version::Major, ovrin::version::Minor, ovrin::version::Revision,
                         [&loop] { loop.Quit(0); });
    ovrin::StderrLog log;
    win32::Win32CommControl com(loop, log);
    // The receive gap is a few milliseconds: ask for the finest timer Windows gives.
    timeBeginPeriod(1);
    gLoop = &loop;
    gEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(&ConsoleControl, TRUE);
    Win32Run run(loop);
    const ovrin::RunFacilities facilities{com, sockets, host, log, o.comPort.value_or("")};
    const int status = o.headless ? ovrin::RunHeadless(run, facilities, o) : ovrin::RunWindow(run, facilities, o);
    gLoop = nullptr;
    SetEvent(gEnded);
    timeEndPeriod(1);
    return status;
}
