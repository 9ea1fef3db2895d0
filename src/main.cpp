// Ovrin-Server: wires the Qt platform to the window model and runs the event loop.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "app/Lifecycle.h"
#include "app/frmMain.h"
#include "ovrin/Version.h"
#include "platform/FileHost.h"
#include "platform/qt/QtCommControl.h"
#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtMainWindow.h"
#include "platform/qt/QtSocketArray.h"
#include "platform/qt/QtTimerBackend.h"
#include "platform/qt/StatusPictures.h"
#include "platform/qt/TerminationRequest.h"

namespace {

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

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The window's layout was drawn for an 8-point font; larger captions would
    // not fit their 13-pixel labels.
    QApplication::setFont(ovrin::qt::QtMainWindow::ApplicationFont());

    const std::string folder = QApplication::applicationDirPath().toLocal8Bit().toStdString();
    ovrin::FileHost host(folder, ovrin::version::Major, ovrin::version::Minor, ovrin::version::Revision,
                         [] { QCoreApplication::exit(0); });
    ovrin::qt::QtCommControl com(folder);
    ovrin::qt::QtSocketArray sockets;
    ovrin::qt::QtDialogs dialogs;

    ovrin::StderrLog log(StderrIsJournal());
    ovrin::frmMain f(com, sockets, dialogs, host, log);
    ovrin::qt::WindowTimers timers(f);
    const ovrin::qt::StatusPictures pictures;
    ovrin::qt::QtMainWindow window(f, pictures);
    QApplication::setWindowIcon(pictures.WindowIcon());
    dialogs.SetParent(&window);

    // Asked to end from outside (logout, shutdown, Ctrl+C): close as the user would.
    ovrin::qt::TerminationRequest termination([&window] {
        if (window.isVisible()) window.close();
        else QCoreApplication::exit(0);
    });

    ovrin::WireEvents(f);
    ovrin::Form_Load(f);  // shows the window through f.Form.Show()
    return app.exec();
}
