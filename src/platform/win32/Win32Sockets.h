#pragma once
// The socket array on Winsock 2. Every socket reports to the message loop
// (WSAAsyncSelect), so accepts, arrivals and closes reach the handlers on the one
// thread they run on; the state, its rules and the events' delivery are the shared
// core's.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>
#include <string>

#include "platform/ElementTable.h"
#include "platform/shared/SocketCore.h"
#include "platform/win32/MessageLoop.h"

namespace ovrin::win32 {

class Win32Sockets final : public SocketArrayCore<SOCKET> {
public:
    // A peer that vanished without closing is found by keepalive after about
    // 60 s + 6 probes 10 s apart, as on Linux.
    static constexpr DWORD kKeepAliveIdleMs = 60000, kKeepAliveIntervalMs = 10000;

    explicit Win32Sockets(MessageLoop& loop);
    ~Win32Sockets() override;

    // "" listens on every address (IPv6 and IPv4); else one IPv4 or IPv6 address.
    // Why a text is refused (no address, or one that can never listen), else "".
    std::string SetListenAddress(const std::string& address);

    int16_t Count() const override { return elements_.Count(); }
    void Load(int16_t index) override;
    void Unload(int16_t index) override;
    SocketElement& operator()(int16_t index) override;

    class Element;

private:
    friend class Element;
    void OnSocketEvent(WPARAM socket, LPARAM event);
    Element* Owner(SOCKET s) const;
    void Post(std::function<void()> work) override;
    SocketElementCore* FindElement(int16_t index) const override;
    std::string AddressOf(const SOCKET& socket) const override;
    void Dismiss(SOCKET socket) override;

    MessageLoop& loop_;
    bool started_ = false;
    sockaddr_storage listenAddress_{};
    int listenAddressLength_ = 0;  // 0: every address
    ElementTable<Element> elements_;
};

}  // namespace ovrin::win32
