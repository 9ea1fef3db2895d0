// ovrin-faults: fault and load runs against the built server, with a radio on a
// pseudo-terminal and clients on loopback. Each run prints one PASS or FAIL line
// with its figures; the exit status is 1 when any failed.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "Harness.h"

namespace ovrin::bench {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;
constexpr long kFloodRssLimitKb = 64 * 1024;
constexpr double kRefusalLimitMs = 100;
constexpr const char* kFaAnswer = "FA00014074000;";

struct Options {
    std::string server;
    std::vector<std::string> runs;
    int floodSeconds = 60;
    int cycles = 1000;
    int attempts = 50;
    std::size_t chunk = 4096;
    long rssToleranceKb = 1024;
    std::uint64_t seed = 20240601;
};

std::string Fixed(double x, int digits = 1) {
    std::ostringstream o;
    o << std::fixed << std::setprecision(digits) << x;
    return o.str();
}

std::string Mib(long kb) { return Fixed(static_cast<double>(kb) / 1024.0, 1) + " MiB"; }

// The server in its own folder, listening on a free port, COM1 on a pty radio.
struct Bridge {
    std::unique_ptr<PtyRadio> radio = std::make_unique<PtyRadio>();
    ServerProcess server;
    int port = FreeTcpPort();

    explicit Bridge(const std::string& executable) : server(executable) {
        server.LinkCom(1, radio->Device());
        server.WriteSettings(port);
        server.Start();
        if (!WaitListening(port, 10000)) throw std::runtime_error("server did not listen on " + std::to_string(port));
    }

    // A client's command reaches the radio and the radio's answer comes back.
    bool RoundTrip(TcpClient& client, const Bytes& command = "ID;", const Bytes& answer = "ID019;") {
        if (!client.Send(command)) return false;
        if (radio->Read(command.size(), 2000) != command) return false;
        radio->Write(answer);
        return client.Read(answer.size(), 2000) == answer;
    }

    // A new client whose command reaches the radio and whose answer comes back. One
    // refused (its connection ended before the command reached the radio: the
    // server had not yet seen the previous client go) is counted and retried.
    std::unique_ptr<TcpClient> ConnectAccepted(int ms, int* refusals = nullptr) {
        const auto start = Clock::now();
        while (MsSince(start) < ms) {
            auto client = std::make_unique<TcpClient>(port);
            Bytes got;
            if (client->Connected() && client->Send("ID;")) {
                const auto sent = Clock::now();
                while (got.size() < 3 && MsSince(sent) < 1000) {
                    got += radio->Read(3 - got.size(), 5);
                    if (got.empty() && client->WaitEnd(0)) break;
                }
            }
            if (got == "ID;") {
                radio->Write("ID019;");
                if (client->Read(6, 2000) == "ID019;") return client;
            }
            if (refusals) ++*refusals;
            SleepMs(10);
        }
        return nullptr;
    }
};

// 1 MiB of pseudo-random bytes each way. Towards the radio the client streams
// freely. Towards the client the radio may only talk in the client's turn: the
// client sends a short request, the radio answers it with one chunk, the next poll
// forwards the chunk and ends the turn; so the MiB goes as request/chunk pairs.
void Upload(Verdicts& v, const Options& o, Bridge& b, TcpClient& client) {
    const Bytes up = ByteStream(o.seed).Take(kMiB);
    Bytes atRadio;
    std::size_t sent = 0;
    const auto start = Clock::now();
    std::size_t blockSize = 1;
    double lastProgress = 0;
    // Ends when all is in, after 60 s, or when nothing moved for 5 s.
    while (atRadio.size() < up.size() && MsSince(start) < 60000 && MsSince(start) - lastProgress < 5000) {
        pollfd p[2] = {{client.Fd(), static_cast<short>(sent < up.size() ? POLLOUT : 0), 0},
                       {b.radio->Fd(), POLLIN, 0}};
        poll(p, 2, 100);
        if (p[0].revents & POLLOUT) {
            // Block sizes vary from 1 byte to 64 KiB, so small and large reads are both taken.
            blockSize = blockSize >= 65536 ? 1 : blockSize * 4 + 3;
            const std::size_t n = std::min(blockSize, up.size() - sent);
            const ssize_t w = send(client.Fd(), up.data() + sent, n, MSG_NOSIGNAL);
            if (w > 0) {
                sent += static_cast<std::size_t>(w);
                lastProgress = MsSince(start);
            }
        }
        if (p[1].revents & POLLIN) {
            atRadio += b.radio->ReadNow(65536);
            lastProgress = MsSince(start);
        }
    }
    const double upMs = MsSince(start);
    std::size_t upAltered = 0;
    for (std::size_t i = 0; i < std::min(atRadio.size(), up.size()); ++i) upAltered += atRadio[i] != up[i];
    const std::size_t upLost = up.size() - std::min(up.size(), atRadio.size());
    const std::size_t upExtra = atRadio.size() > up.size() ? atRadio.size() - up.size() : 0;
    v.Add(upLost == 0 && upAltered == 0 && upExtra == 0, "transfer client->radio",
          std::to_string(up.size()) + " bytes sent, " + std::to_string(atRadio.size()) + " at the radio, " +
              std::to_string(upLost) + " lost, " + std::to_string(upAltered) + " altered, in " + Fixed(upMs / 1000, 2) +
              " s (" + Fixed(static_cast<double>(up.size()) / 1024 / (upMs / 1000), 0) + " KiB/s)" +
              (b.server.Running() ? "" : "; the server DIED"));
}

void Download(Verdicts& v, const Options& o, Bridge& b, TcpClient& client) {
    // Radio to client. One round first puts the client's requests just after a poll,
    // so every chunk is complete in the driver well before the poll that forwards it.
    if (!client.Send("SYNC;")) return v.Add(false, "transfer radio->client", "the sync request could not be sent");
    if (const Bytes got = b.radio->Read(5, 2000); got != "SYNC;") {
        return v.Add(false, "transfer radio->client",
                     "the sync request did not reach the radio (" + std::to_string(got.size()) + " bytes came)");
    }
    b.radio->Write("OK;");
    if (client.Read(3, 2000) != "OK;") return v.Add(false, "transfer radio->client", "no answer to the sync request");

    ByteStream down(o.seed + 1);
    std::size_t delivered = 0, lost = 0, altered = 0, turns = 0;
    const auto downStart = Clock::now();
    while (delivered + lost < kMiB && MsSince(downStart) < 120000) {
        const Bytes request = "D" + std::to_string(turns++) + ";";
        if (!client.Send(request) || b.radio->Read(request.size(), 2000) != request)
            return v.Add(false, "transfer radio->client", "request " + request + " did not reach the radio");
        const Bytes chunk = down.Take(std::min(o.chunk, kMiB - delivered - lost));
        b.radio->Write(chunk);
        const Bytes got = client.Read(chunk.size(), 3000);
        for (std::size_t i = 0; i < got.size(); ++i) altered += got[i] != chunk[i];
        delivered += got.size();
        if (got.size() < chunk.size()) {
            lost += chunk.size() - got.size();
            SleepMs(200);          // let a late part go by, so it is not taken for the next chunk
            client.Read(1 << 20, 100);
        }
    }
    const double downMs = MsSince(downStart);
    v.Add(lost == 0 && altered == 0 && delivered == kMiB, "transfer radio->client",
          std::to_string(kMiB) + " bytes in " + std::to_string(turns) + " request/answer turns of " +
              std::to_string(o.chunk) + " bytes, " + std::to_string(delivered) + " delivered, " +
              std::to_string(lost) + " lost, " + std::to_string(altered) + " altered, in " +
              Fixed(downMs / 1000, 2) + " s (" + Fixed(downMs / static_cast<double>(turns), 1) + " ms per turn)");
}

// Each direction with a server of its own, so a fault in one leaves the other measurable.
void Transfer(Verdicts& v, const Options& o) {
    for (auto* direction : {&Upload, &Download}) {
        Bridge b(o.server);
        TcpClient client(b.port);
        if (!client.Connected()) return v.Add(false, "transfer", "client could not connect");
        direction(v, o, b, client);
    }
}

// Client to radio only, for repeating the one direction.
void UploadOnly(Verdicts& v, const Options& o) {
    Bridge b(o.server);
    TcpClient client(b.port);
    if (!client.Connected()) return v.Add(false, "upload", "client could not connect");
    Upload(v, o, b, client);
}

// The settings cannot be saved when the program is asked to end (here a folder
// stands where the new file is written). Does SIGTERM still end it, or a second one?
void CloseUnsaved(Verdicts& v, const Options& o) {
    Bridge b(o.server);
    std::filesystem::create_directory(b.server.SettingsPath() + ".new");
    const pid_t pid = b.server.Pid();
    kill(pid, SIGTERM);
    SleepMs(3000);
    const bool endedFirst = !b.server.Running();
    bool endedSecond = endedFirst;
    if (!endedFirst) {
        kill(pid, SIGTERM);
        SleepMs(3000);
        endedSecond = !b.server.Running();
    }
    v.Add(endedFirst || endedSecond, "close-unsaved",
          endedFirst    ? "ended on the first SIGTERM"
          : endedSecond ? "ended on the second SIGTERM"
                        : "still running 3 s after each of two SIGTERMs (a modal save-error box waits for OK; "
                          "further termination requests are ignored)");
}

// Milliseconds until a second client's connection is ended, or -1 when it was not
// within a second.
double RefusalMs(int port) {
    const auto start = Clock::now();
    TcpClient second(port);
    if (!second.Connected()) return -1;
    return second.WaitEnd(1000) ? MsSince(start) : -1;
}

// A client floods for the given time: first half with the radio reading nothing,
// second half reading slowly. Checked meanwhile: memory, refusal of a second client;
// afterwards: every byte reaches the radio in order, an answer still comes back,
// and SIGTERM still saves the settings and ends the program.
void Flood(Verdicts& v, const Options& o) {
    Bridge b(o.server);
    TcpClient client(b.port);
    if (!client.Connected() || !b.RoundTrip(client)) return v.Add(false, "flood", "first client not served");
    std::filesystem::remove(b.server.SettingsPath());
    const long rssStartKb = ReadStats(b.server.Pid()).rssKb;

    ByteStream sender(o.seed + 2), checker(o.seed + 2);
    Bytes pending;
    std::size_t sent = 0, received = 0, altered = 0;
    long peakRssKb = 0;
    std::vector<double> refusals;
    int notRefused = 0;
    const double floodMs = o.floodSeconds * 1000.0;
    const auto start = Clock::now();
    double nextSample = 0, nextProbe = 2500, nextDrain = floodMs / 2;
    auto take = [&](const Bytes& got) {
        for (char c : got) altered += c != checker.Next();
        received += got.size();
    };
    while (MsSince(start) < floodMs) {
        if (pending.empty()) pending = sender.Take(16384);
        pollfd p{client.Fd(), POLLOUT, 0};
        if (poll(&p, 1, 5) > 0 && (p.revents & POLLOUT)) {
            const ssize_t w = send(client.Fd(), pending.data(), pending.size(), MSG_NOSIGNAL);
            if (w > 0) {
                sent += static_cast<std::size_t>(w);
                pending.erase(0, static_cast<std::size_t>(w));
            }
        }
        const double now = MsSince(start);
        if (now >= nextSample) {
            peakRssKb = std::max(peakRssKb, ReadStats(b.server.Pid()).rssKb);
            nextSample = now + 100;
        }
        if (now >= nextProbe) {
            const double ms = RefusalMs(b.port);
            if (ms < 0) ++notRefused;
            else refusals.push_back(ms);
            nextProbe = now + 5000;
        }
        // Second half: about 100 KiB/s drained, 1 KiB every 10 ms.
        if (now >= nextDrain) {
            take(b.radio->ReadNow(1024));
            nextDrain = now + 10;
        }
    }
    const double rateKiBs = static_cast<double>(sent) / 1024 / (floodMs / 1000);
    const bool aliveAfterFlood = b.server.Running();

    // What was accepted from the client must all reach the radio, in order.
    const auto drainStart = Clock::now();
    double lastProgress = 0;
    while (received < sent && MsSince(drainStart) < 60000 && MsSince(drainStart) - lastProgress < 3000) {
        const Bytes got = b.radio->Read(sent - received, 200);
        if (!got.empty()) lastProgress = MsSince(drainStart);
        take(got);
    }
    const double drainMs = MsSince(drainStart);
    const ProcStats after = ReadStats(b.server.Pid());

    // The radio's answer still reaches the client. Its turn may have been ended by
    // the 3 s turn timer during the flood, so a fresh command opens it again.
    bool answered = false;
    for (int attempt = 0; attempt < 2 && !answered; ++attempt) answered = b.RoundTrip(client, "FA;", kFaAnswer);

    const auto termStart = Clock::now();
    const int status = b.server.Terminate(10000);
    const double termMs = MsSince(termStart);
    std::error_code ec;
    const auto saved = std::filesystem::file_size(b.server.SettingsPath(), ec);

    const Summary r = Summarize(refusals);
    const bool memoryOk = after.hwmKb < kFloodRssLimitKb && peakRssKb < kFloodRssLimitKb;
    const bool refusedOk = notRefused == 0 && !refusals.empty() && r.max < kRefusalLimitMs;
    const bool streamOk = received == sent && altered == 0;
    const bool closeOk = status == 0 && !ec && saved == 1033;
    std::ostringstream f;
    f << Fixed(rateKiBs, 0) << " KiB/s offered for " << o.floodSeconds << " s (" << sent / kMiB << " MiB); "
      << "resident " << Mib(rssStartKb) << " before, peak " << Mib(peakRssKb) << " sampled, VmHWM "
      << Mib(after.hwmKb) << " (limit 64 MiB); second clients refused in max " << Fixed(r.max, 1) << " ms ("
      << refusals.size() << " probes, " << notRefused << " not refused); stream at the radio " << received
      << " of " << sent << " bytes, " << altered << " altered (drained in " << Fixed(drainMs / 1000, 1)
      << " s); answer after flood " << (answered ? "received" : "MISSING") << "; SIGTERM: exit " << status << " in "
      << Fixed(termMs, 0) << " ms, settings " << (ec ? std::string("not saved") : std::to_string(saved) + " bytes")
      << (aliveAfterFlood ? "" : "; the server DIED during the flood");
    v.Add(memoryOk && refusedOk && streamOk && answered && closeOk && aliveAfterFlood, "flood", f.str());
}

// The radio's device goes away and comes back (pty closed and its link removed,
// then a new pty linked under the same name): once in a session, once while only
// listening with the port held open.
void Unplug(Verdicts& v, const Options& o) {
    Bridge b(o.server);
    auto first = std::make_unique<TcpClient>(b.port);
    if (!first->Connected() || !b.RoundTrip(*first)) return v.Add(false, "unplug", "first client not served");

    // Mid-session.
    b.radio->Remove();
    b.server.UnlinkCom(1);
    SleepMs(500);
    first->Send("FA;");  // written to a device that is gone
    SleepMs(500);
    const bool aliveUnplugged = b.server.Running();
    b.radio = std::make_unique<PtyRadio>();
    b.server.LinkCom(1, b.radio->Device());
    // The session that lost its device is served again, with no hand at the server.
    const auto back = Clock::now();
    bool sameSessionServed = false;
    while (!sameSessionServed && MsSince(back) < 5000) {
        first->Send("ID;");
        sameSessionServed = b.radio->Read(3, 200) == "ID;";
    }
    const double servedAfterMs = MsSince(back);
    first.reset();
    SleepMs(200);
    int refusals = 0;
    auto next = b.ConnectAccepted(5000, &refusals);
    const bool nextServed = next && b.RoundTrip(*next, "FA;", kFaAnswer);
    next.reset();
    SleepMs(300);

    // Listening, no client, the port held open by the server.
    b.radio->Remove();
    b.server.UnlinkCom(1);
    SleepMs(800);
    const bool aliveListening = b.server.Running();
    b.radio = std::make_unique<PtyRadio>();
    b.server.LinkCom(1, b.radio->Device());
    SleepMs(300);
    auto later = b.ConnectAccepted(5000, &refusals);
    const bool laterServed = later && b.RoundTrip(*later, "FA;", kFaAnswer);
    const bool aliveAtEnd = b.server.Running();

    std::ostringstream f;
    f << "in session: " << (aliveUnplugged ? "alive" : "CRASHED") << " while unplugged, next client "
      << (nextServed ? "served" : "NOT served") << " after replug; while listening: "
      << (aliveListening ? "alive" : "CRASHED") << ", next client " << (laterServed ? "served" : "NOT served")
      << "; connections refused before acceptance: " << refusals << "; the session that lost its device "
      << (sameSessionServed ? "served again " + Fixed(servedAfterMs / 1000, 2) + " s after the device came back"
                            : std::string("NOT served again within 5 s"));
    v.Add(aliveUnplugged && sameSessionServed && nextServed && aliveListening && laterServed && aliveAtEnd,
          "unplug", f.str());
}

// Connect, one command and its answer, disconnect; many times. Descriptors and
// resident memory afterwards are compared with those before.
void Cycles(Verdicts& v, const Options& o) {
    Bridge b(o.server);
    const pid_t pid = b.server.Pid();
    int refusals = 0, failures = 0;
    for (int i = 0; i < 20; ++i) b.ConnectAccepted(2000, &refusals);  // warm-up: caches, first allocations
    SleepMs(1500);
    const ProcStats before = ReadStats(pid);

    const auto start = Clock::now();
    int done = 0;
    for (; done < o.cycles && MsSince(start) < 300000; ++done) {
        if (!b.ConnectAccepted(3000, &refusals)) ++failures;
    }
    const double ms = MsSince(start);
    // A closed connection may linger for up to 5 s while its last bytes go out.
    const auto settle = Clock::now();
    ProcStats after = ReadStats(pid);
    while (after.fds != before.fds && MsSince(settle) < 10000) {
        SleepMs(200);
        after = ReadStats(pid);
    }
    SleepMs(500);
    after = ReadStats(pid);
    const long rssGrowth = after.rssKb - before.rssKb;
    std::ostringstream f;
    f << done << " cycles in " << Fixed(ms / 1000, 1) << " s, " << failures << " failed, " << refusals
      << " connections refused and retried; fds " << before.fds << " -> " << after.fds << "; resident "
      << before.rssKb << " -> " << after.rssKb << " KiB (" << (rssGrowth >= 0 ? "+" : "") << rssGrowth
      << " KiB, tolerance " << o.rssToleranceKb << "); threads " << before.threads << " -> " << after.threads;
    v.Add(done == o.cycles && failures == 0 && after.fds == before.fds && rssGrowth <= o.rssToleranceKb &&
              b.server.Running(),
          "connect cycles", f.str());
}

// A client that leaves and connects again at once: the server has not yet seen the
// old connection end when the new one asks. None may be refused.
void Reconnect(Verdicts& v, const Options& o) {
    Bridge b(o.server);
    int refusals = 0, failures = 0;
    std::unique_ptr<TcpClient> client;
    const int cycles = std::min(o.cycles, 200);
    for (int i = 0; i < cycles; ++i) {
        client.reset();  // closed, and at once the next one connects
        client = b.ConnectAccepted(3000, &refusals);
        if (!client) ++failures;
    }
    v.Add(refusals == 0 && failures == 0 && b.server.Running(), "reconnect at once",
          std::to_string(cycles) + " immediate reconnects: " + std::to_string(refusals) + " refused, " +
              std::to_string(failures) + " not served");
}

// A second client while one is served: how soon its connection is ended.
void Refusal(Verdicts& v, const Options& o) {
    Bridge b(o.server);
    TcpClient first(b.port);
    if (!first.Connected() || !b.RoundTrip(first)) return v.Add(false, "refusal", "first client not served");
    std::vector<double> times;
    int notRefused = 0;
    for (int i = 0; i < o.attempts; ++i) {
        const double ms = RefusalMs(b.port);
        if (ms < 0) ++notRefused;
        else times.push_back(ms);
        SleepMs(20 + (i * 7) % 31);  // spread over the 50 ms poll
    }
    const bool firstStillServed = b.RoundTrip(first, "FA;", kFaAnswer);
    const Summary s = Summarize(times);
    v.Add(notRefused == 0 && s.max < kRefusalLimitMs && firstStillServed, "refusal",
          std::to_string(times.size()) + " of " + std::to_string(o.attempts) + " second clients ended: " +
              Describe(s) + "; first client " + (firstStillServed ? "still served" : "NOT served afterwards"));
}

int Main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error(a + " needs a value");
            return argv[++i];
        };
        if (a == "--server") o.server = value();
        else if (a == "--run") o.runs.push_back(value());
        else if (a == "--flood-seconds") o.floodSeconds = std::stoi(value());
        else if (a == "--cycles") o.cycles = std::stoi(value());
        else if (a == "--attempts") o.attempts = std::stoi(value());
        else if (a == "--chunk") o.chunk = std::stoul(value());
        else if (a == "--seed") o.seed = std::stoull(value());
        else {
            std::cout << "Usage: ovrin-faults --server PATH [--run NAME]... [--flood-seconds 60] [--cycles 1000]\n"
                         "       [--attempts 50] [--chunk 4096] [--seed N]\n"
                         "  NAME: transfer flood unplug cycles refusal (the default set), upload, close-unsaved\n";
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    if (o.server.empty()) throw std::runtime_error("--server PATH is required");
    o.floodSeconds = std::clamp(o.floodSeconds, 2, 600);
    o.cycles = std::clamp(o.cycles, 1, 100000);
    o.attempts = std::clamp(o.attempts, 1, 1000);
    o.chunk = std::clamp<std::size_t>(o.chunk, 1, kMiB);
    const std::map<std::string, std::function<void(Verdicts&, const Options&)>> all = {
        {"transfer", Transfer}, {"upload", UploadOnly}, {"flood", Flood},     {"unplug", Unplug},
        {"cycles", Cycles},     {"refusal", Refusal},  {"close-unsaved", CloseUnsaved}, {"reconnect", Reconnect}};
    if (o.runs.empty()) o.runs = {"transfer", "refusal", "unplug", "reconnect", "cycles", "flood"};
    Verdicts v;
    for (const std::string& name : o.runs) {
        const auto found = all.find(name);
        if (found == all.end()) throw std::runtime_error("no run called " + name);
        try {
            found->second(v, o);
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
        std::fprintf(stderr, "ovrin-faults: %s\n", e.what());
        return 2;
    }
}
