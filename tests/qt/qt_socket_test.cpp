// The socket array on loopback, with real client sockets.
#include <QElapsedTimer>
#include <QTcpServer>
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

struct Recorded {
    std::vector<int32_t> requests;             // request ids, in order
    std::vector<std::pair<int16_t, int32_t>> arrivals;
    std::vector<int16_t> closes;
    std::vector<int16_t> stateAtClose;
    std::vector<int16_t> errors;
};

class SocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        sockets_.DataArrival = [this](int16_t i, int32_t n) { seen_.arrivals.emplace_back(i, n); };
        sockets_.CloseEvent = [this](int16_t i) {
            seen_.closes.push_back(i);
            seen_.stateAtClose.push_back(sockets_(i).State());
        };
        sockets_.Error = [this](int16_t i, int16_t, const std::string&) { seen_.errors.push_back(i); };
    }

    // Element 0 listening on a free port; returns the port.
    quint16 StartListening() {
        sockets_(0).SetLocalPort(0);
        sockets_(0).Listen();
        return static_cast<quint16>(sockets_(0).LocalPort());
    }

    // Accepts every request into element `slot`.
    void AcceptInto(int16_t slot) {
        sockets_.ConnectionRequest = [this, slot](int16_t, int32_t id) {
            seen_.requests.push_back(id);
            sockets_.Load(slot);
            sockets_(slot).Accept(id);
        };
    }

    std::unique_ptr<QTcpSocket> Connect(quint16 port) {
        auto client = std::make_unique<QTcpSocket>();
        client->connectToHost(QHostAddress::LocalHost, port);
        EXPECT_TRUE(WaitUntil([&] { return client->state() == QAbstractSocket::ConnectedState; }));
        return client;
    }

    static bool Ended(const QTcpSocket& client) { return client.state() == QAbstractSocket::UnconnectedState; }

    QtSocketArray sockets_;
    Recorded seen_;
};

TEST_F(SocketTest, AcceptsAClientAndCarriesDataBothWays) {
    EXPECT_EQ(sockets_.Count(), 1);
    EXPECT_EQ(sockets_(0).State(), sckClosed);
    EXPECT_LT(sockets_(0).SocketHandle(), 0);
    const quint16 port = StartListening();
    EXPECT_GT(port, 0);
    EXPECT_EQ(sockets_(0).State(), sckListening);
    EXPECT_GT(sockets_(0).SocketHandle(), 0);

    AcceptInto(1);
    auto client = Connect(port);
    ASSERT_TRUE(WaitUntil([&] { return sockets_.Count() == 2; }));
    Winsock& conn = sockets_(1);
    EXPECT_EQ(conn.State(), sckConnected);
    EXPECT_GT(conn.SocketHandle(), 0);
    EXPECT_EQ(conn.RemoteHostIP(), "127.0.0.1");  // a dual-stack listener sees ::ffff:127.0.0.1
    EXPECT_EQ(conn.LocalPort(), port);
    EXPECT_EQ(sockets_.PendingRequests(), 0);

    const std::string command("\xFE\xFE\x00\xE0\xFF\x0D", 6);
    client->write(command.data(), static_cast<qint64>(command.size()));
    ASSERT_TRUE(WaitUntil([&] { return !seen_.arrivals.empty(); }));
    EXPECT_EQ(seen_.arrivals[0].first, 1);
    EXPECT_EQ(seen_.arrivals[0].second, 6);
    EXPECT_EQ(conn.BytesReceived(), 6);
    EXPECT_EQ(conn.GetData(), command);
    EXPECT_EQ(conn.BytesReceived(), 0);

    const std::string answer("\x00\x01\x80\xFF", 4);
    conn.SendData(answer);
    ASSERT_TRUE(WaitUntil([&] { return client->bytesAvailable() >= 4; }));
    EXPECT_EQ(client->readAll().toStdString(), answer);

    client->disconnectFromHost();
    ASSERT_TRUE(WaitUntil([&] { return !seen_.closes.empty(); }));
    EXPECT_EQ(seen_.closes, std::vector<int16_t>{1});
    EXPECT_EQ(seen_.stateAtClose, std::vector<int16_t>{sckClosing});
    EXPECT_GT(conn.SocketHandle(), 0);  // still listed until the handler closes it
    conn.Close();
    EXPECT_EQ(conn.State(), sckClosed);
    EXPECT_LT(conn.SocketHandle(), 0);
    sockets_.Unload(1);
    EXPECT_EQ(sockets_.Count(), 1);
    EXPECT_TRUE(seen_.errors.empty());
}

// A client that sends its last command and leaves at once: the command is read
// before the close is reported.
TEST_F(SocketTest, DataSentJustBeforeTheCloseArrivesFirst) {
    const quint16 port = StartListening();
    AcceptInto(1);
    std::vector<std::string> order;
    sockets_.DataArrival = [&](int16_t i, int32_t) { order.push_back("data:" + sockets_(i).GetData()); };
    sockets_.CloseEvent = [&](int16_t) { order.push_back("close"); };
    auto client = Connect(port);
    ASSERT_TRUE(WaitUntil([&] { return sockets_.Count() == 2; }));
    client->write("TX0;");
    client->disconnectFromHost();
    ASSERT_TRUE(WaitUntil([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<std::string>{"data:TX0;", "close"}));
}

TEST_F(SocketTest, ARequestTheHandlerDoesNotAcceptEndsAtOnce) {
    const quint16 port = StartListening();
    QElapsedTimer sinceRequest;
    sockets_.ConnectionRequest = [&](int16_t index, int32_t id) {
        EXPECT_EQ(index, 0);
        seen_.requests.push_back(id);
        sinceRequest.start();
    };
    auto client = Connect(port);
    ASSERT_TRUE(WaitUntil([&] { return !seen_.requests.empty(); }));
    ASSERT_TRUE(WaitUntil([&] { return Ended(*client); }, 100));
    EXPECT_LT(sinceRequest.elapsed(), 100);
    EXPECT_EQ(sockets_.PendingRequests(), 0);

    sockets_.ConnectionRequest = nullptr;  // nobody listening to requests at all
    auto second = Connect(port);
    EXPECT_TRUE(WaitUntil([&] { return Ended(*second); }, 200));
    EXPECT_EQ(sockets_(0).State(), sckListening);
}

TEST_F(SocketTest, RequestsGetIncreasingIdsAndARefusedOneLeavesTheFirstClient) {
    const quint16 port = StartListening();
    sockets_.ConnectionRequest = [this](int16_t, int32_t id) {
        seen_.requests.push_back(id);
        if (sockets_.Count() == 1) {  // one client at a time
            sockets_.Load(1);
            sockets_(1).Accept(id);
        }
    };
    auto first = Connect(port);
    ASSERT_TRUE(WaitUntil([&] { return seen_.requests.size() == 1; }));
    auto second = Connect(port);
    ASSERT_TRUE(WaitUntil([&] { return seen_.requests.size() == 2; }));
    EXPECT_LT(seen_.requests[0], seen_.requests[1]);
    EXPECT_TRUE(WaitUntil([&] { return Ended(*second); }, 200));

    first->write("still here");
    ASSERT_TRUE(WaitUntil([&] { return sockets_(1).BytesReceived() == 10; }));
    EXPECT_EQ(first->state(), QAbstractSocket::ConnectedState);
}

TEST_F(SocketTest, APortInUseCannotBeListenedOn) {
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::Any, 0));
    sockets_(0).SetLocalPort(other.serverPort());
    try {
        sockets_(0).Listen();
        ADD_FAILURE() << "listened on a port in use";
    } catch (const PlatformError& e) {
        EXPECT_STRNE(e.what(), "");
    }
    EXPECT_EQ(sockets_(0).State(), sckClosed);
    EXPECT_LT(sockets_(0).SocketHandle(), 0);
    EXPECT_EQ(sockets_(0).LocalPort(), other.serverPort());

    other.close();
    sockets_(0).Listen();  // the same element listens once the port is free
    EXPECT_EQ(sockets_(0).State(), sckListening);
    sockets_(0).Close();
    EXPECT_EQ(sockets_(0).State(), sckClosed);
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, other.serverPort());
    EXPECT_TRUE(WaitUntil([&] { return late.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(seen_.requests.empty());
}

TEST_F(SocketTest, ElementAndStateRules) {
    // The slot search and the connection handling rely on these refusals.
    EXPECT_THROW(sockets_(1), PlatformError);
    EXPECT_THROW(sockets_.Unload(0), PlatformError);
    EXPECT_THROW(sockets_.Unload(2), PlatformError);
    sockets_.Load(2);
    EXPECT_THROW(sockets_.Load(2), PlatformError);
    EXPECT_EQ(sockets_.Count(), 2);
    EXPECT_THROW(sockets_(2).SendData("x"), PlatformError);
    EXPECT_THROW(sockets_(2).Accept(12345), PlatformError);  // no such request

    StartListening();
    EXPECT_THROW(sockets_(0).SetLocalPort(50000), PlatformError);
    EXPECT_THROW(sockets_(0).Listen(), PlatformError);
    EXPECT_EQ(sockets_(0).State(), sckListening);

    EXPECT_FALSE(sockets_(0).LocalHostName().empty());
    const std::string ip = sockets_(0).LocalIP();
    EXPECT_EQ(QHostAddress(QString::fromStdString(ip)).protocol(), QAbstractSocket::IPv4Protocol) << ip;
}

// Events already queued for an element must not reach a handler once the element
// was closed, unloaded or loaded anew.
TEST_F(SocketTest, EventsQueuedForAnElementThatChangedAreDropped) {
    const quint16 port = StartListening();
    bool reload = false;
    sockets_.ConnectionRequest = [&](int16_t, int32_t id) {
        seen_.requests.push_back(id);
        Drain(30);  // as a message box would: the client's data and its close come in meanwhile
        sockets_.Load(1);
        sockets_(1).Accept(id);  // queues a data arrival and a close
        sockets_(1).Close();
        sockets_.Unload(1);
        if (reload) sockets_.Load(1);
    };

    for (bool again : {false, true}) {
        reload = again;
        auto client = Connect(port);
        client->write("bye");
        client->disconnectFromHost();
        ASSERT_TRUE(WaitUntil([&] { return seen_.requests.size() == (again ? 2u : 1u); }));
        Drain(30);
        EXPECT_TRUE(seen_.arrivals.empty());
        EXPECT_TRUE(seen_.closes.empty());
    }
    EXPECT_EQ(sockets_(1).State(), sckClosed);
}

TEST_F(SocketTest, SendDataNeverRunsAHandlerInsideTheCall) {
    const quint16 port = StartListening();
    AcceptInto(1);
    auto client = Connect(port);
    ASSERT_TRUE(WaitUntil([&] { return sockets_.Count() == 2; }));

    client->abort();  // the peer is gone without a word
    ASSERT_TRUE(WaitUntil([&] { return !seen_.closes.empty() || !seen_.errors.empty(); }));
    const std::size_t before = seen_.closes.size() + seen_.errors.size();
    try {
        sockets_(1).SendData("late answer");
    } catch (const PlatformError&) {
        // refusing is fine; running a handler inside the call is not
    }
    EXPECT_EQ(seen_.closes.size() + seen_.errors.size(), before);
}

// A client that sends faster than the program reads is held back by TCP, not
// buffered without bound; nothing is lost once reading resumes.
TEST_F(SocketTest, UnreadDataIsBoundedAndArrivesWhole) {
    const quint16 port = StartListening();
    AcceptInto(1);
    auto client = Connect(port);
    ASSERT_TRUE(WaitUntil([&] { return sockets_.Count() == 2; }));

    std::string flood(32 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < flood.size(); ++i) flood[i] = static_cast<char>(i * 7 + i / 251);
    client->write(flood.data(), static_cast<qint64>(flood.size()));
    Drain(200);
    EXPECT_LE(sockets_(1).BytesReceived(), QtSocketArray::kReadBufferBytes);
    EXPECT_GT(client->bytesToWrite(), 0);  // held back by flow control

    std::string got;
    EXPECT_TRUE(WaitUntil(
        [&] {
            got += sockets_(1).GetData();
            return got.size() >= flood.size();
        },
        10000));
    EXPECT_TRUE(got == flood);
}

}  // namespace
}  // namespace ovrin::qt
