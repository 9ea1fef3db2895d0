// Ovrin-Server on Windows: reads the command line, wires the Win32 platform (the
// window, or none with --headless) to the window model and runs the message loop.
// One program, built for the GUI subsystem: started from a console, it writes its
// messages (--help, --version, the --headless log) there.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>
#include <timeapi.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Lifecycle.h"
#include "platform/headless/ListenRetry.h"
#include "model/frmMain.h"
#include "cli/CommandLine.h"
#include "cli/RunSettings.h"
#include "net/Admission.h"
#include "serial/SerialPort.h"
#include "ovrin/Version.h"
#include "platform/headless/HeadlessDialogs.h"
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

std::string VersionCaption() {
    return ovrin::VersionCaption(ovrin::version::Major, ovrin::version::Minor, ovrin::version::Revision);
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

struct Facilities {
    win32::MessageLoop& loop;
    ovrin::FileHost& host;
    win32::Win32CommControl& com;
    win32::Win32Sockets& sockets;
    ovrin::StderrLog& log;
};

int RunWindow(Facilities p, const Options& o) {
    win32::Win32Dialogs dialogs;
    ovrin::frmMain f(p.com, p.sockets, dialogs, p.host, p.log);
    ovrin::cli::GiveRunSettings(f, o, o.comPort.value_or(""));
    ovrin::Door<win32::Win32TimerBackend> door(ovrin::cli::AllowListOf(o), p.log, p.loop);
    door.Guard(f.Admits);
    win32::WindowTimers timers(p.loop, f.Timers());
    const win32::Win32Pictures pictures;
    win32::Win32Window window(f.View(), pictures);
    dialogs.SetOwner(window.Handle());
    gEnd = [&window] { window.Close(); };

    ovrin::WireEvents(f);
    ovrin::Form_Load(f);  // shows the window through f.Form.Show()
    const int status = p.loop.Run(window.Handle());
    gEnd = nullptr;
    ovrin::ReleasePort(p.com);
    return status;
}

// The same model and handlers with no view: the boxes are log lines, and Listen is
// selected again while the server is Off-line, since nobody else can.
int RunHeadless(Facilities p, const Options& o) {
    ovrin::RepeatFilterLog log(p.log);
    ovrin::headless::HeadlessDialogs dialogs(log);
    ovrin::frmMain f(p.com, p.sockets, dialogs, p.host, log);
    ovrin::cli::GiveRunSettings(f, o, o.comPort.value_or(""));
    ovrin::Door<win32::Win32TimerBackend> door(ovrin::cli::AllowListOf(o), p.log, p.loop);
    door.Guard(f.Admits);
    // Nobody sees the status picture: its animation would only wake the process.
    f.tmrPicture.Stop();
    win32::WindowTimers timers(p.loop, f.Timers());
    ovrin::ListenRetry retry(f, log);
    win32::Win32TimerBackend retryBackend(p.loop, retry.RetryTimer());
    retry.RetryTimer().Bind(&retryBackend);
    gEnd = [&f, &p] {
        p.log.Line(ovrin::LogLevel::Info, "Asked to end: saving the settings, closing the connections");
        if (f.Form.Unload) f.Form.Unload();
    };

    p.log.Line(ovrin::LogLevel::Info, VersionCaption() + " without a window; settings folder " +
                                          p.host.ProgramFolder() +
                                          (o.bindAddress ? "; listening address " + *o.bindAddress : ""));
    ovrin::WireEvents(f);
    ovrin::Form_Load(f);
    retry.Check();
    const int status = p.loop.Run();
    gEnd = nullptr;
    retry.RetryTimer().Bind(nullptr);
    ovrin::ReleasePort(p.com);
    p.log.Line(ovrin::LogLevel::Info, "Ended");
    return status;
}

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
        std::printf("%s\n", VersionCaption().c_str());
        return 0;
    }

    if (o.comDevice) return BadUsage("--com " + *o.comDevice + ": give the port's COM name (COM1 to COM16)");
    win32::MessageLoop loop;
    win32::Win32Sockets sockets(loop);
    if (o.bindAddress) {
        if (const std::string refused = sockets.SetListenAddress(*o.bindAddress); !refused.empty())
            return BadUsage("--bind " + *o.bindAddress + ": " + refused);
    }

    const std::string folder = SettingsFolder(o);
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
    const Facilities facilities{loop, host, com, sockets, log};
    const int status = o.headless ? RunHeadless(facilities, o) : RunWindow(facilities, o);
    gLoop = nullptr;
    SetEvent(gEnded);
    timeEndPeriod(1);
    return status;
}
