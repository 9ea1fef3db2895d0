#include "serial/Traffic.h"

#include <algorithm>

#include "line/Framing.h"
#include "model/Outbound.h"
#include "serial/Receive.h"

namespace ovrin {
namespace {

// How long the release of a CAT key may take to leave before the port closes.
constexpr int kReleaseDrainMs = 500;

void Deliver(Station& station, const std::vector<Turns::Delivery>& deliveries) {
    // One write per client: the pieces of one read go out together, in order.
    std::vector<Turns::Delivery> merged;
    for (const auto& d : deliveries) {
        auto same = std::find_if(merged.begin(), merged.end(), [&](const Turns::Delivery& m) { return m.to == d.to; });
        if (same == merged.end()) merged.push_back(d);
        else same->data += d.data;
    }
    for (const auto& d : merged)
        if (Connection* c = station.connections.ById(d.to)) SendToClient(station, *c, c->ForWire(d.data));
}

// Reads what waits and hands it to the turns.
void PassOnRadioData(Station& station, bool lineQuiet) {
    Bytes data;
    TryStep(station.faults, [&] { data = station.comPort.Input(); });
    // A quiet line also settles a held start of the echo.
    if (!data.empty() || lineQuiet) Deliver(station, station.turns.RadioData(data, lineQuiet));
}

// The time the command takes on the line, then the answer wait. A turn in a known
// language waits for the answer wait only for commands the tables cannot place;
// commands that get no answer end it once they are on the line.
void StartAnswerWait(Station& station, std::size_t written) {
    int characterUs = 0;
    TryStep(station.faults, [&] { characterUs = RadioCharacterMicroseconds(station.comPort.Settings()); });
    // What still waits to go out goes first.
    int32_t backlog = 0;
    TryStep(station.faults, [&] { backlog = station.comPort.OutBufferCount(); });
    written = std::max(written, static_cast<std::size_t>(std::max(backlog, 0)));
    const auto onLineMs = static_cast<int>((static_cast<int64_t>(written) * characterUs + 999) / 1000);
    const bool wait = !station.turns.TurnKnown() || station.turns.AwaitsMaybe();
    station.tmrAnswerWait.Stop();
    station.tmrAnswerWait.SetInterval(std::max(1, (wait ? station.settings.options.answerWaitMs : 0) + onLineMs));
    station.tmrAnswerWait.Start();
}

void WriteBlock(Station& station, const Turns::Write& w, bool newTurn) {
    TryStep(station.faults, [&] { station.comPort.Output(w.data); });
    if (newTurn) {
        station.tmrActivePort.Stop();
        station.tmrActivePort.Start();
    }
    StartAnswerWait(station, w.data.size());
}

void TurnEnded(Station& station) {
    station.tmrActivePort.Stop();
    station.tmrAnswerWait.Stop();
    DispatchNextPending(station);
}

void EndRadioBlock(Station& station, bool lineQuiet) {
    station.tmrRxBlock.Stop();
    if (lineQuiet) station.tmrRxGap.Stop();
    PassOnRadioData(station, lineQuiet);
    if (lineQuiet && station.turns.AnswerComplete()) TurnEnded(station);
}

bool RadioBytesWaiting(Station& station) {
    int32_t count = 0;
    TryStep(station.faults, [&] { count = station.comPort.InBufferCount(); });
    return count > 0;
}

// A remote serial port client alone on the radio gets its bytes as they are read:
// with nobody to share the port with, there is no turn to frame.
bool SoleComPortClient(Station& station) {
    if (station.connections.Count() != 1) return false;
    bool comPort = false;
    station.connections.ForEach([&](Connection& c) { comPort = c.IsComPortClient(); });
    return comPort;
}

}  // namespace

void SubmitToPort(Station& station, ConnectionId from, Turns::Block block, bool first) {
    if (!station.comPort.PortOpen()) return;  // dropped, as a closed port would
    const bool newTurn = !station.turns.TurnOpen();
    // What the radio said before this block is written is not its answer.
    if (newTurn) PassOnRadioData(station, true);
    if (auto w = station.turns.Submit(from, std::move(block), first)) WriteBlock(station, *w, newTurn);
    else DispatchNextPending(station);  // behind blocks that waited for the port
    Deliver(station, station.turns.TakeReady());  // answers that needed no radio
}

void SubmitToPort(Station& station, ConnectionId from, Bytes data, bool echoed) {
    SubmitToPort(station, from, Turns::Block{std::move(data), echoed, cat::Language::None, {}, {}});
}

void WriteCatRelease(Station& station, const Bytes& release, bool now) {
    if (!station.comPort.PortOpen()) return;
    if (now) {
        TryStep(station.faults, [&] { station.comPort.Output(release); });
        TryStep(station.faults, [&] { station.comPort.Drain(kReleaseDrainMs); });
        return;
    }
    const cat::Language language = station.turns.RadioLanguage();
    cat::ClientReader reader(language);
    Turns::Block block{{}, true, language, {}, {}};
    for (const cat::Command& c : reader.Feed(release)) block.Add(c.bytes, c.answer);
    // A release in another language than the radio's (clients of both) goes whole.
    if (Bytes rest = reader.TakeHeld(); !rest.empty()) block.Add(rest, {});
    SubmitToPort(station, kServerWrites, std::move(block), true);
}

void DispatchNextPending(Station& station) {
    if (station.turns.TurnOpen() || !station.comPort.PortOpen()) return;
    PassOnRadioData(station, true);
    if (auto w = station.turns.NextParked()) WriteBlock(station, *w, true);
}

void tmrActivePort_Timer(Station& station) {
    PassOnRadioData(station, false);  // what has come so far is still the holder's
    Deliver(station, station.turns.EndTurn());
    TurnEnded(station);
}

void tmrAnswerWait_Timer(Station& station) {
    station.tmrAnswerWait.Stop();
    // A block being gathered may be the answer: look again once it is in.
    if (station.tmrRxGap.Enabled()) station.tmrAnswerWait.Start();
    else if (station.turns.AnswerWaitOver()) TurnEnded(station);
}

void tmrRxGap_Timer(Station& station) { EndRadioBlock(station, true); }

void tmrRxBlock_Timer(Station& station) { EndRadioBlock(station, false); }

void RadioBytesCame(Station& station) {
    if (SoleComPortClient(station) && !station.tmrRxGap.Enabled()) {
        PassOnRadioData(station, true);
        if (station.turns.AnswerComplete()) TurnEnded(station);
        return;
    }
    // In a known language each answer goes as soon as it is whole; the quiet line
    // still passes on a piece of unasked output that never finishes.
    if (station.turns.Framed()) {
        PassOnRadioData(station, false);
        if (station.turns.AnswerComplete()) TurnEnded(station);
    }
    RadioDataArrived(station);
}

void PollRadio(Station& station) {
    // Bytes that came without an arrival event start a block here; a block still
    // being gathered is left to its own timers.
    if (!station.tmrRxGap.Enabled() && RadioBytesWaiting(station)) RadioDataArrived(station);
}

void PaceReceivePoll(Station& station) {
    bool paused = false;
    station.connections.ForEach([&](Connection& c) { paused = paused || c.readPaused; });
    const int ms = paused ? kBusyPollMs : kIdlePollMs;
    if (station.tmrRx.Interval() != ms) station.tmrRx.SetInterval(ms);
}

void ConnectionJoined(Station& station, ConnectionId id) {
    // What the radio said before it came is not for it.
    if (station.tmrRxGap.Enabled() || RadioBytesWaiting(station)) PassOnRadioData(station, false);
    Deliver(station, station.turns.Join(id));
}

void ConnectionLeft(Station& station, ConnectionId id) {
    const bool held = station.turns.TurnOpen();
    station.turns.Leave(id);
    if (held && !station.turns.TurnOpen()) TurnEnded(station);
}

void PortTurnsReset(Station& station) {
    station.turns.Reset();
    station.tmrActivePort.Stop();
    station.tmrAnswerWait.Stop();
}

}  // namespace ovrin
