#include "status/StatusServer.h"

#ifndef _WIN32
// poll(2): no limit on a socket's number, as select(2) has.
#define CPPHTTPLIB_USE_POLL
#endif
// Connections the system holds until the accept thread takes them. The library's
// 5 overflowed whenever visitors came faster than that thread was scheduled (a
// browser's burst, a monitoring script, a busy machine): the system then dropped
// the attempt, and the visitor's system tried again only a second later (2,000
// connect-and-close rounds took 226 s here, now 0.2 s). The accept thread takes
// each at once and turns away what its workers cannot take, so a longer queue
// costs nothing but the waiting attempts' memory.
#define CPPHTTPLIB_LISTEN_BACKLOG 1024
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "status/StatusPage.h"

namespace ovrin::status {
namespace {

using Clock = std::chrono::steady_clock;

int LastSocketError() {
#ifdef _WIN32
    return WSAGetLastError();
#else
    return errno;
#endif
}

// The peer's address as the allow-list and the log take it: an IPv4 client of a
// dual-stack socket as plain IPv4.
std::string PeerAddress(socket_t sock) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (getpeername(sock, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return {};
    char text[INET6_ADDRSTRLEN] = "";
    if (peer.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&peer)->sin_addr, text, sizeof text);
    } else if (peer.ss_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&peer)->sin6_addr, text, sizeof text);
    }
    std::string address = text;
    if (address.rfind("::ffff:", 0) == 0 && address.find('.') != std::string::npos) address.erase(0, 7);
    return address;
}

// A request read within its budget of bytes and time; past either, reads fail and
// the request ends there.
class BoundedStream final : public httplib::Stream {
public:
    BoundedStream(socket_t sock, const ServerLimits& limits, time_t ioSeconds)
        : inner_(sock, ioSeconds, 0, ioSeconds, 0), budget_(limits.requestBytes),
          deadline_(Clock::now() + std::chrono::milliseconds(limits.requestMs)) {}

    bool is_readable() const override { return inner_.is_readable(); }
    bool is_writable() const override { return inner_.is_writable(); }
    ssize_t read(char* ptr, size_t size) override {
        if (Clock::now() > deadline_) {
            late = true;
            return -1;
        }
        if (read_ >= budget_) {
            overran = true;
            return -1;
        }
        const ssize_t n = inner_.read(ptr, std::min(size, budget_ - read_));
        if (n > 0) read_ += static_cast<std::size_t>(n);
        return n;
    }
    ssize_t write(const char* ptr, size_t size) override { return inner_.write(ptr, size); }
    void get_remote_ip_and_port(std::string& ip, int& port) const override { inner_.get_remote_ip_and_port(ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { inner_.get_local_ip_and_port(ip, port); }
    socket_t socket() const override { return inner_.socket(); }

    bool late = false, overran = false;

private:
    httplib::detail::SocketStream inner_;
    std::size_t budget_, read_ = 0;
    Clock::time_point deadline_;
};

// Every answer's headers besides its own.
const httplib::Headers& CommonHeaders() {
    static const httplib::Headers headers = {
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; "
         "img-src 'self'"}};
    return headers;
}

std::string ErrorBody(int status) {
    return std::to_string(status) + " " + httplib::detail::status_message(status) + "\n";
}

// An error status written straight to the stream, for a request the library ends
// without an answer, and the connection closed after it.
void Answer(httplib::Stream& stream, int status) {
    const std::string body = ErrorBody(status);
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + httplib::detail::status_message(status) + "\r\n";
    for (const auto& [name, value] : CommonHeaders()) text += name + ": " + value + "\r\n";
    text += "Content-Type: text/plain; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\nConnection: close\r\n\r\n" + body;
    stream.write(text.data(), text.size());
}

// What is left of a refused request, read and dropped for a moment after the
// answer: a socket closed on unread bytes resets the connection, and the reset may
// reach the visitor before the answer does, which is then lost.
void DropTheRest(socket_t sock) {
#ifdef _WIN32
    shutdown(sock, SD_SEND);
#else
    shutdown(sock, SHUT_WR);
#endif
    constexpr std::size_t kMostBytes = 1 << 20;
    const Clock::time_point until = Clock::now() + std::chrono::seconds(1);
    char buffer[16384];
    for (std::size_t dropped = 0; dropped < kMostBytes && Clock::now() < until;) {
        const ssize_t ready = httplib::detail::select_read(sock, 0, 100000);
        if (ready < 0) return;
        if (ready == 0) continue;
        const ssize_t n = httplib::detail::read_socket(sock, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        dropped += static_cast<std::size_t>(n);
    }
}

// Set while the accept thread hands over a connection that no worker can take.
thread_local bool tShedding = false;
// The status of the last response a worker wrote.
thread_local int tLastStatus = 0;

// A fixed set of workers and a bounded queue: past it, a connection is closed at
// once by the accept thread, unread.
class Workers final : public httplib::TaskQueue {
public:
    Workers(int workers, int waiting) : waiting_(static_cast<std::size_t>(waiting)) {
        for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
    }
    void enqueue(std::function<void()> fn) override {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (jobs_.size() < waiting_) {
                jobs_.push_back(std::move(fn));
                cond_.notify_one();
                return;
            }
        }
        tShedding = true;
        fn();
        tShedding = false;
    }
    void shutdown() override {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        cond_.notify_all();
        for (std::thread& t : threads_) t.join();
    }

private:
    void Work() {
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                cond_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                fn = std::move(jobs_.front());
                jobs_.pop_front();
            }
            fn();
        }
    }

    std::size_t waiting_;
    std::vector<std::thread> threads_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::mutex mutex_;
    std::condition_variable cond_;
};

}  // namespace

class StatusServer::Impl final : public httplib::Server {
public:
    explicit Impl(ServerLimits limits) : limits_(limits) {
        new_task_queue = [this] { return new Workers(limits_.workers, limits_.waiting); };
        const time_t io = std::max<time_t>(1, limits_.idleMs / 1000);
        set_keep_alive_timeout(io);
        set_keep_alive_max_count(100);
        set_read_timeout(io, 0);
        set_write_timeout(io, 0);
        set_payload_max_length(1024);
        // SO_REUSEADDR alone: the library's SO_REUSEPORT would let another program
        // listen on the same port beside it.
        set_socket_options([](socket_t sock) {
            int yes = 1;
#ifdef _WIN32
            setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
#else
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
        });
        set_logger([](const httplib::Request&, const httplib::Response& res) { tLastStatus = res.status; });
        set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
            if (req.method == "GET" || req.method == "HEAD") return HandlerResponse::Unhandled;
            res.status = 405;  // read-only: nothing here changes anything
            res.set_header("Allow", "GET, HEAD");
            return HandlerResponse::Handled;
        });
        set_error_handler([](const httplib::Request&, httplib::Response& res) {
            res.set_content(ErrorBody(res.status), "text/plain; charset=utf-8");
        });
        set_default_headers(CommonHeaders());
        Get("/", [this](const httplib::Request&, httplib::Response& res) { Serve(res, false); });
        Get("/status.json", [this](const httplib::Request&, httplib::Response& res) { Serve(res, true); });
    }

    ~Impl() override { Stop(); }

    std::string Start(const std::string& address, int port) {
        int error = 0;
        bool bound = false;
        for (const std::string& host : address.empty() ? std::vector<std::string>{"::", "0.0.0.0"}
                                                       : std::vector<std::string>{address}) {
            bound = port == 0 ? bind_to_any_port(host) > 0 : bind_to_port(host, port);
            if (bound) break;
            error = LastSocketError();
        }
        if (!bound) {
            const std::string why = error ? std::system_category().message(error) : std::string();
            return why.empty() ? "not an address to listen on" : why;
        }
        port_ = Bound();
        thread_ = std::thread([this] {
            listen_after_bind();
            finished_ = true;
        });
        return {};
    }

    int Port() const { return port_; }

    void Publish(StatusSnapshot snapshot) {
        auto fresh = std::make_shared<const StatusSnapshot>(std::move(snapshot));
        const std::lock_guard<std::mutex> lock(publishMutex_);
        published_ = std::move(fresh);
        ++version_;
    }

    void Allow(std::optional<AllowList> allowed) {
        const std::lock_guard<std::mutex> lock(allowMutex_);
        allowed_ = std::move(allowed);
    }

    bool Allows(const std::string& address) {
        const std::lock_guard<std::mutex> lock(allowMutex_);
        return allowed_ && allowed_->Allows(address);
    }

    IncidentCounts TakeIncidents() {
        const std::lock_guard<std::mutex> lock(incidentMutex_);
        return std::exchange(incidents_, {});
    }

private:
    // What a visitor asks for, rendered once per snapshot however many ask.
    void Serve(httplib::Response& res, bool json) {
        std::shared_ptr<const StatusSnapshot> snapshot;
        uint64_t version = 0;
        {
            const std::lock_guard<std::mutex> lock(publishMutex_);
            snapshot = published_;
            version = version_;
        }
        if (!snapshot) {
            res.status = 503;
            return;
        }
        const std::lock_guard<std::mutex> lock(renderMutex_);
        Rendered& r = json ? json_ : html_;
        if (r.version != version) {
            r.text = json ? StatusJson(*snapshot) : StatusHtml(*snapshot);
            r.version = version;
        }
        res.set_content(r.text, json ? "application/json" : "text/html; charset=utf-8");
    }

    void Count(Incident kind, const std::string& address) {
        const std::lock_guard<std::mutex> lock(incidentMutex_);
        incidents_.Add(kind, address);
    }

    // One connection, on a worker (or, when none can take it, on the accept thread).
    bool process_and_close_socket(socket_t sock) override {
        const std::string address = PeerAddress(sock);
        bool served = false;
        if (tShedding) Count(Incident::Crowded, address);
        else if (!Allows(address)) Count(Incident::Refused, address);
        else if (!Enter(sock, address)) Count(Incident::Crowded, address);
        else {
            bool refused = false;
            served = Converse(sock, address, refused);
            if (refused) DropTheRest(sock);  // still counted as served: a stop ends it at once
            Leave(sock, address);
        }
        httplib::detail::shutdown_socket(sock);
        httplib::detail::close_socket(sock);
        return served;
    }

    // The requests of one connection; `refused` when one was too large to be read whole.
    bool Converse(socket_t sock, const std::string& address, bool& refused) {
        const time_t io = std::max<time_t>(1, limits_.idleMs / 1000);
        return httplib::detail::process_server_socket_core(
            svr_sock_, sock, keep_alive_max_count_, keep_alive_timeout_sec_,
            [&](bool closeConnection, bool& connectionClosed) {
                BoundedStream stream(sock, limits_, io);
                tLastStatus = 0;
                const bool ok = process_request(stream, closeConnection, connectionClosed, nullptr);
                // The library reads the request line whole before it measures it: one
                // past the budget ends with no answer written.
                if (stream.overran && tLastStatus == 0) {
                    Answer(stream, 414);
                    tLastStatus = 414;
                }
                refused = refused || stream.overran;
                if (stream.overran || tLastStatus == 413 || tLastStatus == 414) Count(Incident::Oversized, address);
                else if (stream.late) Count(Incident::Slow, address);
                else if (tLastStatus == 400) Count(Incident::Malformed, address);
                return ok && !stream.overran && !stream.late && tLastStatus != 400;
            });
    }

    // Connections served now, by socket, so that a stop can end them at once.
    bool Enter(socket_t sock, const std::string& address) {
        const std::lock_guard<std::mutex> lock(connectionsMutex_);
        int same = 0;
        for (const auto& [s, a] : connections_) same += a == address;
        if (same >= limits_.perAddress) return false;
        connections_[sock] = address;
        return true;
    }
    void Leave(socket_t sock, const std::string&) {
        const std::lock_guard<std::mutex> lock(connectionsMutex_);
        connections_.erase(sock);
    }

    int Bound() const {
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        if (getsockname(svr_sock_, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
        if (local.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
        return ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port);
    }

    void Stop() {
        if (!thread_.joinable()) return;
        // The listening thread marks itself running as it starts; stop() before
        // that would stop nothing.
        while (!is_running() && !finished_) std::this_thread::yield();
        stop();
        {
            const std::lock_guard<std::mutex> lock(connectionsMutex_);
            for (const auto& [sock, address] : connections_) httplib::detail::shutdown_socket(sock);
        }
        thread_.join();
    }

    struct Rendered {
        uint64_t version = 0;
        std::string text;
    };

    const ServerLimits limits_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    int port_ = 0;

    std::mutex allowMutex_;
    std::optional<AllowList> allowed_;

    std::mutex publishMutex_;
    std::shared_ptr<const StatusSnapshot> published_;
    uint64_t version_ = 0;

    std::mutex renderMutex_;
    Rendered html_, json_;

    std::mutex incidentMutex_;
    IncidentCounts incidents_;

    std::mutex connectionsMutex_;
    std::map<socket_t, std::string> connections_;
};

StatusServer::StatusServer(ServerLimits limits) : impl_(std::make_unique<Impl>(limits)) {}

StatusServer::~StatusServer() = default;

std::string StatusServer::Start(const std::string& address, int port) { return impl_->Start(address, port); }

int StatusServer::Port() const { return impl_->Port(); }

void StatusServer::Publish(StatusSnapshot snapshot) { impl_->Publish(std::move(snapshot)); }

void StatusServer::Allow(std::optional<AllowList> allowed) { impl_->Allow(std::move(allowed)); }

IncidentCounts StatusServer::TakeIncidents() { return impl_->TakeIncidents(); }

}  // namespace ovrin::status
