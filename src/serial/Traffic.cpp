#include "serial/Traffic.h"

#include <algorithm>

#include "line/Framing.h"
#include "model/Outbound.h"
#include "serial/Receive.h"

namespace ovrin {
namespace {

// How long the release of a CAT key may take to leave before the port closes.
constexpr int kReleaseDrainMs = 500;

void Deliver(frmMain& f, const std::vector<Turns::Delivery>& deliveries) {
    // One write per client: the pieces of one read go out together, in order.
    std::vector<Turns::Delivery> merged;
    for (const auto& d : deliveries) {
        auto same = std::find_if(merged.begin(), merged.end(), [&](const Turns::Delivery& m) { return m.to == d.to; });
        if (same == merged.end()) merged.push_back(d);
        else same->data += d.data;
    }
    for (const auto& d : merged)
        if (Connection* c = f.station.connections.ById(d.to)) SendToClient(f, *c, c->ForWire(d.data));
}

// Reads what waits and hands it to the turns.
void PassOnRadioData(frmMain& f, bool lineQuiet) {
    Bytes data;
    TryStep([&] { data = f.station.comPort.Input(); });
    // A quiet line also settles a held start of the echo.
    if (!data.empty() || lineQuiet) Deliver(f, f.station.turns.RadioData(data, lineQuiet));
}

// The time the command takes on the line, then the answer wait. A turn in a known
// language waits for the answer wait only for commands the tables cannot place;
// commands that get no answer end it once they are on the line.
void StartAnswerWait(frmMain& f, std::size_t written) {
    int characterUs = 0;
    TryStep([&] { characterUs = RadioCharacterMicroseconds(f.station.comPort.Settings()); });
    // What still waits to go out goes first.
    int32_t backlog = 0;
    TryStep([&] { backlog = f.station.comPort.OutBufferCount(); });
    written = std::max(written, static_cast<std::size_t>(std::max(backlog, 0)));
    const auto onLineMs = static_cast<int>((static_cast<int64_t>(written) * characterUs + 999) / 1000);
    const bool wait = !f.station.turns.TurnKnown() || f.station.turns.AwaitsMaybe();
    f.station.tmrAnswerWait.Stop();
    f.station.tmrAnswerWait.SetInterval(std::max(1, (wait ? f.station.settings.options.answerWaitMs : 0) + onLineMs));
    f.station.tmrAnswerWait.Start();
}

void WriteBlock(frmMain& f, const Turns::Write& w, bool newTurn) {
    TryStep([&] { f.station.comPort.Output(w.data); });
    if (newTurn) {
        f.station.tmrActivePort.Stop();
        f.station.tmrActivePort.Start();
    }
    StartAnswerWait(f, w.data.size());
}

void TurnEnded(frmMain& f) {
    f.station.tmrActivePort.Stop();
    f.station.tmrAnswerWait.Stop();
    DispatchNextPending(f);
}

void EndRadioBlock(frmMain& f, bool lineQuiet) {
    f.station.tmrRxBlock.Stop();
    if (lineQuiet) f.station.tmrRxGap.Stop();
    PassOnRadioData(f, lineQuiet);
    if (lineQuiet && f.station.turns.AnswerComplete()) TurnEnded(f);
}

bool RadioBytesWaiting(frmMain& f) {
    int32_t count = 0;
    TryStep([&] { count = f.station.comPort.InBufferCount(); });
    return count > 0;
}

// A remote serial port client alone on the radio gets its bytes as they are read:
// with nobody to share the port with, there is no turn to frame.
bool SoleComPortClient(frmMain& f) {
    if (f.station.connections.Count() != 1) return false;
    bool comPort = false;
    f.station.connections.ForEach([&](Connection& c) { comPort = c.IsComPortClient(); });
    return comPort;
}

}  // namespace

void SubmitToPort(frmMain& f, ConnectionId from, Turns::Block block, bool first) {
    if (!f.station.comPort.PortOpen()) return;  // dropped, as a closed port would
    const bool newTurn = !f.station.turns.TurnOpen();
    // What the radio said before this block is written is not its answer.
    if (newTurn) PassOnRadioData(f, true);
    if (auto w = f.station.turns.Submit(from, std::move(block), first)) WriteBlock(f, *w, newTurn);
    else DispatchNextPending(f);  // behind blocks that waited for the port
}

void SubmitToPort(frmMain& f, ConnectionId from, Bytes data, bool echoed) {
    SubmitToPort(f, from, Turns::Block{std::move(data), echoed, cat::Language::None, {}, {}});
}

void WriteCatRelease(frmMain& f, const Bytes& release, bool now) {
    if (!f.station.comPort.PortOpen()) return;
    if (now) {
        TryStep([&] { f.station.comPort.Output(release); });
        TryStep([&] { f.station.comPort.Drain(kReleaseDrainMs); });
        return;
    }
    const cat::Language language = f.station.turns.RadioLanguage();
    cat::ClientReader reader(language);
    Turns::Block block{{}, true, language, {}, {}};
    for (const cat::Command& c : reader.Feed(release)) block.Add(c.bytes, c.answer);
    // A release in another language than the radio's (clients of both) goes whole.
    if (Bytes rest = reader.TakeHeld(); !rest.empty()) block.Add(rest, {});
    SubmitToPort(f, kServerWrites, std::move(block), true);
}

void DispatchNextPending(frmMain& f) {
    if (f.station.turns.TurnOpen() || !f.station.comPort.PortOpen()) return;
    PassOnRadioData(f, true);
    if (auto w = f.station.turns.NextParked()) WriteBlock(f, *w, true);
}

void tmrActivePort_Timer(frmMain& f) {
    PassOnRadioData(f, false);  // what has come so far is still the holder's
    Deliver(f, f.station.turns.EndTurn());
    TurnEnded(f);
}

void tmrAnswerWait_Timer(frmMain& f) {
    f.station.tmrAnswerWait.Stop();
    // A block being gathered may be the answer: look again once it is in.
    if (f.station.tmrRxGap.Enabled()) f.station.tmrAnswerWait.Start();
    else if (f.station.turns.AnswerWaitOver()) TurnEnded(f);
}

void tmrRxGap_Timer(frmMain& f) { EndRadioBlock(f, true); }

void tmrRxBlock_Timer(frmMain& f) { EndRadioBlock(f, false); }

void RadioBytesCame(frmMain& f) {
    if (SoleComPortClient(f) && !f.station.tmrRxGap.Enabled()) {
        PassOnRadioData(f, true);
        if (f.station.turns.AnswerComplete()) TurnEnded(f);
        return;
    }
    // In a known language each answer goes as soon as it is whole; the quiet line
    // still passes on a piece of unasked output that never finishes.
    if (f.station.turns.Framed()) {
        PassOnRadioData(f, false);
        if (f.station.turns.AnswerComplete()) TurnEnded(f);
    }
    RadioDataArrived(f);
}

void PollRadio(frmMain& f) {
    // Bytes that came without an arrival event start a block here; a block still
    // being gathered is left to its own timers.
    if (!f.station.tmrRxGap.Enabled() && RadioBytesWaiting(f)) RadioDataArrived(f);
}

void PaceReceivePoll(frmMain& f) {
    bool paused = false;
    f.station.connections.ForEach([&](Connection& c) { paused = paused || c.readPaused; });
    const int ms = paused ? kBusyPollMs : kIdlePollMs;
    if (f.station.tmrRx.Interval() != ms) f.station.tmrRx.SetInterval(ms);
}

void ConnectionJoined(frmMain& f, ConnectionId id) {
    // What the radio said before it came is not for it.
    if (f.station.tmrRxGap.Enabled() || RadioBytesWaiting(f)) PassOnRadioData(f, false);
    Deliver(f, f.station.turns.Join(id));
}

void ConnectionLeft(frmMain& f, ConnectionId id) {
    const bool held = f.station.turns.TurnOpen();
    f.station.turns.Leave(id);
    if (held && !f.station.turns.TurnOpen()) TurnEnded(f);
}

void PortTurnsReset(frmMain& f) {
    f.station.turns.Reset();
    f.station.tmrActivePort.Stop();
    f.station.tmrAnswerWait.Stop();
}

}  // namespace ovrin
