#include "platform/win32/Win32Sockets.h"

#include <mstcpip.h>

#include <algorithm>
#include <cstring>

#include "platform/win32/Win32Text.h"

namespace ovrin::win32 {
namespace {

constexpr int kChunk = 16384;
// The loop's timers for a listener's next accept, one per element, apart from the
// model's timers (numbered from 100).
constexpr UINT_PTR kAcceptRetryTimer = 0x4000;

std::string AddressText(const sockaddr_storage& a) {
    char text[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(a);
        inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    } else if (a.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], text, sizeof text);
        else inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    }
    return text;
}

std::string PeerAddress(SOCKET s) {
    sockaddr_storage a{};
    int n = sizeof a;
    return getpeername(s, reinterpret_cast<sockaddr*>(&a), &n) == 0 ? AddressText(a) : std::string();
}

// Fast: a vanished peer found within 15 s: 4 s idle, then Windows' ten probes 1 s
// apart; data it never acknowledged give up after 12 s.
void KeepAlive(SOCKET s, bool fast = false) {
    const BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
#ifdef TCP_MAXRT
    const DWORD maxRetransmitS = fast ? 12 : 0;  // 0: the system's default
    setsockopt(s, IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char*>(&maxRetransmitS), sizeof maxRetransmitS);
#endif
    tcp_keepalive k{1, fast ? 4000u : Win32Sockets::kKeepAliveIdleMs, fast ? 1000u : Win32Sockets::kKeepAliveIntervalMs};
    DWORD returned = 0;
    if (WSAIoctl(s, SIO_KEEPALIVE_VALS, &k, sizeof k, nullptr, 0, &returned, nullptr, nullptr) != 0)
        setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
}

}  // namespace

// One element: closed, listening or connected.
class Win32Sockets::Element final : public SocketElementCore {
public:
    Element(Win32Sockets& owner, int16_t index) : SocketElementCore(owner, index), owner_(owner) {}
    ~Element() override { Release(false); }

    SOCKET Socket() const { return socket_; }

    void Listen() override {
        RequireClosed();
        sockaddr_storage a{};
        int length = owner_.listenAddressLength_;
        if (length) {
            a = owner_.listenAddress_;
        } else {
            auto& any = reinterpret_cast<sockaddr_in6&>(a);
            any.sin6_family = AF_INET6;
            any.sin6_addr = in6addr_any;
            length = sizeof any;
        }
        reinterpret_cast<sockaddr_in&>(a).sin_port = htons(static_cast<u_short>(LocalPort()));
        SOCKET s = socket(a.ss_family, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET && !owner_.listenAddressLength_) {
            // No IPv6 on this system: every IPv4 address.
            a = {};
            auto& any4 = reinterpret_cast<sockaddr_in&>(a);
            any4.sin_family = AF_INET;
            any4.sin_port = htons(static_cast<u_short>(LocalPort()));
            length = sizeof any4;
            s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        }
        if (s == INVALID_SOCKET) throw PlatformError(ErrorText(static_cast<DWORD>(WSAGetLastError())));
        if (a.ss_family == AF_INET6 && !owner_.listenAddressLength_) {
            const DWORD off = 0;  // IPv4 clients too
            setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off), sizeof off);
        }
        // The port is this program's alone while it listens.
        const BOOL exclusive = TRUE;
        setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
        if (bind(s, reinterpret_cast<sockaddr*>(&a), length) != 0 || listen(s, SOMAXCONN) != 0 ||
            WSAAsyncSelect(s, owner_.loop_.Handle(), MessageLoop::kSocketMessage, FD_ACCEPT) != 0) {
            const int error = WSAGetLastError();
            closesocket(s);
            // Another program's exclusive hold on the port is refused as access denied.
            ListenFailed(owner_.listenAddressLength_ ? AddressText(owner_.listenAddress_) : std::string(),
                         ErrorText(static_cast<DWORD>(error)), error == WSAEADDRINUSE || error == WSAEACCES);
        }
        socket_ = s;
        Listening(static_cast<int32_t>(s), BoundPort(s));
    }

    void Accept(int32_t requestID) override {
        RequireClosed();
        const SOCKET s = owner_.TakeRequest(requestID);
        socket_ = s;
        Connected(static_cast<int32_t>(s), BoundPort(s), PeerAddress(s));
        KeepAlive(s);
        WSAAsyncSelect(s, owner_.loop_.Handle(), MessageLoop::kSocketMessage, FD_READ | FD_WRITE | FD_CLOSE);
        // What came, or went, while the request waited for its answer.
        Pull();
        if (!inbound_.empty()) QueueArrival();
        if (peerClosed_) PeerClosed();
    }

    void SetFastDeadPeerCheck(bool on) override {
        if (socket_ != INVALID_SOCKET) KeepAlive(socket_, on);
    }

    void Close() override {
        Release(true);
        Closed();
    }

    int32_t BytesReceived() const override {
        u_long waiting = 0;
        if (HoldsConnection()) ioctlsocket(socket_, FIONREAD, &waiting);
        const std::size_t total = inbound_.size() + waiting;
        return total > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(total);
    }

    Bytes GetData() override {
        RequireConnection();
        Pull();
        Bytes out;
        out.swap(inbound_);
        return out;
    }

    void SendData(const Bytes& data) override {
        RequireConnected();
        outbound_ += data;
        Flush();
        if (State() == sckError) throw PlatformError(lastError_);
    }

    int32_t BytesToSend() const override {
        return outbound_.size() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(outbound_.size());
    }

    std::string LocalHostName() const override {
        char name[256] = "";
        gethostname(name, sizeof name);
        return name;
    }

    std::string LocalIP() const override {
        if (owner_.listenAddressLength_) return AddressText(owner_.listenAddress_);
        addrinfo hints{};
        hints.ai_family = AF_INET;
        addrinfo* found = nullptr;
        std::string ip = "127.0.0.1";
        if (getaddrinfo(LocalHostName().c_str(), nullptr, &hints, &found) == 0) {
            for (addrinfo* a = found; a; a = a->ai_next) {
                sockaddr_storage s{};
                std::memcpy(&s, a->ai_addr, a->ai_addrlen);
                const std::string text = AddressText(s);
                if (text.rfind("127.", 0) != 0) {
                    ip = text;
                    break;
                }
            }
            freeaddrinfo(found);
        }
        return ip;
    }

    // A socket notification for this element.
    void Notify(int event, int error) {
        if (event == FD_ACCEPT) {
            TakeConnections();
            return;
        }
        if (error && event != FD_CLOSE) {
            Failed(error);
            return;
        }
        if (event == FD_READ) QueueArrival();
        else if (event == FD_WRITE) Flush();
        else if (event == FD_CLOSE) {
            Pull();
            if (!inbound_.empty()) QueueArrival();
            PeerClosed();
        }
    }

private:
    bool PeerGoneNow() override {
        Pull();
        return peerClosed_;
    }

    static int32_t BoundPort(SOCKET s) {
        sockaddr_storage bound{};
        int n = sizeof bound;
        getsockname(s, reinterpret_cast<sockaddr*>(&bound), &n);
        return ntohs(reinterpret_cast<sockaddr_in&>(bound).sin_port);
    }

    // Takes in what waits, without blocking.
    void Pull() {
        if (socket_ == INVALID_SOCKET || peerClosed_) return;
        char chunk[kChunk];
        for (;;) {
            const int n = recv(socket_, chunk, kChunk, 0);
            if (n > 0) {
                inbound_.append(chunk, static_cast<std::size_t>(n));
                if (n < kChunk) return;
                continue;
            }
            if (n == 0) peerClosed_ = true;
            else if (WSAGetLastError() != WSAEWOULDBLOCK) peerClosed_ = true;
            return;
        }
    }

    void Flush() {
        while (!outbound_.empty() && socket_ != INVALID_SOCKET) {
            const int n = send(socket_, outbound_.data(), static_cast<int>(std::min<std::size_t>(outbound_.size(), 65536)), 0);
            if (n > 0) {
                outbound_.erase(0, static_cast<std::size_t>(n));
                continue;
            }
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK) Failed(error);
            return;  // FD_WRITE says when there is room again
        }
    }

public:
    // What the handlers have not answered yet waits in the system's queue: accept
    // is called again (which asks for the next FD_ACCEPT) once they have.
    void TakeConnections() {
        while (socket_ != INVALID_SOCKET && State() == sckListening && !owner_.RequestsFull()) {
            const SOCKET s = accept(socket_, nullptr, nullptr);
            if (s != INVALID_SOCKET) {
                owner_.AddRequest(Index(), Generation(), s);
                continue;
            }
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK && error != WSAECONNRESET) AcceptFailed(error);
            return;
        }
    }

private:
    // No element's failure: the listener stops asking for a while (each failed
    // accept would ask again at once) and then tries again.
    void AcceptFailed(int error) {
        ReportAcceptFailure(ErrorText(static_cast<DWORD>(error)));
        const SOCKET listener = socket_;
        WSAAsyncSelect(listener, owner_.loop_.Handle(), 0, 0);
        const UINT_PTR timer = kAcceptRetryTimer + static_cast<UINT_PTR>(Index());
        const uint64_t generation = Generation();
        owner_.loop_.SetTimer(timer, Win32Sockets::kAcceptRetryMs, [this, timer, listener, generation] {
            owner_.loop_.KillTimer(timer);
            if (socket_ == listener && Generation() == generation)
                WSAAsyncSelect(listener, owner_.loop_.Handle(), MessageLoop::kSocketMessage, FD_ACCEPT);
        });
    }

    void Failed(int error) {
        lastError_ = ErrorText(static_cast<DWORD>(error));
        ReportError(static_cast<int16_t>(error), lastError_);
    }

    // Lets go of the socket. A graceful close still sends what is queued, for up
    // to 2 s; the system then sends the rest and the FIN by itself.
    void Release(bool graceful) {
        owner_.loop_.KillTimer(kAcceptRetryTimer + static_cast<UINT_PTR>(Index()));
        peerClosed_ = false;
        inbound_.clear();
        if (socket_ == INVALID_SOCKET) return;
        const SOCKET s = socket_;
        socket_ = INVALID_SOCKET;
        WSAAsyncSelect(s, owner_.loop_.Handle(), 0, 0);
        if (graceful && !outbound_.empty() && State() == sckConnected) {
            u_long blocking = 0;
            ioctlsocket(s, FIONBIO, &blocking);
            const DWORD timeoutMs = 2000;
            setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
            send(s, outbound_.data(), static_cast<int>(outbound_.size()), 0);
        }
        outbound_.clear();
        if (graceful) shutdown(s, SD_SEND);
        else {
            const linger hard{1, 0};
            setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
        }
        closesocket(s);
    }

    Win32Sockets& owner_;
    SOCKET socket_ = INVALID_SOCKET;
    std::string lastError_;
    Bytes inbound_, outbound_;
    bool peerClosed_ = false;
};

Win32Sockets::Win32Sockets(MessageLoop& loop) : loop_(loop) {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    Load(0);
    loop_.socketEvent = [this](WPARAM s, LPARAM e) { OnSocketEvent(s, e); };
}

Win32Sockets::~Win32Sockets() {
    loop_.socketEvent = nullptr;
    elements_.Clear();
    EndRequests([](SOCKET s) { closesocket(s); });
    if (started_) WSACleanup();
}

std::string Win32Sockets::SetListenAddress(const std::string& address) {
    listenAddress_ = {};
    listenAddressLength_ = 0;
    if (address.empty()) return {};
    auto& v4 = reinterpret_cast<sockaddr_in&>(listenAddress_);
    auto& v6 = reinterpret_cast<sockaddr_in6&>(listenAddress_);
    if (inet_pton(AF_INET, address.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        listenAddressLength_ = sizeof v4;
        const auto first = reinterpret_cast<const unsigned char*>(&v4.sin_addr)[0];
        if (first >= 224) {
            listenAddressLength_ = 0;
            return "a multicast or broadcast address cannot be listened on";
        }
    } else if (inet_pton(AF_INET6, address.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        listenAddressLength_ = sizeof v6;
        const bool mapped = IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr), multicast = IN6_IS_ADDR_MULTICAST(&v6.sin6_addr);
        if (mapped || multicast) {
            listenAddressLength_ = 0;
            return mapped ? "an IPv4 address in IPv6 form cannot be listened on; give it as IPv4"
                          : "a multicast or broadcast address cannot be listened on";
        }
    }
    return listenAddressLength_ ? std::string() : std::string("not an IP address");
}

void Win32Sockets::RequestsFreed() {
    elements_.ForEach([](SocketElementCore& e) { static_cast<Element&>(e).TakeConnections(); });
}

Win32Sockets::Element* Win32Sockets::Owner(SOCKET s) const {
    return static_cast<Element*>(
        elements_.FindIf([s](const SocketElementCore& e) { return static_cast<const Element&>(e).Socket() == s; }));
}

void Win32Sockets::OnSocketEvent(WPARAM socket, LPARAM event) {
    if (Element* e = Owner(static_cast<SOCKET>(socket))) e->Notify(WSAGETSELECTEVENT(event), WSAGETSELECTERROR(event));
}

void Win32Sockets::Post(std::function<void()> work) {
    loop_.Post(std::move(work));
}

std::unique_ptr<SocketElementCore> Win32Sockets::MakeElement(int16_t index) {
    return std::make_unique<Element>(*this, index);
}

std::string Win32Sockets::AddressOf(const SOCKET& socket) const {
    return PeerAddress(socket);
}

void Win32Sockets::Dismiss(SOCKET socket) {
    closesocket(socket);
}

}  // namespace ovrin::win32
