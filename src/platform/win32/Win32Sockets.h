#pragma once
// The socket array on Winsock 2. Every socket reports to the message loop
// (WSAAsyncSelect), so accepts, arrivals and closes reach the handlers on the one
// thread they run on; the state, its rules and the events' delivery are the shared
// core's.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>
#include <string>

#include "platform/shared/SocketCore.h"
#include "platform/win32/MessageLoop.h"

namespace ovrin::win32 {

class Win32Sockets final : public SocketArrayCore<SOCKET> {
public:
    // A peer that vanished without closing is found by keepalive after about
    // 60 s + 6 probes 10 s apart, as on Linux.
    static constexpr DWORD kKeepAliveIdleMs = 60000, kKeepAliveIntervalMs = 10000;
    // After a failed accept, the next is tried this much later.
    static constexpr int kAcceptRetryMs = 250;

    explicit Win32Sockets(MessageLoop& loop);
    ~Win32Sockets() override;

    // "" listens on every address (IPv6 and IPv4); else one IPv4 or IPv6 address.
    // Why a text is refused (no address, or one that can never listen), else "".
    std::string SetListenAddress(const std::string& address);

    class Element;

private:
    friend class Element;
    void OnSocketEvent(WPARAM socket, LPARAM event);
    Element* Owner(SOCKET s) const;
    std::unique_ptr<SocketElementCore> MakeElement(int16_t index) override;
    void Post(std::function<void()> work) override;
    std::string AddressOf(const SOCKET& socket) const override;
    void Dismiss(SOCKET socket) override;
    void RequestsFreed() override;

    MessageLoop& loop_;
    bool started_ = false;
    sockaddr_storage listenAddress_{};
    int listenAddressLength_ = 0;  // 0: every address
};

}  // namespace ovrin::win32
