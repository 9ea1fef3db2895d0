// Ovrin-Server: wires the Qt platform to the window model and runs the event loop.
#include <QApplication>

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

    ovrin::frmMain f(com, sockets, dialogs, host);
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
