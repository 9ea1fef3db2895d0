// The socket array on loopback, with real client sockets.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QTcpSocket>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include "QtTestSupport.h"
#include "platform/qt/QtSocketArray.h"

namespace ovrin::qt {
namespace {

using test::Drain;
using test::WaitUntil;
using Events = std::vector<std::string>;

class SocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        sockets_.DataArrival = [this](int16_t i, int32_t n) { Record("data " + Str(i) + " " + Str(n)); };
        sockets_.CloseEvent = [this](int16_t i) { Record("close " + Str(i)); };
        sockets_.Error = [this](int16_t i, int16_t n, const std::string&) { Record("error " + Str(i) + " " + Str(n)); };
        sockets_.ConnectionRequest = [this](int16_t, int32_t id) {
            if (sockets_.Count() > 1) return;  // one client at a time
            sockets_.Load(1);
            sockets_(1).Accept(id);
        };
        sockets_(0).SetLocalPort(0);
        sockets_(0).Listen();
        port_ = static_cast<quint16>(sockets_(0).LocalPort());
    }
    void Record(const std::string& event) { events_.push_back(event); }
    static std::string Str(int n) { return std::to_string(n); }
    std::unique_ptr<QTcpSocket> Connect(bool accepted = true) {
        auto client = std::make_unique<QTcpSocket>();
        client->connectToHost(QHostAddress::LocalHost, port_);
        EXPECT_TRUE(WaitUntil([&] { return client->state() == QAbstractSocket::ConnectedState; }));
        EXPECT_TRUE(!accepted || WaitUntil([&] { return sockets_.Count() == 2; }));
        return client;
    }

    QtSocketArray sockets_;
    quint16 port_ = 0;
    int requests_ = 0;
    Events events_;
};

// Data come as one arrival event with their count and go back unchanged; a last
// command sent just before leaving is read before the close is reported; the slot
// stays taken until the handler closes it.
TEST_F(SocketTest, AcceptsAClientCarriesItsDataAndReportsItsCloseAfterThem) {
    EXPECT_THROW(sockets_(1), PlatformError);  // the free-slot search relies on it
    auto client = Connect();
    SocketElement& conn = sockets_(1);
    EXPECT_EQ(conn.RemoteHostIP(), "127.0.0.1");  // a dual-stack listener sees ::ffff:127.0.0.1
    client->write("FA;");
    ASSERT_TRUE(WaitUntil([&] { return events_ == Events{"data 1 3"}; }));
    conn.SendData(conn.GetData());
    ASSERT_TRUE(WaitUntil([&] { return client->bytesAvailable() >= 3; }) && client->readAll() == QByteArray("FA;"));
    events_.clear();
    sockets_.DataArrival = [&](int16_t i, int32_t) { Record(sockets_(i).GetData()); };
    client->write("TX0;");
    client->disconnectFromHost();
    ASSERT_TRUE(WaitUntil([&] { return events_ == Events{"TX0;", "close 1"}; }));
    EXPECT_GT(conn.SocketHandle(), 0);
    conn.Close();
    EXPECT_LT(conn.SocketHandle(), 0);
}

// A peer that closed is known before its close event is handled; a quiet one is
// left alone; one that vanishes without closing is found by keepalive in 120 s.
TEST_F(SocketTest, AGonePeerIsToldAtOnce) {
    auto client = Connect();
    const int fd = sockets_(1).SocketHandle();
    auto option = [fd](int level, int name) {
        int value = 0;
        socklen_t size = sizeof value;
        ::getsockopt(fd, level, name, &value, &size);
        return value;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE) + option(IPPROTO_TCP, TCP_KEEPINTVL) * option(IPPROTO_TCP, TCP_KEEPCNT),
              120);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 120000);
    EXPECT_FALSE(sockets_(1).PeerGone());
    client->write("ID;");
    client->disconnectFromHost();
    client->waitForDisconnected(1000);
    bool gone = false;  // told without the event loop, which has not seen the close
    for (int i = 0; i < 1000 && !gone; ++i, ::usleep(1000)) gone = sockets_(1).PeerGone();
    EXPECT_TRUE(gone && events_.empty());
    EXPECT_EQ(sockets_(1).GetData(), "ID;");  // what it sent is there to be read
}

// Events are queued, never raised inside a call into the facility; those already
// queued for an element that was closed, unloaded or loaded anew are dropped.
TEST_F(SocketTest, EventsAreQueuedAndThoseOfAChangedElementDropped) {
    bool reload = false;
    sockets_.ConnectionRequest = [&](int16_t, int32_t id) {
        ++requests_;
        Drain(30);  // as a message box would: the client's data and its close come in meanwhile
        sockets_.Load(1);
        sockets_(1).Accept(id);  // queues a data arrival and a close
        EXPECT_TRUE(events_.empty()) << "a handler ran inside Accept";
        sockets_(1).Close();
        sockets_.Unload(1);
        if (reload) sockets_.Load(1);
    };
    for (const bool again : {false, true}) {
        reload = again;
        auto client = Connect(false);
        client->write("bye");
        client->disconnectFromHost();
        ASSERT_TRUE(WaitUntil([&] { return requests_ == (again ? 2 : 1); }));
        Drain(30);
        EXPECT_EQ(events_, Events{});
    }
}

// A client that sends faster than the program reads is held back by TCP, not
// buffered without bound; nothing is lost once reading resumes.
TEST_F(SocketTest, UnreadDataIsBoundedAndArrivesWhole) {
    auto client = Connect();
    std::string flood(32 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < flood.size(); ++i) flood[i] = static_cast<char>(i * 7 + i / 251);
    client->write(flood.data(), static_cast<qint64>(flood.size()));
    Drain(200);
    EXPECT_LE(sockets_(1).BytesReceived(), QtSocketArray::kReadBufferBytes);
    EXPECT_GT(client->bytesToWrite(), 0);
    std::string got;
    EXPECT_TRUE(WaitUntil([&] { return (got += sockets_(1).GetData()).size() >= flood.size(); }, 10000));
    EXPECT_TRUE(got == flood);
}

}  // namespace
}  // namespace ovrin::qt
