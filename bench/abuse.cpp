// ovrin-abuse: what clients that misbehave on purpose cost the built server, each
// attack against a fresh server (a pty radio, loopback clients): its peak resident
// memory (VmHWM), its resident memory before and after the attacker has gone, the
// most descriptors it held, and whether an honest client was still served. One line
// per attack; the exit status is 1 when a goal was missed.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "Harness.h"

namespace ovrin::bench {
namespace {

constexpr const char* kCommand = "FA;";
constexpr const char* kAnswer = "FA00014074000;";
// What the heap may keep after the attackers left (glibc's fragments, the turns'
// buffers at their last size); before the bounds it kept tens of MiB.
constexpr long kHeapKeptKb = 4096;
// The honest client's own command, told apart from anything an attacker sends.
constexpr const char* kHonest = "ID;";
constexpr const char* kHonestAnswer = "ID019;";
// IAC SB COM-PORT-OPTION SIGNATURE IAC SE: "tell me your signature".
const Bytes kSignatureRequest("\xFF\xFA\x2C\x00\xFF\xF0", 6);

struct Options {
    std::string server;
    std::vector<std::string> runs;
    int seconds = 20;
    int connections = 20000;
    // Goals for the peak resident memory: with the window, and without.
    long limitKb = 0;
};

std::string Fixed(double x, int digits = 1) {
    std::ostringstream o;
    o << std::fixed << std::setprecision(digits) << x;
    return o.str();
}

std::string Mib(long kb) { return Fixed(static_cast<double>(kb) / 1024.0, 1) + " MiB"; }

// Samples the server's resident memory and descriptors every 10 ms while it lives.
class Sampler {
public:
    explicit Sampler(pid_t pid) : pid_(pid), thread_([this] { Run(); }) {}
    ~Sampler() {
        stop_ = true;
        thread_.join();
    }
    int MaxFds() const { return maxFds_; }

private:
    void Run() {
        while (!stop_) {
            const ProcStats s = ReadStats(pid_);
            maxFds_ = std::max(maxFds_.load(), s.fds);
            SleepMs(10);
        }
    }
    pid_t pid_;
    std::atomic<bool> stop_{false};
    std::atomic<int> maxFds_{0};
    std::thread thread_;
};

// The server listening on a raw port and a remote serial port, two clients at once,
// COM1 a pty the attack drives as the radio.
struct Target {
    std::unique_ptr<PtyRadio> radio = std::make_unique<PtyRadio>();
    ServerProcess server;
    int port = FreeTcpPort(), comPort = FreeTcpPort();

    explicit Target(const Options& o) : server(o.server) {
        server.LinkCom(1, radio->Device());
        server.WriteSettings(port);
        server.Start({"--clients", "2", "--rfc2217-port", std::to_string(comPort)});
        if (!WaitListening(port, 10000) || !WaitListening(comPort, 10000))
            throw std::runtime_error("the server did not listen");
        SleepMs(500);  // settled: the window drawn, the first timers run
    }

    // A new raw client's command reaches the radio and the answer comes back.
    // `ms`: how long its command may wait for its turn.
    bool Served(int ms = 3000) {
        TcpClient client(port);
        if (!client.Connected() || !client.Send(kHonest)) return false;
        Bytes got;
        for (const auto start = Clock::now(); got.find(kHonest) == Bytes::npos && MsSince(start) < ms;)
            got += radio->Read(1, 100);
        if (got.find(kHonest) == Bytes::npos) return false;
        radio->Write(kHonestAnswer);
        Bytes heard;
        for (const auto start = Clock::now(); heard.find(kHonestAnswer) == Bytes::npos && MsSince(start) < 3000;)
            heard += client.ReadSome(100);
        return heard.find(kHonestAnswer) != Bytes::npos;
    }

    ProcStats Stats() { return ReadStats(server.Pid()); }
};

struct Result {
    std::string name, what;
    ProcStats before, after;
    long peakKb = 0;
    int maxFds = 0;
    bool served = false, alive = true;

    void Before(Target& t) { before = t.Stats(); }
    // Once every connection that may still linger (5 s) has gone.
    void After(Target& t) {
        peakKb = t.Stats().hwmKb;
        SleepMs(6000);
        after = t.Stats();
        alive = t.server.Running();
        if (std::getenv("OVRIN_ABUSE_LOG")) std::cerr << "--- " << name << "\n" << t.server.Log();
    }
};

// A remote serial port client asks for the signature again and again and reads
// nothing: the answers pile up unless the server stops reading it.
Result SignatureLoop(const Options& o) {
    Target t(o);
    Result r;
    r.name = "signature";
    r.Before(t);
    std::size_t sent = 0;
    {
        Sampler sampler(t.server.Pid());
        TcpClient attacker(t.comPort);
        if (!attacker.Connected()) throw std::runtime_error("the attacker could not connect");
        Bytes burst;
        for (int i = 0; i < 1024; ++i) burst += kSignatureRequest;
        double blockedSince = -1;
        for (const auto start = Clock::now(); MsSince(start) < o.seconds * 1000.0;) {
            const ssize_t n = send(attacker.Fd(), burst.data(), burst.size(), MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                blockedSince = -1;
                continue;
            }
            if (n < 0 && errno != EAGAIN) break;
            if (blockedSince < 0) blockedSince = MsSince(start);
            // Held back for 3 s: the server no longer reads it.
            if (MsSince(start) - blockedSince > 3000) break;
            pollfd p{attacker.Fd(), POLLOUT, 0};
            poll(&p, 1, 100);
        }
        r.served = t.Served();
        r.maxFds = sampler.MaxFds();
    }
    r.After(t);
    r.what = Fixed(static_cast<double>(sent) / 1048576.0, 1) + " MiB of requests taken";
    return r;
}

// A raw client reads nothing while the radio talks as fast as the server reads it.
Result UnreadRadio(const Options& o) {
    Target t(o);
    Result r;
    r.name = "unread";
    r.Before(t);
    std::size_t talked = 0;
    bool dropped = false;
    {
        Sampler sampler(t.server.Pid());
        // It asks nothing: the radio talks unasked (a scope, auto-information).
        TcpClient attacker(t.port);
        if (!attacker.Connected()) throw std::runtime_error("the attacker could not connect");
        SleepMs(100);
        const Bytes chunk(16384, 'U');
        for (const auto start = Clock::now(); MsSince(start) < o.seconds * 1000.0;) {
            pollfd p{t.radio->Fd(), POLLOUT, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            const ssize_t n = write(t.radio->Fd(), chunk.data(), chunk.size());
            if (n > 0) talked += static_cast<std::size_t>(n);
            t.radio->ReadNow(65536);  // what the server writes to the radio
        }
        dropped = attacker.WaitEnd(0);
        if (!dropped) {
            pollfd p{attacker.Fd(), POLLIN, 0};
            dropped = poll(&p, 1, 0) > 0 && recv(attacker.Fd(), nullptr, 0, MSG_PEEK | MSG_DONTWAIT) == 0;
        }
        r.maxFds = sampler.MaxFds();
    }
    r.served = t.Served();
    r.After(t);
    const std::string log = t.server.Log();
    const bool closed = log.find("does not read") != std::string::npos;
    r.what = Fixed(static_cast<double>(talked) / 1048576.0, 1) + " MiB from the radio; the attacker " +
             (closed ? "closed by the server" : "still connected");
    return r;
}

// Two clients: one asks what the radio never answers, so its turn stays open for
// the answer wait, again and again; the other writes commands as fast as it can,
// which wait for their turn. The radio takes whatever is written to it.
Result Parked(const Options& o) {
    Target t(o);
    Result r;
    r.name = "parked";
    r.Before(t);
    std::size_t sent = 0;
    {
        Sampler sampler(t.server.Pid());
        TcpClient asker(t.port), writer(t.port);
        if (!asker.Connected() || !writer.Connected()) throw std::runtime_error("the attackers could not connect");
        Bytes burst;
        while (burst.size() < 16384) burst += kCommand;
        double asked = -1e9;
        for (const auto start = Clock::now(); MsSince(start) < o.seconds * 1000.0;) {
            if (MsSince(start) - asked > 2500) {
                asker.Send("XX;");
                asked = MsSince(start);
            }
            const ssize_t n = send(writer.Fd(), burst.data(), burst.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) sent += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN) break;
            t.radio->ReadNow(65536);
            if (n <= 0) {
                pollfd p{writer.Fd(), POLLOUT, 0};
                poll(&p, 1, 20);
            }
        }
        r.maxFds = sampler.MaxFds();
        // Reset, not closed: what it sent would otherwise still go to the radio a
        // turn at a time, for minutes, the radio answering none of it.
        const linger reset{1, 0};
        setsockopt(writer.Fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    for (const auto start = Clock::now(); MsSince(start) < 15000;) {
        t.radio->ReadNow(65536);
        SleepMs(5);
        const std::string log = t.server.Log();
        if (log.find("(slot 1, connection 1) left") != std::string::npos &&
            log.find("(slot 2, connection 2) l") != std::string::npos)  // left, or lost
            break;
    }
    SleepMs(500);
    t.radio->ReadNow(1 << 20);
    r.served = t.Served(2 * 3000 + 1000);  // behind the turn the writer holds, up to the turn limit
    r.After(t);
    r.what = Fixed(static_cast<double>(sent) / 1048576.0, 1) + " MiB written by the client that waits";
    return r;
}

// Connections as fast as they go, thousands at a time, while one client is served.
Result Flood(const Options& o) {
    Target t(o);
    Result r;
    r.name = "flood";
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    const int batch = static_cast<int>(std::min<rlim_t>(4000, limit.rlim_cur > 200 ? limit.rlim_cur - 100 : 100));
    r.Before(t);
    int made = 0, connected = 0;
    {
        Sampler sampler(t.server.Pid());
        TcpClient honest(t.port);
        for (const auto start = Clock::now(); made < o.connections && MsSince(start) < 120000;) {
            std::vector<int> fds;
            for (int i = 0; i < batch && made < o.connections; ++i, ++made) {
                const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
                if (fd < 0) break;
                sockaddr_in a{};
                a.sin_family = AF_INET;
                a.sin_port = htons(static_cast<uint16_t>(made % 2 ? t.comPort : t.port));
                a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
                fds.push_back(fd);
            }
            SleepMs(200);
            for (int fd : fds) {
                int error = 0;
                socklen_t length = sizeof error;
                if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) ++connected;
                close(fd);
            }
        }
        // The client that came first is served throughout.
        Bytes got;
        honest.Send(kCommand);
        for (const auto start = Clock::now(); got.find(kCommand) == Bytes::npos && MsSince(start) < 3000;)
            got += t.radio->Read(1, 100);
        t.radio->Write(kAnswer);
        Bytes heard;
        for (const auto start = Clock::now(); heard.find(kAnswer) == Bytes::npos && MsSince(start) < 3000;)
            heard += honest.ReadSome(100);
        r.served = heard.find(kAnswer) != Bytes::npos;
        r.maxFds = sampler.MaxFds();
    }
    r.served = r.served && t.Served();
    r.After(t);
    r.what = std::to_string(made) + " connections (" + std::to_string(connected) + " connected), " +
             std::to_string(batch) + " at a time";
    return r;
}

int Main(int argc, char** argv) {
    Options o;
    const bool window = std::getenv("OVRIN_BENCH_WINDOW") != nullptr;
    o.limitKb = (window ? 40 : 24) * 1024;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error(a + " needs a value");
            return argv[++i];
        };
        if (a == "--server") o.server = value();
        else if (a == "--run") o.runs.push_back(value());
        else if (a == "--seconds") o.seconds = std::clamp(std::stoi(value()), 2, 600);
        else if (a == "--connections") o.connections = std::clamp(std::stoi(value()), 1, 1000000);
        else {
            std::cout << "Usage: ovrin-abuse --server PATH [--run NAME]... [--seconds 20] [--connections 20000]\n"
                         "  NAME: signature unread flood (all by default)\n";
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    if (o.server.empty()) throw std::runtime_error("--server PATH is required");
    const std::map<std::string, std::function<Result(const Options&)>> all = {
        {"parked", Parked}, {"signature", SignatureLoop}, {"unread", UnreadRadio}, {"flood", Flood}};
    if (o.runs.empty()) o.runs = {"parked", "signature", "unread", "flood"};
    std::cout << "server " << (window ? "with its window (Xvfb)" : "headless") << "; goal: peak under "
              << Mib(o.limitKb) << ", served throughout, memory back after the attacker left\n";
    Verdicts v;
    for (const std::string& name : o.runs) {
        const auto found = all.find(name);
        if (found == all.end()) throw std::runtime_error("no run called " + name);
        try {
            const Result r = found->second(o);
            std::ostringstream f;
            const long heapAfter = r.after.anonKb - r.before.anonKb;
            f << r.what << "; resident " << Mib(r.before.rssKb) << " before, peak (VmHWM) " << Mib(r.peakKb) << ", "
              << Mib(r.after.rssKb) << " 6 s after the attacker left (heap " << (heapAfter >= 0 ? "+" : "")
              << heapAfter << " KiB); at most " << r.maxFds << " descriptors; "
              << (r.served ? "an honest client served" : "an honest client NOT served")
              << (r.alive ? "" : "; the server DIED");
            v.Add(r.alive && r.served && r.peakKb < o.limitKb && heapAfter < kHeapKeptKb, r.name, f.str());
        } catch (const std::exception& e) {
            v.Add(false, name, std::string("aborted: ") + e.what());
        }
    }
    return v.ExitCode();
}

}  // namespace
}  // namespace ovrin::bench

int main(int argc, char** argv) {
    ovrin::bench::InstallCleanup();
    try {
        return ovrin::bench::Main(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ovrin-abuse: %s\n", e.what());
        return 2;
    }
}
