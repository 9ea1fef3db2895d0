// Fuzz target: the data path between clients and the radio. The input is a small
// program of events (connections, client and radio data, PTT commands, time,
// closes, errors, the serial backlog, the status selection) run against a
// listening server with Bridge on. After every event the target checks:
//  - blocks are parked only behind an open turn;
//  - every block written to the radio is made of bytes one client sent, in their
//    order, each written at most once, and only while that client is connected
//    or as the block it had parked when it left (the turn-taking writes that one
//    when its turn comes), or is one the server writes itself (a CAT key's
//    release, the radio's auto-information);
//  - no block written to the radio holds a PTT command (ESC ESC "ATH" + one byte);
//  - a client receives only bytes the radio sent, in order, each at most once
//    (not all of them: an answer to another client is not its),
//    and none that the radio sent before that client was accepted (besides the
//    server's own answers: a refused key, its auto-information setting);
//  - the receive tick runs while a client is connected, and once the serial
//    backlog has drained (its event, or a tick), no client data is left waiting.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "FuzzSupport.h"
#include "sim/SimPlatform.h"

namespace {

using namespace ovrin;
using fuzz::Escaped;
using fuzz::InputReader;
using fuzz::Require;

const Bytes kPttPrefix = "\x1B\x1B" "ATH";

// What the server writes to the radio itself: a CAT key's release, auto-information
// (several at once when they waited for the port together).
bool ServerWrite(Bytes w) {
    while (!w.empty()) {
        std::size_t n = 0;
        if (w.compare(0, 3, "RX;") == 0) n = 3;
        else if (w.compare(0, 5, Bytes("\x00\x00\x00\x00\x88", 5)) == 0) n = 5;
        else if (w.size() >= 8 && w.compare(0, 2, "\xFE\xFE") == 0 && w.compare(4, 4, Bytes("\x1C\x00\x00\xFD", 4)) == 0) n = 8;
        else if (w.size() >= 4 && w.compare(0, 2, "AI") == 0 && w[3] == ';') n = 4;
        if (n == 0) return false;
        w.erase(0, n);
    }
    return true;
}

// What the server writes after a departed client's unfinished command so that the
// next client's is not joined to it: Kenwood ';' (or "?;" where it would key), the
// CI-V jam code, the 5-byte family's command filled up with a status read.
bool Termination(const Bytes& w) {
    if (w == ";" || w == "?;" || w == "\xFC\xFC\xFC") return true;
    return w.size() >= 1 && w.size() <= 4 && w.back() == '\xE7' &&
           w.find_first_not_of('\0') == w.size() - 1;
}

// What the server answers a client itself: a refused key (a 5-byte one with the
// acknowledgement F0), the client's own auto-information setting.
bool ServerAnswer(const Bytes& a) {
    const bool civNg = a.size() == 6 && a.compare(0, 2, "\xFE\xFE") == 0 && a.compare(4, 2, "\xFA\xFD") == 0;
    return a == "?;" || a == "\xF0" || civNg || (a.size() == 4 && a.compare(0, 2, "AI") == 0 && a[3] == ';');
}

enum Op : uint8_t {
    kConnect,
    kClientSends,
    kClientSendsPtt,
    kRadioSends,
    kRadioEchoes,
    kRadioEchoesAndAnswers,
    kAdvance,
    kPeerCloses,
    kSocketError,
    kToggleCtrlPtt,
    kToggleBacklog,
    kSelectStatus,
    kSendWhileBoxOpen,
    kOpCount
};

class Session {
public:
    explicit Session(uint8_t answerBits) : answerBits_(answerBits) {
        app_.com.OnOutput = [this] { NoteWriter(); };
        app_.Load();
        app_.f.chkBridge.SetValue(1);
        // A read answered from one in hand gets the radio's earlier bytes by design,
        // which the delivery property below would take for bytes said before their
        // time: here reads are only merged while on their way.
        ServerOptions o = app_.f.station.settings.options;
        o.cacheMs = 0;
        app_.f.station.TakeOptions(o);
    }

    void Run(InputReader& in) {
        while (!in.AtEnd()) {
            TopUpAnswers();
            Step(in);
            app_.clock.Advance(0);  // the event loop runs what the event posted before the next one
            Check();
        }
    }

private:
    sim::SimApp app_;
    frmMain& f_ = app_.f;
    uint8_t answerBits_;
    unsigned answersGiven_ = 0;
    // Everything each connection (by socket handle) sent, and how far into it the
    // radio has been written. PTT commands are skipped, so a write is a
    // subsequence of the rest of its writer's stream.
    struct Stream {
        Bytes sent;
        std::size_t written = 0;
    };
    std::map<int32_t, Stream> streams_;
    std::size_t writesChecked_ = 0;
    // Per write, the socket handle of the connection whose turn wrote it (0: none
    // known), as the turns say at the moment of the write.
    std::vector<int32_t> writers_;
    std::map<ConnectionId, int32_t> handleOf_;
    // Everything the radio sent, and how far into it clients have been served.
    Bytes radio_;
    std::array<std::size_t, kMostClients + 1> served_{};
    std::array<ConnectionId, kMostClients + 1> ids_{};
    std::array<Bytes, kMostClients + 1> received_{};
    std::array<std::size_t, kMostClients + 1> blocksSeen_{};
    // Per slot: the connection's socket handle, and how much the radio had sent when it came.
    std::array<int32_t, kMostClients + 1> handles_{};
    std::array<std::size_t, kMostClients + 1> acceptedAt_{};
    bool drained_ = false;

    // Yes/No answers come from the input's first byte, so no question goes unanswered.
    void TopUpAnswers() {
        while (app_.dialogs.answers.size() < 8) {
            const bool yes = (answerBits_ >> (answersGiven_++ % 8)) & 1;
            app_.dialogs.answers.push_back(yes ? MsgResult::Yes : MsgResult::No);
        }
    }

    bool Connected(int16_t i) { return app_.sockets.Exists(i) && app_.Client(i).state == sckConnected; }

    static int16_t ClientIndex(InputReader& in) { return static_cast<int16_t>(in.Byte() % kMostClients + 1); }

    void ClientSends(int16_t i, const Bytes& data) {
        if (data.empty() || !Connected(i)) return;
        streams_[app_.Client(i).handle].sent += data;
        app_.sockets.ClientSends(i, data);
    }

    static Bytes PttCommand(InputReader& in) {
        const uint8_t kind = in.Byte();
        const char last = kind % 4 == 0 ? '1' : kind % 4 == 1 ? '0' : static_cast<char>(kind);
        return kPttPrefix + last;
    }

    void RadioSends(const Bytes& data) {
        radio_ += data;
        app_.com.RadioSends(data);
    }

    void Step(InputReader& in) {
        switch (in.Byte() % kOpCount) {
            case kConnect:
                app_.sockets.RequestConnection("198.51.100." + std::to_string(in.Byte()));
                break;
            case kClientSends: {
                const int16_t i = ClientIndex(in);
                ClientSends(i, in.Chunk(in.Byte()));
                break;
            }
            case kClientSendsPtt: {
                const int16_t i = ClientIndex(in);
                ClientSends(i, PttCommand(in));
                break;
            }
            case kRadioSends:
                RadioSends(in.Chunk(in.Byte()));
                break;
            case kRadioEchoes:
                if (!app_.com.writes.empty()) RadioSends(app_.com.writes.back());
                break;
            case kRadioEchoesAndAnswers: {
                const Bytes answer = in.Chunk(in.Byte());
                RadioSends((app_.com.writes.empty() ? Bytes() : app_.com.writes.back()) + answer);
                break;
            }
            case kAdvance: {
                const int ms = in.Word() % 3101;
                const bool polling = f_.station.tmrRx.Enabled();
                app_.clock.Advance(ms);
                if (polling && app_.com.backlog < kMaxSerialBacklog && ms >= f_.station.tmrRx.Interval()) drained_ = true;
                break;
            }
            case kPeerCloses: {
                const int16_t i = ClientIndex(in);
                if (app_.sockets.Exists(i)) app_.sockets.PeerCloses(i);
                break;
            }
            case kSocketError: {
                const auto i = static_cast<int16_t>(in.Byte() % (kMostClients + 1));
                if (app_.sockets.Exists(i)) app_.sockets.RaiseError(i);
                break;
            }
            case kToggleCtrlPtt:
                f_.chkCtrlPTT.SetValue(f_.chkCtrlPTT.Value() == 1 ? 0 : 1);
                break;
            case kToggleBacklog:
                if (app_.com.backlog < kMaxSerialBacklog) {
                    app_.com.backlog = kMaxSerialBacklog;
                } else {
                    app_.com.LineDrains();
                    drained_ = true;
                }
                break;
            case kSelectStatus:
                f_.cboConn.SetListIndex(in.Byte() % 2);
                break;
            case kSendWhileBoxOpen: {
                // The next message box's nested event loop delivers this client's data.
                const int16_t i = ClientIndex(in);
                const Bytes data = in.Byte() % 2 == 0 ? PttCommand(in) : in.Chunk(in.Byte());
                app_.dialogs.whileOpen = [this, i, data] { ClientSends(i, data); };
                break;
            }
            default:
                break;
        }
    }

    void Check() {
        Require(!app_.dialogs.answers.empty(), "every question was answered from the script");
        Require(f_.station.turns.Clients() == static_cast<std::size_t>(f_.station.connections.Count()),
                "the turns know every connected client and no other", std::to_string(f_.station.turns.Clients()));
        Require(!f_.station.turns.AnyParked() || f_.station.turns.TurnOpen() || !app_.com.PortOpen(),
                "blocks are parked only behind an open turn");
        NoteNewConnections();
        CheckWrites();
        CheckDeliveries();
        CheckNothingLeftWaiting();
    }

    void NoteNewConnections() {
        for (int16_t i = 1; i <= kMostClients; ++i) {
            const auto slot = static_cast<std::size_t>(i);
            const int32_t handle = Connected(i) ? app_.Client(i).handle : 0;
            if (handle != 0 && handle != handles_[slot]) {
                acceptedAt_[slot] = radio_.size();
                served_[slot] = 0;
            }
            handles_[slot] = handle;
            ids_[slot] = f_.station.connections.IdOf(i);
            if (handle != 0) handleOf_[ids_[slot]] = handle;
        }
    }

    void NoteWriter() {
        const ConnectionId id = f_.station.turns.Holder();
        const Connection* c = f_.station.connections.ById(id);
        if (c && Connected(c->slot)) handleOf_[id] = app_.Client(c->slot).handle;
        const auto known = handleOf_.find(id);
        writers_.push_back(known == handleOf_.end() ? 0 : known->second);
    }

    void CheckWrites() {
        const auto& writes = app_.com.writes;
        for (; writesChecked_ < writes.size(); ++writesChecked_) {
            const Bytes& w = writes[writesChecked_];
            Require(w.find(kPttPrefix + '0') == Bytes::npos && w.find(kPttPrefix + '1') == Bytes::npos,
                    "no PTT command reaches the radio", Escaped(w));
            if (ServerWrite(w) || Termination(w)) continue;
            // A departed client's last block may end with the server's termination.
            bool ok = Consume(w, writers_.at(writesChecked_));
            for (std::size_t n = 1; !ok && n <= 4 && n < w.size(); ++n)
                ok = Termination(w.substr(w.size() - n)) && Consume(w.substr(0, w.size() - n), writers_.at(writesChecked_));
            Require(ok, "every block written to the radio is bytes its writer sent, in order, once", Escaped(w));
        }
    }

    // Marks a write as taken from its writer's stream; false when the stream does
    // not hold it after what was written before.
    bool Consume(const Bytes& block, int32_t writer) {
        const auto found = streams_.find(writer);
        if (found == streams_.end()) return false;
        Stream& stream = found->second;
        std::size_t at = stream.written;
        for (char byte : block) {
            at = stream.sent.find(byte, at);
            if (at == Bytes::npos) return false;
            ++at;
        }
        stream.written = at;
        return true;
    }

    // Each client's new bytes are one stretch of the radio's output after what it
    // was served before and after it came (an echo at its start left out).
    void CheckDeliveries() {
        for (int16_t i = 1; i <= kMostClients; ++i) {
            auto& seen = received_[static_cast<std::size_t>(i)];
            if (!app_.sockets.Exists(i)) {
                seen.clear();
                blocksSeen_[static_cast<std::size_t>(i)] = 0;
                continue;
            }
            const auto& blocks = app_.Client(i).sentBlocks;
            auto& counted = blocksSeen_[static_cast<std::size_t>(i)];
            // A reused element keeps what it was sent before; a new one starts empty.
            if (counted > blocks.size() || app_.Client(i).sent.compare(0, seen.size(), seen) != 0) counted = 0;
            Bytes fresh;
            for (; counted < blocks.size(); ++counted)
                if (!ServerAnswer(blocks[counted])) fresh += blocks[counted];
            seen = app_.Client(i).sent;
            if (fresh.empty()) continue;
            // An answer to another client may stand between two pieces of unasked
            // output: what a client gets is the radio's bytes in order, not all of them.
            auto& served = served_[static_cast<std::size_t>(i)];
            std::size_t at = std::max(served, acceptedAt_[static_cast<std::size_t>(i)]);
            for (char byte : fresh) {
                at = at == Bytes::npos ? at : radio_.find(byte, at);
                if (at != Bytes::npos) ++at;
            }
            Require(at != Bytes::npos,
                    "clients receive only radio bytes, in order, each once, none said before they came",
                    "client " + std::to_string(i) + " got \"" + Escaped(fresh) + "\"");
            served = at;
        }
    }

    void CheckNothingLeftWaiting() {
        for (int16_t i = 1; i <= kMostClients; ++i)
            if (Connected(i)) Require(f_.station.tmrRx.Enabled(), "the receive tick runs while a client is connected");
        if (!drained_) return;
        drained_ = false;
        for (int16_t i = 1; i <= kMostClients; ++i) {
            if (!Connected(i)) continue;
            const Bytes& waiting = app_.Client(i).rx;
            Require(waiting.empty(), "no client data left waiting once the backlog has drained",
                    "client " + std::to_string(i) + ": \"" + Escaped(waiting) + "\"");
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    InputReader in(data, size);
    Session session(in.Byte());
    session.Run(in);
    return 0;
}
