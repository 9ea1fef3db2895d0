// Ovrin-Server: reads the command line, wires the Qt platform (the window, or none
// with --headless) to the window model and runs the event loop.
#include <QApplication>
#include <QCoreApplication>
#include <QHostAddress>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "app/Lifecycle.h"
#include "model/frmMain.h"
#include "cli/CommandLine.h"
#include "cli/RunSettings.h"
#include "ovrin/Version.h"
#include "net/Admission.h"
#include "serial/SerialPort.h"
#include "platform/std/FileHost.h"
#include "platform/std/PortNames.h"
#include "platform/std/StderrLog.h"
#include "platform/headless/HeadlessDialogs.h"
#include "platform/headless/ListenRetry.h"
#include "platform/qt/QtCommControl.h"
#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtMainWindow.h"
#include "platform/qt/QtSocketArray.h"
#include "platform/qt/QtTimerBackend.h"
#include "platform/qt/StatusPictures.h"
#include "platform/qt/TerminationRequest.h"

namespace {

using ovrin::cli::Options;

// systemd names the stream it connected to standard error in JOURNAL_STREAM
// ("device:inode"); when it is ours, the journal stamps the lines itself.
bool StderrIsJournal() {
#if defined(Q_OS_UNIX)
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat st {};
    if (!stream || ::fstat(STDERR_FILENO, &st) != 0) return false;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
    return device == static_cast<unsigned long long>(st.st_dev) && inode == static_cast<unsigned long long>(st.st_ino);
#else
    return false;
#endif
}

int BadUsage(const std::string& why) {
    std::fprintf(stderr, "ovrin-server: %s (see --help)\n", why.c_str());
    return ovrin::cli::kBadUsage;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool Writable(const std::string& folder) {
#if defined(Q_OS_UNIX)
    return ::access(folder.c_str(), W_OK) == 0;
#else
    (void)folder;
    return true;
#endif
}

std::string VersionCaption() {
    return ovrin::VersionCaption(ovrin::version::Major, ovrin::version::Minor, ovrin::version::Revision);
}

// An IPv4 address in full (the resolver's short forms would take "192.168.1" for
// 192.168.0.1) or an IPv6 address.
bool ListenAddress(const std::string& text, QHostAddress& address) {
    const QString given = QString::fromLocal8Bit(text);
    if (!address.setAddress(given)) return false;
    return address.protocol() != QAbstractSocket::IPv4Protocol || address.toString() == given;
}

struct Facilities {
    ovrin::FileHost& host;
    ovrin::qt::QtCommControl& com;
    ovrin::qt::QtSocketArray& sockets;
    ovrin::StderrLog& log;
    std::string comPort;  // the COM name this run was given, if any
};

int RunWindow(Facilities p, const Options& o) {
    // The face and size the window was drawn for, for its message boxes too; the
    // window fits its own captions.
    QApplication::setFont(ovrin::qt::QtMainWindow::ApplicationFont());
    ovrin::qt::QtDialogs dialogs;
    ovrin::frmMain f(p.com, p.sockets, dialogs, p.host, p.log);
    ovrin::cli::GiveRunSettings(f, o, p.comPort);
    ovrin::Door<ovrin::qt::QtTimerBackend> door(ovrin::cli::AllowListOf(o), p.log);
    door.Guard(f.Admits);
    ovrin::qt::WindowTimers timers(f.Timers());
    const ovrin::qt::StatusPictures pictures;
    ovrin::qt::QtMainWindow window(f.View(), pictures);
    QApplication::setWindowIcon(pictures.WindowIcon());
    dialogs.SetParent(&window);

    // Asked to end from outside (logout, shutdown, Ctrl+C): close as the user would.
    ovrin::qt::TerminationRequest termination([&window] {
        if (window.isVisible()) window.close();
        else QCoreApplication::exit(0);
    });

    ovrin::WireEvents(f);
    ovrin::Form_Load(f);  // shows the window through f.Form.Show()
    const int status = QCoreApplication::exec();
    ovrin::ReleasePort(p.com);
    return status;
}

// The same model and handlers with no view: the boxes are log lines, and Listen is
// selected again while the server is Off-line, since nobody else can.
int RunHeadless(Facilities p, const Options& o) {
    ovrin::RepeatFilterLog log(p.log);
    ovrin::headless::HeadlessDialogs dialogs(log);
    ovrin::frmMain f(p.com, p.sockets, dialogs, p.host, log);
    ovrin::cli::GiveRunSettings(f, o, p.comPort);
    ovrin::Door<ovrin::qt::QtTimerBackend> door(ovrin::cli::AllowListOf(o), p.log);
    door.Guard(f.Admits);
    // Nobody sees the status picture: its animation would only wake the process.
    f.tmrPicture.Stop();
    ovrin::qt::WindowTimers timers(f.Timers());
    ovrin::ListenRetry retry(f, log);
    ovrin::qt::QtTimerBackend retryBackend(retry.RetryTimer());
    retry.RetryTimer().Bind(&retryBackend);

    // SIGTERM, SIGINT, SIGHUP: end as closing the window would (settings saved).
    ovrin::qt::TerminationRequest termination([&f, &p] {
        p.log.Line(ovrin::LogLevel::Info, "Asked to end: saving the settings, closing the connections");
        if (f.Form.Unload) f.Form.Unload();
    });

    p.log.Line(ovrin::LogLevel::Info, VersionCaption() + " without a window; settings folder " +
                                          p.host.ProgramFolder() +
                                          (o.bindAddress ? "; listening address " + *o.bindAddress : ""));
    ovrin::WireEvents(f);
    ovrin::Form_Load(f);
    retry.Check();
    const int status = QCoreApplication::exec();
    retry.RetryTimer().Bind(nullptr);
    ovrin::ReleasePort(p.com);
    p.log.Line(ovrin::LogLevel::Info, "Ended");
    return status;
}

}  // namespace

int main(int argc, char* argv[]) {
    const ovrin::cli::Parsed parsed = ovrin::cli::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
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
    QHostAddress bind(QHostAddress::Any);
    if (o.bindAddress && !ListenAddress(*o.bindAddress, bind))
        return BadUsage("--bind " + *o.bindAddress + ": not an IP address");

    // A plain core application needs no display; the window's needs one.
    const std::unique_ptr<QCoreApplication> app =
        o.headless ? std::make_unique<QCoreApplication>(argc, argv) : std::make_unique<QApplication>(argc, argv);

    const std::string programFolder = QCoreApplication::applicationDirPath().toLocal8Bit().toStdString();
    const std::string folder = ovrin::cli::SettingsFolder(o, programFolder, Writable(programFolder),
                                                          Environment("XDG_CONFIG_HOME"), Environment("HOME"));
    std::error_code made, kind;
    std::filesystem::create_directories(folder, made);
    // A folder that cannot be made is the caller's mistake when named; otherwise the
    // settings load and save report it as for any folder that cannot be written.
    if (o.configDir && (made || !std::filesystem::is_directory(folder, kind)))
        return BadUsage("--config-dir " + *o.configDir + ": " +
                        (made ? made.message() : std::string("not a folder")));

    ovrin::FileHost host(folder, ovrin::version::Major, ovrin::version::Minor, ovrin::version::Revision,
                         [] { QCoreApplication::exit(0); });
    ovrin::qt::QtCommControl com(folder);
    ovrin::qt::QtSocketArray sockets;
    if (o.bindAddress) {
        if (const std::string refused = sockets.SetListenAddress(bind); !refused.empty())
            return BadUsage("--bind " + *o.bindAddress + ": " + refused);
    }
    ovrin::StderrLog log(StderrIsJournal());
    std::string comPort = o.comPort.value_or("");
    if (o.comDevice) {
        const ovrin::LinkedPort linked = ovrin::LinkPortToDevice(*o.comDevice, folder);
        if (!linked.port) return BadUsage("--com " + linked.error);
        comPort = "COM" + std::to_string(linked.port);
        log.Line(ovrin::LogLevel::Info, "--com " + *o.comDevice + ": " + comPort + ", through " +
                                            ovrin::PortLink(linked.port, folder) +
                                            (linked.made ? " (made now)" : " (already there)"));
    }
    const Facilities facilities{host, com, sockets, log, comPort};
    return o.headless ? RunHeadless(facilities, o) : RunWindow(facilities, o);
}
