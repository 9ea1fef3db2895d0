#include "platform/qt/QtSocketArray.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTimer>
#include <limits>

#if defined(Q_OS_LINUX)
#include <poll.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

#include "platform/qt/QtText.h"
#include "platform/qt/Shield.h"

namespace ovrin::qt {
namespace {

constexpr const char* kWrongState = "Wrong protocol or connection state for the requested transaction or request";
constexpr const char* kInvalidOperation = "Invalid operation at current state";
constexpr const char* kNoSuchRequest = "Invalid argument";

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
class QtSocketArray::Element final : public QObject, public SocketElement {
public:
    Element(QtSocketArray& owner, int16_t index)
        : owner_(owner), index_(index), generation_(owner.NextGeneration()) {}
    ~Element() override { Release(false); }

    quint64 Generation() const { return generation_; }

    int16_t State() const override { return state_; }
    int32_t SocketHandle() const override { return handle_; }
    std::string RemoteHostIP() const override { return remoteIP_; }
    int32_t LocalPort() const override { return localPort_; }

    void SetLocalPort(int32_t port) override {
        if (port < 0 || port > 65535) throw PlatformError(kInvalidPropertyValue);
        if (state_ != sckClosed) throw PlatformError(kInvalidOperation);
        localPort_ = port;
    }

    void Listen() override {
        if (state_ != sckClosed) throw PlatformError(kInvalidOperation);
        auto server = std::make_unique<QTcpServer>();
        if (!server->listen(owner_.listenAddress_, static_cast<quint16>(localPort_))) {
            const bool everyAddress = owner_.listenAddress_ == QHostAddress::Any;
            const std::string why =
                (everyAddress ? "" : FromQ(owner_.listenAddress_.toString()) + ": ") + FromQ(server->errorString());
            if (server->serverError() == QAbstractSocket::AddressInUseError) throw PortInUseError(why);
            throw PlatformError(why);
        }
        server_ = std::move(server);
        generation_ = owner_.NextGeneration();
        state_ = sckListening;
        handle_ = static_cast<int32_t>(server_->socketDescriptor());
        localPort_ = server_->serverPort();
        connect(server_.get(), &QTcpServer::newConnection, this, [this] { TakeConnections(); });
        connect(server_.get(), &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError error) {
            ReportError(error, server_ ? server_->errorString() : QString());
        });
    }

    void Accept(int32_t requestID) override {
        if (state_ != sckClosed) throw PlatformError(kInvalidOperation);
        QTcpSocket* socket = owner_.TakePending(requestID);
        socket_ = socket;
        generation_ = owner_.NextGeneration();
        state_ = sckConnected;
        handle_ = static_cast<int32_t>(socket->socketDescriptor());
        remoteIP_ = DottedAddress(socket->peerAddress());
        localPort_ = socket->localPort();
        // Commands are a few bytes; send them at once rather than batching.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        KeepAlive(socket);
        // channelReadyRead, unlike readyRead, is also reported while a handler that
        // began with this socket's arrival waits (a message box's loop): data sent
        // meanwhile are not left unannounced in the socket.
        connect(socket, &QTcpSocket::channelReadyRead, this, [this] { QueueArrival(); });
        connect(socket, &QTcpSocket::readChannelFinished, this, [this] { PeerClosed(); });
        connect(socket, &QTcpSocket::disconnected, this, [this] { PeerClosed(); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
            if (error == QAbstractSocket::RemoteHostClosedError) PeerClosed();
            else ReportError(error, socket_ ? socket_->errorString() : QString());
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
        generation_ = owner_.NextGeneration();
        state_ = sckClosed;
        handle_ = -1;
    }

    int32_t BytesReceived() const override { return socket_ ? ToInt32(socket_->bytesAvailable()) : 0; }

    Bytes GetData() override {
        if (!socket_) throw PlatformError(kWrongState);
        return FromBytes(socket_->readAll());
    }

    bool PeerGone() override {
        if (!socket_) return state_ != sckConnected;
        if (closeQueued_ || state_ == sckError || socket_->state() != QAbstractSocket::ConnectedState) return true;
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

    void SendData(const Bytes& data) override {
        if (state_ != sckConnected || !socket_) throw PlatformError(kWrongState);
        if (socket_->write(data.data(), static_cast<qint64>(data.size())) < 0)
            throw PlatformError(FromQ(socket_->errorString()));
        // Hand the bytes to the system now, without blocking, rather than on the
        // next pass of the event loop: an answer is not kept waiting for a wake-up.
        const OwnCall call(owner_.ownCalls_);
        socket_->flush();
    }

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
    void TakeConnections() {
        while (server_ && server_->hasPendingConnections())
            owner_.AddPending(index_, generation_, server_->nextPendingConnection());
    }

    void QueueArrival() {
        if (arrivalQueued_) return;  // one waiting event reports everything that came
        // Straight from the event loop the handler runs at once (a posted event would
        // cost the loop another pass for every command). Nothing of this element is
        // used after the handler: it may have closed or unloaded it.
        if (!InHandler() && owner_.ownCalls_ == 0) {
            const int32_t waiting = BytesReceived();
            auto& handler = owner_.DataArrival;
            const int16_t index = index_;
            if (waiting > 0 && handler) Shielded("tcpServer", [&] { handler(index, waiting); });
            return;
        }
        arrivalQueued_ = true;
        owner_.PostEvent(index_, generation_, [](Element& e) {
            e.arrivalQueued_ = false;
            const int32_t waiting = e.BytesReceived();
            if (waiting > 0 && e.owner_.DataArrival) e.owner_.DataArrival(e.index_, waiting);
        });
    }

    void PeerClosed() {
        if (closeQueued_) return;
        closeQueued_ = true;
        if (state_ == sckConnected) state_ = sckClosing;
        owner_.PostEvent(index_, generation_, [](Element& e) {
            if (e.owner_.CloseEvent) e.owner_.CloseEvent(e.index_);
        });
    }

    void ReportError(QAbstractSocket::SocketError error, const QString& description) {
        state_ = sckError;
        const int16_t number = ErrorNumber(error);
        const std::string text = FromQ(description);
        owner_.PostEvent(index_, generation_, [number, text](Element& e) {
            if (e.owner_.Error) e.owner_.Error(e.index_, number, text);
        });
    }

    // Lets go of the element's server or socket; a connection is closed gracefully
    // (what is queued still goes out) or, when the element is destroyed, at once.
    void Release(bool graceful) {
        server_.reset();
        arrivalQueued_ = closeQueued_ = false;
        if (!socket_) return;
        QTcpSocket* socket = socket_;
        socket_ = nullptr;
        socket->disconnect(this);
        if (graceful) {
            Dismiss(socket);
        } else {
            socket->abort();
            socket->deleteLater();
        }
    }

    QtSocketArray& owner_;
    const int16_t index_;
    quint64 generation_;
    int16_t state_ = sckClosed;
    int32_t handle_ = -1;
    int32_t localPort_ = 0;
    std::string remoteIP_;
    std::unique_ptr<QTcpServer> server_;
    QTcpSocket* socket_ = nullptr;
    bool arrivalQueued_ = false;
    bool closeQueued_ = false;
};

QtSocketArray::QtSocketArray(QObject* parent) : QObject(parent) {
    elements_.Load(*this, 0);
}

QtSocketArray::~QtSocketArray() {
    elements_.Clear();
    for (auto& [id, socket] : pending_) {
        socket->abort();
        delete socket;
    }
}

std::string QtSocketArray::SetListenAddress(const QHostAddress& address) {
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

void QtSocketArray::Load(int16_t index) {
    elements_.Load(*this, index);
}

void QtSocketArray::Unload(int16_t index) {
    elements_.Unload(index);
}

SocketElement& QtSocketArray::operator()(int16_t index) {
    return elements_.At(index);
}

void QtSocketArray::AddPending(int16_t index, quint64 generation, QTcpSocket* socket) {
    if (!socket) return;
    socket->setParent(this);  // outlives the listener that produced it
    socket->setReadBufferSize(kReadBufferBytes);
    const int32_t id = nextRequestID_;
    nextRequestID_ = nextRequestID_ == std::numeric_limits<int32_t>::max() ? 1 : nextRequestID_ + 1;
    pending_.emplace(id, socket);
    QMetaObject::invokeMethod(
        this, [this, index, generation, id] { DeliverRequest(index, generation, id); }, Qt::QueuedConnection);
}

std::string QtSocketArray::RequestRemoteIP(int32_t requestID) const {
    const auto found = pending_.find(requestID);
    if (found == pending_.end()) throw PlatformError(kNoSuchRequest);
    return DottedAddress(found->second->peerAddress());
}

QTcpSocket* QtSocketArray::TakePending(int32_t requestID) {
    const auto found = pending_.find(requestID);
    if (found == pending_.end()) throw PlatformError(kNoSuchRequest);
    QTcpSocket* socket = found->second;
    pending_.erase(found);
    return socket;
}

void QtSocketArray::DeliverRequest(int16_t index, quint64 generation, int32_t requestID) {
    const Element* listener = Find(index);
    if (listener && listener->Generation() == generation && ConnectionRequest)
        Shielded("tcpServer_ConnectionRequest", [&] { ConnectionRequest(index, requestID); });
    // A request the handler did not take is ended now, so the client is not left hanging.
    const auto left = pending_.find(requestID);
    if (left == pending_.end()) return;
    QTcpSocket* socket = left->second;
    pending_.erase(left);
    Dismiss(socket);
}

void QtSocketArray::PostEvent(int16_t index, quint64 generation, std::function<void(Element&)> deliver) {
    QMetaObject::invokeMethod(
        this,
        [this, index, generation, deliver = std::move(deliver)] {
            Element* element = Find(index);
            if (element && element->Generation() == generation) Shielded("tcpServer", [&] { deliver(*element); });
        },
        Qt::QueuedConnection);
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
