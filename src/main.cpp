// Ovrin-Server: reads the command line, makes the Qt platform's facilities and
// runs the program (run/Run.h) with the window, or none with --headless.
#include <QApplication>
#include <QCoreApplication>
#include <QHostAddress>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "app/Lifecycle.h"
#include "cli/CommandLine.h"
#include "ovrin/Version.h"
#include "run/Run.h"
#include "platform/std/FileHost.h"
#include "platform/std/PortNames.h"
#include "platform/std/StderrLog.h"
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

// An IPv4 address in full (the resolver's short forms would take "192.168.1" for
// 192.168.0.1) or an IPv6 address.
bool ListenAddress(const std::string& text, QHostAddress& address) {
    const QString given = QString::fromLocal8Bit(text);
    if (!address.setAddress(given)) return false;
    return address.protocol() != QAbstractSocket::IPv4Protocol || address.toString() == given;
}

// What the Qt platform makes for a run: timers on QTimer, the window with its
// pictures and message boxes, termination signals handled on the event loop.
class QtRun final : public ovrin::RunPlatform {
public:
    std::unique_ptr<ovrin::TimerBackend> Backend(ovrin::Timer& model) override {
        return std::make_unique<ovrin::qt::QtTimerBackend>(model);
    }

    std::unique_ptr<ovrin::Dialogs> WindowDialogs() override {
        // The face and size the window was drawn for, for its message boxes too; the
        // window fits its own captions.
        QApplication::setFont(ovrin::qt::QtMainWindow::ApplicationFont());
        auto dialogs = std::make_unique<ovrin::qt::QtDialogs>();
        dialogs_ = dialogs.get();
        return dialogs;
    }

    std::unique_ptr<Window> MakeWindow(ovrin::frmMain& f) override {
        auto window = std::make_unique<QtWindow>(f);
        QApplication::setWindowIcon(window->pictures.WindowIcon());
        if (dialogs_) dialogs_->SetParent(&window->window);
        return window;
    }

    std::unique_ptr<Held> OnEndRequest(std::function<void()> request) override {
        return std::make_unique<EndHook>(std::move(request));
    }

    int RunLoop() override { return QCoreApplication::exec(); }

private:
    struct QtWindow final : Window {
        explicit QtWindow(ovrin::frmMain& f) : window(f.View(), pictures) {}
        void Close() override {
            if (window.isVisible()) window.close();
            else QCoreApplication::exit(0);
        }
        const ovrin::qt::StatusPictures pictures;
        ovrin::qt::QtMainWindow window;
    };
    // SIGTERM, SIGINT, SIGHUP.
    struct EndHook final : Held {
        explicit EndHook(std::function<void()> request) : termination(std::move(request)) {}
        ovrin::qt::TerminationRequest termination;
    };

    ovrin::qt::QtDialogs* dialogs_ = nullptr;
};

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
        std::printf("%s\n", ovrin::VersionCaption(ovrin::version::Major, ovrin::version::Minor,
                                                  ovrin::version::Revision).c_str());
        return 0;
    }
    if (o.service != Options::Service::None)
        return BadUsage("--install-service, --uninstall-service and --service are for the Windows program; on Linux "
                        "the systemd unit ovrin-server.service runs it as a service (docs/install.md)");
    QHostAddress bind(QHostAddress::Any);
    if (o.bindAddress && !ListenAddress(*o.bindAddress, bind))
        return BadUsage("--bind " + *o.bindAddress + ": not an IP address");

    // A plain core application needs no display; the window's needs one.
    const std::unique_ptr<QCoreApplication> app = o.headless || o.listPorts
                                                      ? std::make_unique<QCoreApplication>(argc, argv)
                                                      : std::make_unique<QApplication>(argc, argv);

    const std::string programFolder = QCoreApplication::applicationDirPath().toLocal8Bit().toStdString();
    const std::string folder = ovrin::cli::SettingsFolder(o, programFolder, Writable(programFolder),
                                                          Environment("XDG_CONFIG_HOME"), Environment("HOME"));
    if (o.listPorts) {  // the settings folder's links are read, nothing is made
        const ovrin::qt::QtCommControl ports(folder);
        std::fputs(ovrin::PortListing(ports, folder).c_str(), stdout);
        return 0;
    }
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
    QtRun run;
    const ovrin::RunFacilities facilities{com, sockets, host, log, comPort};
    return o.headless ? ovrin::RunHeadless(run, facilities, o) : ovrin::RunWindow(run, facilities, o);
}
