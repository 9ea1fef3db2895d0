#include "platform/qt/QtSocketArray.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTimer>
#include <limits>

#if defined(Q_OS_LINUX)
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <unistd.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

#include "platform/qt/QtText.h"
#include "platform/qt/Shield.h"

namespace ovrin::qt {
namespace {

// The error numbers the handlers were written against (Windows Sockets codes).
int16_t ErrorNumber(QAbstractSocket::SocketError error) {
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError: return 10061;
        case QAbstractSocket::RemoteHostClosedError: return 10054;
        case QAbstractSocket::HostNotFoundError: return 11001;
        case QAbstractSocket::SocketAccessError: return 10013;
        case QAbstractSocket::SocketResourceError: return 10055;
        case QAbstractSocket::SocketTimeoutError: return 10060;
        case QAbstractSocket::DatagramTooLargeError: return 10040;
        case QAbstractSocket::NetworkError: return 10050;
        case QAbstractSocket::AddressInUseError: return 10048;
        case QAbstractSocket::SocketAddressNotAvailableError: return 10049;
        case QAbstractSocket::UnsupportedSocketOperationError: return 10045;
        default: return 10000;
    }
}

std::string DottedAddress(const QHostAddress& address) {
    bool isIPv4 = false;
    const quint32 v4 = address.toIPv4Address(&isIPv4);  // also unwraps ::ffff:a.b.c.d
    return FromQ(isIPv4 ? QHostAddress(v4).toString() : address.toString());
}

// Keepalive probes find a peer that vanished without closing; TCP_USER_TIMEOUT
// does the same while data wait unacknowledged, when probes are not sent.
void KeepAlive(QTcpSocket* socket, bool fast = false) {
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#if defined(Q_OS_LINUX)
    const int fd = static_cast<int>(socket->socketDescriptor());
    // Fast: found within 15 s of the network going. Both clocks start at the last
    // segment heard, and a client that was talking until it vanished is heard at
    // that moment, so 12 s (4 s idle, then 4 probes 2 s apart; the same bound on
    // unacknowledged data) leaves room for timer slack and the event's delivery.
    const int idle = fast ? 4 : QtSocketArray::kKeepAliveIdleS, interval = fast ? 2 : QtSocketArray::kKeepAliveIntervalS,
              probes = fast ? 4 : QtSocketArray::kKeepAliveProbes;
    const unsigned int userTimeoutMs = static_cast<unsigned int>(idle + interval * probes) * 1000u;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
#endif
}

int32_t ToInt32(qint64 n) {
    return n > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                   : static_cast<int32_t>(n);
}

}  // namespace

// One element: closed, listening (a QTcpServer) or connected (a QTcpSocket).
class QtSocketArray::Element final : public QObject, public SocketElementCore {
public:
    Element(QtSocketArray& owner, int16_t index) : SocketElementCore(owner, index), owner_(owner) {}
    ~Element() override { Release(false); }

    void Listen() override {
        RequireClosed();
        auto server = std::make_unique<QTcpServer>();
        if (!server->listen(owner_.listenAddress_, static_cast<quint16>(LocalPort()))) {
            const bool everyAddress = owner_.listenAddress_ == QHostAddress::Any;
            ListenFailed(everyAddress ? std::string() : FromQ(owner_.listenAddress_.toString()),
                         FromQ(server->errorString()), server->serverError() == QAbstractSocket::AddressInUseError);
        }
        server_ = std::move(server);
        // What the handlers have not answered yet waits in the system's queue.
        server_->setMaxPendingConnections(static_cast<int>(QtSocketArray::kMaxRequests));
        Listening(static_cast<int32_t>(server_->socketDescriptor()), server_->serverPort());
        connect(server_.get(), &QTcpServer::newConnection, this, [this] { TakeConnections(); });
        connect(server_.get(), &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) { AcceptFailed(); });
    }

    void TakeConnections() {
        while (server_ && !owner_.RequestsFull() && server_->hasPendingConnections())
            owner_.AddPending(Index(), Generation(), server_->nextPendingConnection());
    }

    void Accept(int32_t requestID) override {
        RequireClosed();
        QTcpSocket* socket = owner_.TakeRequest(requestID);
        socket_ = socket;
        Connected(static_cast<int32_t>(socket->socketDescriptor()), socket->localPort(),
                  DottedAddress(socket->peerAddress()));
        // Commands are a few bytes; send them at once rather than batching.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        KeepAlive(socket);
        // channelReadyRead, unlike readyRead, is also reported while a handler that
        // began with this socket's arrival waits (a message box's loop): data sent
        // meanwhile are not left unannounced in the socket.
        connect(socket, &QTcpSocket::channelReadyRead, this, [this] { Arrived(); });
        connect(socket, &QTcpSocket::readChannelFinished, this, [this] { PeerClosed(); });
        connect(socket, &QTcpSocket::disconnected, this, [this] { PeerClosed(); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
            if (error == QAbstractSocket::RemoteHostClosedError) PeerClosed();
            else Failed(error, socket_ ? socket_->errorString() : QString());
        });
        // What came, or went, while the request waited for its answer.
        if (socket->bytesAvailable() > 0) QueueArrival();
        if (socket->state() != QAbstractSocket::ConnectedState) PeerClosed();
    }

    void SetFastDeadPeerCheck(bool on) override {
        if (socket_) KeepAlive(socket_, on);
    }

    void Close() override {
        Release(true);
        Closed();
    }

    int32_t BytesReceived() const override { return socket_ ? ToInt32(socket_->bytesAvailable()) : 0; }

    Bytes GetData() override {
        RequireConnection();
        return FromBytes(socket_->readAll());
    }

    void SendData(const Bytes& data) override {
        RequireConnected();
        if (socket_->write(data.data(), static_cast<qint64>(data.size())) < 0)
            throw PlatformError(FromQ(socket_->errorString()));
        // Hand the bytes to the system now, without blocking, rather than on the
        // next pass of the event loop: an answer is not kept waiting for a wake-up.
        const OwnCall call(owner_.ownCalls_);
        socket_->flush();
    }

    int32_t BytesToSend() const override { return socket_ ? ToInt32(socket_->bytesToWrite()) : 0; }

    std::string LocalHostName() const override { return FromQ(QHostInfo::localHostName()); }

    std::string LocalIP() const override {
        const QHostAddress& bound = owner_.listenAddress_;
        if (bound != QHostAddress::Any && bound != QHostAddress::AnyIPv4 && bound != QHostAddress::AnyIPv6)
            return FromQ(bound.toString());  // the one address clients can reach
        for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
            const auto flags = nic.flags();
            if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning) ||
                (flags & QNetworkInterface::IsLoopBack))
                continue;
            for (const QNetworkAddressEntry& entry : nic.addressEntries())
                if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) return FromQ(entry.ip().toString());
        }
        return "127.0.0.1";
    }

private:
    bool PeerGoneNow() override {
        if (socket_->state() != QAbstractSocket::ConnectedState) return true;
#if defined(Q_OS_LINUX)
        // The system knows of the peer's end before the event loop does.
        pollfd p{static_cast<int>(socket_->socketDescriptor()), POLLIN | POLLRDHUP, 0};
        if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLRDHUP | POLLHUP | POLLERR))) return false;
        // Take in what it sent before it went (readable, so this does not wait);
        // the events this raises are queued as usual.
        const OwnCall call(owner_.ownCalls_);
        socket_->waitForReadyRead(0);
        return true;
#else
        return false;
#endif
    }

    // Qt stops accepting after a failure. Those waiting are refused with the
    // descriptor kept for that, rather than left hanging, and accepting resumes a
    // moment later: when descriptors have come free, the next client is served.
    void AcceptFailed() {
        if (!server_) return;
        owner_.RefuseWaiting(static_cast<int>(server_->socketDescriptor()));
        ReportAcceptFailure(FromQ(server_->errorString()));
        QTimer::singleShot(kAcceptRetryMs, this, [this] {
            if (server_) server_->resumeAccepting();
        });
    }

    void Arrived() {
        // Straight from the event loop the handler runs at once (a posted event would
        // cost the loop another pass for every command).
        if (!ArrivalQueued() && !InHandler() && owner_.ownCalls_ == 0) {
            Shielded("tcpServer", [this] { RaiseArrival(); });
            return;
        }
        QueueArrival();
    }

    void Failed(QAbstractSocket::SocketError error, const QString& description) {
        ReportError(ErrorNumber(error), FromQ(description));
    }

    // Lets go of the element's server or socket; a connection is closed gracefully
    // (what is queued still goes out) or, when the element is destroyed, at once.
    void Release(bool graceful) {
        server_.reset();
        if (!socket_) return;
        QTcpSocket* socket = socket_;
        socket_ = nullptr;
        socket->disconnect(this);
        // What it held (a client that read nothing may have had much queued) goes
        // back to the system once the socket is gone.
        connect(socket, &QObject::destroyed, &owner_, [owner = &owner_] { owner->ReturnFreedMemory(); });
        if (graceful) {
            owner_.Dismiss(socket);
        } else {
            socket->abort();
            socket->deleteLater();
        }
    }

    QtSocketArray& owner_;
    std::unique_ptr<QTcpServer> server_;
    QTcpSocket* socket_ = nullptr;
};

QtSocketArray::QtSocketArray(QObject* parent) : QObject(parent) {
#if defined(Q_OS_LINUX)
    reserve_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
#endif
    Load(0);
}

QtSocketArray::~QtSocketArray() {
#if defined(Q_OS_LINUX)
    if (reserve_ >= 0) ::close(reserve_);
#endif
    elements_.Clear();
    EndRequests([](QTcpSocket* socket) {
        socket->abort();
        delete socket;
    });
}

std::string QtSocketArray::SetListenAddress(const QHostAddress& address) {
    // "::" is every address: IPv6 and, where the system allows, IPv4 too (dual
    // stack), as on Windows. Qt's own "::" would be IPv6 alone.
    if (address.protocol() == QAbstractSocket::IPv6Protocol && address.toString() == QLatin1String("::")) {
        listenAddress_ = QHostAddress::Any;
        return {};
    }
    bool mapped = false;
    const quint32 v4 = address.protocol() == QAbstractSocket::IPv6Protocol ? address.toIPv4Address(&mapped) : 0;
    if (mapped)
        return "an IPv4 address in IPv6 form cannot be listened on; give " + FromQ(QHostAddress(v4).toString());
    if (address.isMulticast() || address.isBroadcast()) return "a multicast or broadcast address cannot be listened on";
    // Asked of the system itself: only a missing address may come later.
    QTcpServer trial;
    if (!trial.listen(address, 0) && trial.serverError() != QAbstractSocket::SocketAddressNotAvailableError)
        return FromQ(trial.errorString());
    listenAddress_ = address;
    return {};
}

void QtSocketArray::RequestsFreed() {
    elements_.ForEach([](SocketElementCore& e) { static_cast<Element&>(e).TakeConnections(); });
}

void QtSocketArray::RefuseWaiting(int listener) {
#if defined(Q_OS_LINUX)
    if (listener < 0) return;
    if (reserve_ < 0) reserve_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);  // lost last time: again, if one is free
    if (reserve_ < 0) return;
    ::close(reserve_);
    for (int refused = 0; refused < kMaxRefusals; ++refused) {
        const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) break;
        ::close(connection);
    }
    reserve_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
#else
    (void)listener;
#endif
}

void QtSocketArray::ReturnFreedMemory() {
#if defined(__GLIBC__)
    // After the socket's own buffers are freed, which happens after this signal.
    QTimer::singleShot(0, this, [] { ::malloc_trim(0); });
#endif
}

void QtSocketArray::AddPending(int16_t index, uint64_t generation, QTcpSocket* socket) {
    if (!socket) return;
    socket->setParent(this);  // outlives the listener that produced it
    socket->setReadBufferSize(kReadBufferBytes);
    AddRequest(index, generation, socket);
}

std::string QtSocketArray::AddressOf(QTcpSocket* const& socket) const {
    return DottedAddress(socket->peerAddress());
}

void QtSocketArray::Post(std::function<void()> work) {
    QMetaObject::invokeMethod(
        this, [work = std::move(work)] { Shielded("tcpServer", work); }, Qt::QueuedConnection);
}

std::unique_ptr<SocketElementCore> QtSocketArray::MakeElement(int16_t index) {
    return std::make_unique<Element>(*this, index);
}

void QtSocketArray::Dismiss(QTcpSocket* socket) {
    socket->disconnect();
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kLingerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

}  // namespace ovrin::qt
