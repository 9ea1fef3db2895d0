#pragma once
// The socket array on QTcpServer (a listening element) and QTcpSocket (a connected
// element); the state, its rules and the events' delivery are the shared core's.
#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>
#include <memory>

#include "platform/shared/SocketCore.h"

namespace ovrin::qt {

class QtSocketArray final : public QObject, public SocketArrayCore<QTcpSocket*> {
    Q_OBJECT
public:
    // How much a client may have waiting before TCP flow control holds it back.
    static constexpr qint64 kReadBufferBytes = 8 * 1024;
    // How long a closed connection may take to send what is still queued for it.
    static constexpr int kLingerMs = 5000;
    // After a failed accept: how long before the next is tried, and how many of the
    // connections waiting meanwhile are refused at once.
    static constexpr int kAcceptRetryMs = 250;
    static constexpr int kMaxRefusals = 64;

    explicit QtSocketArray(QObject* parent = nullptr);
    ~QtSocketArray() override;

    // A peer that vanishes without closing (power or network gone) is found by TCP
    // keepalive after about this long, and handled like a close.
    static constexpr int kKeepAliveIdleS = 60, kKeepAliveIntervalS = 10, kKeepAliveProbes = 6;

    // The address element 0 listens on (and LocalIP reports); by default every address.
    // One this system can never listen on is refused, with the reason; one that is
    // only not there yet (an interface still coming up at boot) is taken.
    std::string SetListenAddress(const QHostAddress& address);

private:
    class Element;
    friend class Element;

    std::unique_ptr<SocketElementCore> MakeElement(int16_t index) override;
    void Post(std::function<void()> work) override;
    std::string AddressOf(QTcpSocket* const& socket) const override;
    void Dismiss(QTcpSocket* socket) override;
    void AddPending(int16_t index, uint64_t generation, QTcpSocket* socket);
    void RequestsFreed() override;
    // With the descriptor kept in reserve (a full descriptor table is the common
    // cause of a failed accept), the connections waiting on `listener` are taken
    // and closed: refused, not left hanging.
    void RefuseWaiting(int listener);
    // Freed memory goes back to the system (glibc keeps it otherwise).
    void ReturnFreedMemory();

    QHostAddress listenAddress_{QHostAddress::Any};
    int reserve_ = -1;  // a spare descriptor, given up to refuse when the table is full
    int ownCalls_ = 0;  // our calls into a socket that may report events on the spot
};

}  // namespace ovrin::qt
