#pragma once
// The socket array on QTcpServer (a listening element) and QTcpSocket (a connected
// element). Events are posted to the event loop and checked again on delivery: an
// event for an element that was unloaded, closed or reused since is dropped.
#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>
#include <map>
#include <memory>

#include "platform/ElementTable.h"
#include "platform/SocketArray.h"

namespace ovrin::qt {

class QtSocketArray final : public QObject, public SocketArray {
    Q_OBJECT
public:
    // How much a client may have waiting before TCP flow control holds it back.
    static constexpr qint64 kReadBufferBytes = 64 * 1024;
    // How long a closed connection may take to send what is still queued for it.
    static constexpr int kLingerMs = 5000;

    explicit QtSocketArray(QObject* parent = nullptr);
    ~QtSocketArray() override;

    int16_t Count() const override { return elements_.Count(); }
    void Load(int16_t index) override;
    void Unload(int16_t index) override;
    SocketElement& operator()(int16_t index) override;
    std::string RequestRemoteIP(int32_t requestID) const override;

    // A peer that vanishes without closing (power or network gone) is found by TCP
    // keepalive after about this long, and handled like a close.
    static constexpr int kKeepAliveIdleS = 60, kKeepAliveIntervalS = 10, kKeepAliveProbes = 6;

    // The address element 0 listens on (and LocalIP reports); by default every address.
    // One this system can never listen on is refused, with the reason; one that is
    // only not there yet (an interface still coming up at boot) is taken.
    std::string SetListenAddress(const QHostAddress& address);

    // Connection requests taken from the listener and not yet accepted or closed.
    int PendingRequests() const { return static_cast<int>(pending_.size()); }

private:
    class Element;
    friend class Element;

    Element* Find(int16_t index) const { return elements_.Find(index); }
    quint64 NextGeneration() { return ++generations_; }
    void AddPending(int16_t index, quint64 generation, QTcpSocket* socket);
    QTcpSocket* TakePending(int32_t requestID);
    void DeliverRequest(int16_t index, quint64 generation, int32_t requestID);
    void PostEvent(int16_t index, quint64 generation, std::function<void(Element&)> deliver);
    static void Dismiss(QTcpSocket* socket);

    ElementTable<Element> elements_;
    std::map<int32_t, QTcpSocket*> pending_;
    QHostAddress listenAddress_{QHostAddress::Any};
    int32_t nextRequestID_ = 1;
    int ownCalls_ = 0;  // our calls into a socket that may report events on the spot
    quint64 generations_ = 0;
};

}  // namespace ovrin::qt
