// ovrin-bench: the speed and memory figures of the built server, measured in one
// run side by side with ser2net, each bridging a radio simulator on its own
// pseudo-terminal to a loopback TCP port.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <numeric>
#include <random>
#include <sstream>
#include <vector>

#include "Harness.h"

namespace ovrin::bench {
namespace {

constexpr double kPollMs = 50;
constexpr const char* kCommand = "FA;";
constexpr const char* kAnswer = "FA00014074000;";

struct Options {
    std::string server, sim, ser2net = "/usr/sbin/ser2net";
    int commands = 400;
    int idleSeconds = 30;
    int starts = 20;
    std::uint32_t seed = 7;
};

std::string Fixed(double x, int digits = 2) {
    std::ostringstream o;
    o << std::fixed << std::setprecision(digits) << x;
    return o.str();
}

std::string Verdict(bool met) { return met ? "met" : "MISSED"; }

// A radio simulator answering CAT commands at once, on a pty of its own.
struct Radio {
    TempDir dir{"radio"};
    Child process;
    std::string device;

    Radio(const Options& o, const std::string& link, const std::string& name) {
        std::vector<std::string> argv = {o.sim, "--mode", "cat", "--delay", "0"};
        if (!link.empty()) argv.insert(argv.end(), {"--link", link});
        // OVRIN_BENCH_SIMLOG=DIR keeps each simulator's log of the bytes both ways.
        if (const char* logs = std::getenv("OVRIN_BENCH_SIMLOG"))
            argv.insert(argv.end(), {"--log", std::string(logs) + "/" + name + ".log"});
        process = Child(argv, dir.Path() + "/sim.log", true);
        device = process.ReadLine(5000);
        if (device.empty()) throw std::runtime_error("the radio simulator printed no device");
    }
};

// Our server with its simulator on COM1.
struct Ours {
    ServerProcess server;
    std::unique_ptr<Radio> radio;
    int port = FreeTcpPort();

    explicit Ours(const Options& o) : server(o.server) {
        radio = std::make_unique<Radio>(o, server.ComLink(1), "radio-ovrin");
        server.WriteSettings(port);
    }
    void Start() {
        server.Start();
        if (!WaitListening(port, 10000)) throw std::runtime_error("our server did not listen");
    }
};

// ser2net, configured for the same kind of line on another pty.
struct Ser2net {
    TempDir dir{"ser2net"};
    std::unique_ptr<Radio> radio;
    Child process;
    int port = FreeTcpPort();
    const Options& options;

    explicit Ser2net(const Options& o) : options(o) {
        radio = std::make_unique<Radio>(o, "", "radio-ser2net");
        std::ofstream(dir.Path() + "/ser2net.yaml") << "%YAML 1.1\n---\n"
                                                     << "connection: &radio\n"
                                                     << "  accepter: tcp,127.0.0.1," << port << "\n"
                                                     << "  connector: serialdev," << radio->device
                                                     << ",9600n82,local\n";
    }
    // Milliseconds from the fork to the listening socket.
    double Start() {
        double ms = 0;
        const auto t0 = Clock::now();
        process = Child({options.ser2net, "-n", "-u", "-c", dir.Path() + "/ser2net.yaml", "-P", dir.Path() + "/pid"},
                        dir.Path() + "/ser2net.log");
        const double forked = MsSince(t0);
        if (!WaitListening(port, 10000, &ms)) throw std::runtime_error("ser2net did not listen");
        return forked + ms;
    }
};

double PercentOfCore(const ProcStats& a, const ProcStats& b, double wallMs) {
    return 100.0 * (b.cpuSeconds - a.cpuSeconds) / (wallMs / 1000.0);
}
double SchedPercent(const ProcStats& a, const ProcStats& b, double wallMs) {
    return 100.0 * (b.schedSeconds - a.schedSeconds) / (wallMs / 1000.0);
}

// Time from fork to a listening socket, over several starts of each server.
void StartUp(const Options& o) {
    std::vector<double> ours, theirs;
    for (int i = 0; i < o.starts; ++i) {
        ServerProcess s(o.server);
        PtyRadio radio;
        const int port = FreeTcpPort();
        s.LinkCom(1, radio.Device());
        s.WriteSettings(port);
        double ms = 0;
        const auto t0 = Clock::now();
        s.Start();
        const double forked = MsSince(t0);
        if (WaitListening(port, 10000, &ms)) ours.push_back(forked + ms);
        s.Terminate(5000);
    }
    for (int i = 0; i < o.starts; ++i) {
        Ser2net s(o);
        theirs.push_back(s.Start());
        s.process.Terminate(5000);
    }
    const Summary a = Summarize(ours), b = Summarize(theirs);
    std::cout << "\n## Start to listening (" << o.starts << " starts each; fork to LISTEN in /proc/net/tcp*)\n"
              << "ovrin-server: " << Describe(a) << "\n"
              << "ser2net:      " << Describe(b) << "\n"
              << "goal: ovrin-server listening within 500 ms of start (max " << Fixed(a.max, 1)
              << " ms): " << Verdict(a.n == static_cast<std::size_t>(o.starts) && a.max < 500) << "\n";
}

// One command, timed from just before it is sent until its whole answer is in.
// An answer missing after 2 s is counted and reported, and the run goes on.
void RoundTrip(TcpClient& c, const char* who, std::vector<double>& times, int& missing) {
    const auto t0 = Clock::now();
    if (!c.Send(kCommand)) throw std::runtime_error(std::string(who) + ": send failed");
    const Bytes got = c.ReadUntil(';', 2000);
    const double ms = MsSince(t0);
    if (got == kAnswer) {
        times.push_back(ms);
        return;
    }
    ++missing;
    const std::time_t now = std::time(nullptr);
    char when[16];
    std::strftime(when, sizeof when, "%H:%M:%S", std::localtime(&now));
    std::cerr << who << ": no answer within 2 s at " << when << " (got '" << got << "'); going on\n";
    c.Read(1 << 20, 300);  // a late answer must not be taken for the next one
}

void Run(const Options& o) {
    std::mt19937 random(o.seed);
    Ours ours(o);
    Ser2net theirs(o);
    ours.Start();
    theirs.Start();
    const pid_t pa = ours.server.Pid(), pb = theirs.process.Pid();
    SleepMs(2000);

    // Idle, listening.
    {
        const ProcStats a0 = ReadStats(pa), b0 = ReadStats(pb);
        const auto t0 = Clock::now();
        SleepMs(o.idleSeconds * 1000.0);
        const double wall = MsSince(t0);
        const ProcStats a1 = ReadStats(pa), b1 = ReadStats(pb);
        const double pct = PercentOfCore(a0, a1, wall);
        std::cout << "\n## Idle, listening, no client (" << Fixed(wall / 1000, 1) << " s)\n"
                  << "ovrin-server: " << Fixed(a1.cpuSeconds - a0.cpuSeconds, 2) << " CPU s = " << Fixed(pct, 3)
                  << " % of a core (on-CPU time from schedstat " << Fixed(SchedPercent(a0, a1, wall), 3) << " %)\n"
                  << "ser2net:      " << Fixed(b1.cpuSeconds - b0.cpuSeconds, 2) << " CPU s = "
                  << Fixed(PercentOfCore(b0, b1, wall), 3) << " % (schedstat " << Fixed(SchedPercent(b0, b1, wall), 3)
                  << " %)\n"
                  << "goal: ovrin-server under 0.3 % of a core: " << Verdict(pct < 0.3) << "\n";
    }

    TcpClient ca(ours.port), cb(theirs.port);
    if (!ca.Connected() || !cb.Connected()) throw std::runtime_error("a client could not connect");
    std::vector<double> warmUp;
    int missingOurs = 0, missingTheirs = 0;
    for (int i = 0; i < 5; ++i) {
        RoundTrip(ca, "ovrin-server", warmUp, missingOurs);
        RoundTrip(cb, "ser2net", warmUp, missingTheirs);
    }

    // Idle, on-line: a client connected that sends nothing.
    {
        SleepMs(1000);
        const ProcStats a0 = ReadStats(pa), b0 = ReadStats(pb);
        const auto t0 = Clock::now();
        SleepMs(o.idleSeconds * 1000.0);
        const double wall = MsSince(t0);
        const ProcStats a1 = ReadStats(pa), b1 = ReadStats(pb);
        const double pct = PercentOfCore(a0, a1, wall);
        std::cout << "\n## Idle, on-line, one client connected and silent (" << Fixed(wall / 1000, 1) << " s)\n"
                  << "ovrin-server: " << Fixed(a1.cpuSeconds - a0.cpuSeconds, 2) << " CPU s = " << Fixed(pct, 3)
                  << " % of a core (schedstat " << Fixed(SchedPercent(a0, a1, wall), 3) << " %)\n"
                  << "ser2net:      " << Fixed(b1.cpuSeconds - b0.cpuSeconds, 2) << " CPU s = "
                  << Fixed(PercentOfCore(b0, b1, wall), 3) << " % (schedstat " << Fixed(SchedPercent(b0, b1, wall), 3)
                  << " %)\n"
                  << "goal: ovrin-server under 1 % of a core: " << Verdict(pct < 1.0) << "\n";
    }

    // Round trips. Our server answers on its 50 ms poll, so a command's wait depends
    // on where in the poll period it arrives. Stratified: command i is sent at phase
    // (j+0.5)/N of the period after the last answer (j a shuffled 0..N-1), so the
    // phases cover the period evenly and the percentiles carry no sampling noise
    // from the phase. Random: each command after a uniformly random pause.
    const ProcStats a0 = ReadStats(pa), b0 = ReadStats(pb);
    const auto runStart = Clock::now();
    std::vector<double> stratOurs, stratTheirs, randOurs, randTheirs, phases;
    std::vector<int> order(static_cast<std::size_t>(o.commands));
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), random);
    Clock::time_point anchor = Clock::now();
    for (int i = 0; i < o.commands; ++i) {
        const double phase = (order[static_cast<std::size_t>(i)] + 0.5) * kPollMs / o.commands;
        phases.push_back(phase);
        double at = phase;
        while (at < MsSince(anchor) + 2) at += kPollMs;
        SleepMs(at - MsSince(anchor));
        RoundTrip(ca, "ovrin-server", stratOurs, missingOurs);
        anchor = Clock::now();  // the answer left on a poll: the next polls follow every 50 ms
        SleepMs(std::uniform_real_distribution<double>(0, 5)(random));
        RoundTrip(cb, "ser2net", stratTheirs, missingTheirs);
    }
    std::uniform_real_distribution<double> pause(0, 2 * kPollMs);
    for (int i = 0; i < o.commands; ++i) {
        SleepMs(pause(random));
        RoundTrip(ca, "ovrin-server", randOurs, missingOurs);
        SleepMs(pause(random));
        RoundTrip(cb, "ser2net", randTheirs, missingTheirs);
    }
    const double wall = MsSince(runStart);
    const ProcStats a1 = ReadStats(pa), b1 = ReadStats(pb);

    const Summary so = Summarize(stratOurs), st = Summarize(stratTheirs);
    const Summary ro = Summarize(randOurs), rt = Summarize(randTheirs);
    std::cout << "\n## Round trip of FA; -> FA00014074000; (simulator --delay 0), ms\n"
              << "stratified phase, " << o.commands << " commands each:\n"
              << "  ovrin-server: " << Describe(so) << "\n"
              << "  ser2net:      " << Describe(st) << "\n"
              << "random pauses 0..100 ms, " << o.commands << " commands each:\n"
              << "  ovrin-server: " << Describe(ro) << "\n"
              << "  ser2net:      " << Describe(rt) << "\n"
              << "answers missing after 2 s: ovrin-server " << missingOurs << ", ser2net " << missingTheirs << "\n"
              << "goal: p50 within 1 ms of 25 ms (stratified " << Fixed(so.p50) << "): "
              << Verdict(std::fabs(so.p50 - 25) <= 1) << "\n"
              << "goal: p99 under 51 ms (stratified " << Fixed(so.p99) << ", random " << Fixed(ro.p99)
              << "): " << Verdict(so.p99 < 51 && ro.p99 < 51) << "\n";

    std::cout << "\n## CPU and memory over the round-trip run (" << Fixed(wall / 1000, 1) << " s, "
              << 2 * o.commands << " commands each)\n"
              << "ovrin-server: " << Fixed(a1.cpuSeconds - a0.cpuSeconds, 2) << " CPU s (utime+stime), "
              << Fixed(PercentOfCore(a0, a1, wall), 2) << " % of a core; VmHWM " << a1.hwmKb << " KiB ("
              << Fixed(a1.hwmKb / 1024.0, 1) << " MiB), VmRSS " << a1.rssKb << " KiB, " << a1.threads
              << " threads\n"
              << "ser2net:      " << Fixed(b1.cpuSeconds - b0.cpuSeconds, 2) << " CPU s (utime+stime), "
              << Fixed(PercentOfCore(b0, b1, wall), 2) << " % of a core; VmHWM " << b1.hwmKb << " KiB ("
              << Fixed(b1.hwmKb / 1024.0, 1) << " MiB), VmRSS " << b1.rssKb << " KiB, " << b1.threads
              << " threads\n"
              << "goal: ovrin-server resident memory under 40 MiB (VmHWM " << Fixed(a1.hwmKb / 1024.0, 1)
              << " MiB): " << Verdict(a1.hwmKb < 40 * 1024) << "\n";
    if (std::getenv("OVRIN_BENCH_DUMP")) {
        std::ofstream dump(std::getenv("OVRIN_BENCH_DUMP"));
        // Phases line up with our stratified times only when none was missing.
        for (std::size_t i = 0; i < stratOurs.size(); ++i)
            dump << "stratified-ours " << stratOurs[i] << " " << (missingOurs == 0 ? phases[i] : -1) << "\n";
        for (double ms : stratTheirs) dump << "stratified-ser2net " << ms << "\n";
        for (double ms : randOurs) dump << "random-ours " << ms << "\n";
        for (double ms : randTheirs) dump << "random-ser2net " << ms << "\n";
    }
}

int Main(int argc, char** argv) {
    Options o;
    bool startUpOnly = false, skipStartUp = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error(a + " needs a value");
            return argv[++i];
        };
        if (a == "--server") o.server = value();
        else if (a == "--sim") o.sim = value();
        else if (a == "--ser2net") o.ser2net = value();
        else if (a == "--commands") o.commands = std::stoi(value());
        else if (a == "--idle-seconds") o.idleSeconds = std::stoi(value());
        else if (a == "--starts") o.starts = std::stoi(value());
        else if (a == "--seed") o.seed = static_cast<std::uint32_t>(std::stoul(value()));
        else if (a == "--start-up-only") startUpOnly = true;
        else if (a == "--skip-start-up") skipStartUp = true;
        else {
            std::cout << "Usage: ovrin-bench --server PATH --sim PATH [--ser2net PATH] [--commands 400]\n"
                         "       [--idle-seconds 30] [--starts 20] [--seed N] [--start-up-only|--skip-start-up]\n";
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    if (o.server.empty() || o.sim.empty()) throw std::runtime_error("--server and --sim are required");
    o.commands = std::clamp(o.commands, 10, 100000);
    o.idleSeconds = std::clamp(o.idleSeconds, 1, 600);
    o.starts = std::clamp(o.starts, 1, 200);
    if (!skipStartUp) StartUp(o);
    if (!startUpOnly) Run(o);
    return 0;
}

}  // namespace
}  // namespace ovrin::bench

int main(int argc, char** argv) {
    ovrin::bench::InstallCleanup();
    try {
        return ovrin::bench::Main(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ovrin-bench: %s\n", e.what());
        return 2;
    }
}
