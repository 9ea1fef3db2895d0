#include "serial/Traffic.h"

#include "line/Framing.h"
#include "serial/Receive.h"

namespace ovrin {
namespace {

void Deliver(frmMain& f, const std::vector<Turns::Delivery>& deliveries) {
    for (const auto& d : deliveries) {
        if (Connection* c = f.connections.ById(d.to)) {
            const int16_t slot = c->slot;
            TryStep([&] { f.tcpServer(slot).SendData(c->ForWire(d.data)); });
        }
    }
}

// Reads what waits and hands it to the turns.
void PassOnRadioData(frmMain& f, bool lineQuiet) {
    Bytes data;
    TryStep([&] { data = f.comPort.Input(); });
    // A quiet line also settles a held start of the echo.
    if (!data.empty() || lineQuiet) Deliver(f, f.turns.RadioData(data, lineQuiet));
}

// The time the command takes on the line, then the answer wait.
void StartAnswerWait(frmMain& f, std::size_t written) {
    int characterUs = 0;
    TryStep([&] { characterUs = RadioCharacterMicroseconds(f.comPort.Settings()); });
    const auto onLineMs = static_cast<int>((static_cast<int64_t>(written) * characterUs + 999) / 1000);
    f.tmrAnswerWait.Stop();
    f.tmrAnswerWait.SetInterval(f.options.answerWaitMs + onLineMs);
    f.tmrAnswerWait.Start();
}

void WriteBlock(frmMain& f, const Turns::Write& w, bool newTurn) {
    TryStep([&] { f.comPort.Output(w.data); });
    if (newTurn) {
        f.tmrActivePort.Stop();
        f.tmrActivePort.Start();
    }
    StartAnswerWait(f, w.data.size());
}

void TurnEnded(frmMain& f) {
    f.tmrActivePort.Stop();
    f.tmrAnswerWait.Stop();
    DispatchNextPending(f);
}

void EndRadioBlock(frmMain& f, bool lineQuiet) {
    f.tmrRxBlock.Stop();
    if (lineQuiet) f.tmrRxGap.Stop();
    PassOnRadioData(f, lineQuiet);
    if (lineQuiet && f.turns.AnswerComplete()) TurnEnded(f);
}

bool RadioBytesWaiting(frmMain& f) {
    int32_t count = 0;
    TryStep([&] { count = f.comPort.InBufferCount(); });
    return count > 0;
}

// A remote serial port client alone on the radio gets its bytes as they are read:
// with nobody to share the port with, there is no turn to frame.
bool SoleComPortClient(frmMain& f) {
    if (f.connections.Count() != 1) return false;
    bool comPort = false;
    f.connections.ForEach([&](Connection& c) { comPort = c.IsComPortClient(); });
    return comPort;
}

}  // namespace

void SubmitToPort(frmMain& f, ConnectionId from, Bytes data, bool echoed) {
    if (!f.comPort.PortOpen()) return;  // dropped, as a closed port would
    const bool newTurn = !f.turns.TurnOpen();
    // What the radio said before this block is written is not its answer.
    if (newTurn) PassOnRadioData(f, true);
    if (auto w = f.turns.Submit(from, std::move(data), echoed)) WriteBlock(f, *w, newTurn);
    else DispatchNextPending(f);  // behind blocks that waited for the port
}

void DispatchNextPending(frmMain& f) {
    if (f.turns.TurnOpen() || !f.comPort.PortOpen()) return;
    PassOnRadioData(f, true);
    if (auto w = f.turns.NextParked()) WriteBlock(f, *w, true);
}

void tmrActivePort_Timer(frmMain& f) {
    PassOnRadioData(f, false);  // what has come so far is still the holder's
    f.turns.EndTurn();
    TurnEnded(f);
}

void tmrAnswerWait_Timer(frmMain& f) {
    f.tmrAnswerWait.Stop();
    // A block being gathered may be the answer: look again once it is in.
    if (f.tmrRxGap.Enabled()) f.tmrAnswerWait.Start();
    else if (f.turns.AnswerWaitOver()) TurnEnded(f);
}

void tmrRxGap_Timer(frmMain& f) { EndRadioBlock(f, true); }

void tmrRxBlock_Timer(frmMain& f) { EndRadioBlock(f, false); }

void RadioBytesCame(frmMain& f) {
    if (SoleComPortClient(f) && !f.tmrRxGap.Enabled()) {
        PassOnRadioData(f, true);
        if (f.turns.AnswerComplete()) TurnEnded(f);
    } else {
        RadioDataArrived(f);
    }
}

void PollRadio(frmMain& f) {
    // Bytes that came without an arrival event start a block here; a block still
    // being gathered is left to its own timers.
    if (!f.tmrRxGap.Enabled() && RadioBytesWaiting(f)) RadioDataArrived(f);
}

void PaceReceivePoll(frmMain& f) {
    bool paused = false;
    f.connections.ForEach([&](Connection& c) { paused = paused || c.readPaused; });
    const int ms = paused ? kBusyPollMs : kIdlePollMs;
    if (f.tmrRx.Interval() != ms) f.tmrRx.SetInterval(ms);
}

void ConnectionJoined(frmMain& f, ConnectionId id) {
    // What the radio said before it came is not for it.
    if (f.tmrRxGap.Enabled() || RadioBytesWaiting(f)) PassOnRadioData(f, false);
    f.turns.Join(id);
}

void ConnectionLeft(frmMain& f, ConnectionId id) {
    f.transmitter.OwnerLeft(id);
    f.turns.Leave(id);
}

void PortTurnsReset(frmMain& f) {
    f.turns.Reset();
    f.tmrActivePort.Stop();
    f.tmrAnswerWait.Stop();
}

}  // namespace ovrin
