// The system's handlers on the real Qt facilities: a listening server, real
// clients on loopback, a pseudo-terminal for the radio.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <filesystem>
#include <memory>

#include "QtTestSupport.h"
#include "app/Lifecycle.h"
#include "platform/FileHost.h"
#include "platform/qt/QtCommControl.h"
#include "platform/qt/QtSocketArray.h"
#include "platform/qt/QtTimerBackend.h"

namespace ovrin::qt {
namespace {

using test::WaitUntil;

struct RecordedDialogs : Dialogs {
    MsgResult MsgBox(const std::string&, MsgButtons buttons, MsgIcon, const std::string& title) override {
        titles.push_back(title);
        return buttons == MsgButtons::OK ? MsgResult::OK : MsgResult::No;
    }
    std::vector<std::string> titles;
};

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

struct QtSystem : ::testing::Test {
    QTemporaryDir dir;
    std::string folder = dir.path().toStdString();
    int radio = -1, slave = -1;
    FileHost host{folder, 1, 10, 1, [] {}};
    QtCommControl com{folder};
    QtSocketArray sockets;
    RecordedDialogs dialogs;
    StderrLog log;
    frmMain f{com, sockets, dialogs, host, log};
    WindowTimers timers{f};
    quint16 port = FreePort();

    void SetUp() override {
        char name[128];
        ASSERT_EQ(openpty(&radio, &slave, name, nullptr, nullptr), 0);
        fcntl(radio, F_SETFL, O_NONBLOCK);
        std::filesystem::create_directories(folder + "/dosdevices");
        std::filesystem::create_symlink(name, folder + "/dosdevices/com1");
        WireEvents(f);
        f.txtHostPort.SetText(std::to_string(port));
        f.cboConn.SetListIndex(1);
    }
    void TearDown() override {
        close(radio);
        close(slave);
    }
    std::string Status() const { return f.cboConn.Text(); }
    std::string RadioReads(std::size_t n) {
        std::string got;
        WaitUntil([&] {
            char buf[256];
            const ssize_t r = read(radio, buf, sizeof buf);
            if (r > 0) got.append(buf, static_cast<std::size_t>(r));
            return got.size() >= n;
        });
        return got;
    }
};

TEST_F(QtSystem, ClientsComeAndGoAndTheBridgeCarriesTheirBytes) {
    ASSERT_EQ(sockets(0).State(), sckListening);
    const int32_t listener = sockets(0).SocketHandle();

    QTcpSocket first;
    first.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(WaitUntil([&] { return Status() == "ON-LINE"; }));
    EXPECT_EQ(f.cboRmtAddress.Text(), "127.0.0.1");

    first.write("FA;");
    EXPECT_EQ(RadioReads(3), "FA;");
    ASSERT_EQ(write(radio, "FA00014074000;", 14), 14);
    ASSERT_TRUE(WaitUntil([&] { return first.bytesAvailable() >= 14; }));
    EXPECT_EQ(first.readAll(), QByteArray("FA00014074000;"));

    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(WaitUntil([&] { return second.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(f.cboRmtAddress.ListCount(), 1);

    first.disconnectFromHost();
    ASSERT_TRUE(WaitUntil([&] { return Status() == "Listen"; }));
    EXPECT_FALSE(f.tmrRx.Enabled());

    QTcpSocket third;
    third.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(WaitUntil([&] { return Status() == "ON-LINE"; }));
    EXPECT_EQ(sockets(1).RemoteHostIP(), "127.0.0.1");
    EXPECT_EQ(sockets(0).SocketHandle(), listener);  // no new port test
    EXPECT_TRUE(dialogs.titles.empty());
}

// Unattended: a client reconnecting at once is served, and one that stays is
// served again when its radio's device comes back under the same link.
TEST_F(QtSystem, ReconnectsAndARadioThatComesBackNeedNoHand) {
    int refused = 0;
    auto client = std::make_unique<QTcpSocket>();
    for (int i = 0; i < 20; ++i) {
        auto next = std::make_unique<QTcpSocket>();
        client->disconnectFromHost();  // and at once a new connection: its close is not handled yet
        next->connectToHost(QHostAddress::LocalHost, port);
        ASSERT_TRUE(next->waitForConnected(1000));
        client = std::move(next);
        client->write("ID;");
        if (RadioReads(3) != "ID;") ++refused;
    }
    EXPECT_EQ(refused, 0);

    close(radio);  // the radio is switched off: its device goes
    close(slave);
    ASSERT_TRUE(WaitUntil([&] { return f.PortLost; }));
    std::filesystem::remove(folder + "/dosdevices/com1");
    char name[128];
    ASSERT_EQ(openpty(&radio, &slave, name, nullptr, nullptr), 0);
    fcntl(radio, F_SETFL, O_NONBLOCK);
    std::filesystem::create_symlink(name, folder + "/dosdevices/com1");
    ASSERT_TRUE(WaitUntil([&] { return !f.PortLost; }, 3000));
    client->write("FA;");
    EXPECT_EQ(RadioReads(3), "FA;");
    EXPECT_EQ(Status(), "ON-LINE");
}

TEST_F(QtSystem, PortInUseEndsOffLineWithTheMessage) {
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::Any, FreePort()));
    f.cboConn.SetListIndex(0);
    f.txtHostPort.SetText(std::to_string(other.serverPort()));
    f.cboConn.SetListIndex(1);
    EXPECT_EQ(dialogs.titles, std::vector<std::string>{"Host Port Active"});
    EXPECT_EQ(Status(), "Off-line");
    EXPECT_EQ(sockets(0).State(), sckClosed);
    EXPECT_TRUE(f.txtHostPort.Enabled());
}

}  // namespace
}  // namespace ovrin::qt
