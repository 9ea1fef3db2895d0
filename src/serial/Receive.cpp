#include "serial/Receive.h"

#include <algorithm>

#include "net/Inbound.h"
#include "platform/std/LineSettings.h"
#include "serial/Ptt.h"

namespace ovrin {
namespace {

// A block ends after two character times of quiet line, to the nearest
// millisecond and never under 1 ms: the next byte of a paced answer comes within
// one. A block that comes byte by byte waits three, so that a sender held up for
// a moment (a virtual port, a radio's own USB firmware) does not cut its answer;
// one that came at once is not held up for it.
constexpr int kGapCharacters = 2;
constexpr int kPacedGapCharacters = 3;

bool ValidClient(int16_t index) { return index >= 1 && index <= kMaxClients; }

// The connection radio data go to: the one that holds the port or held it last,
// while that very connection is still there; 0 for none.
int16_t RadioDataRecipient(const frmMain& f) {
    const int16_t slot = f.LastHolderSlot;
    if (!ValidClient(slot) || f.LastHolderIdentity == 0) return 0;
    return f.ConnectionIdentity[static_cast<std::size_t>(slot)] == f.LastHolderIdentity ? slot : 0;
}

// The radio's echo of the block last written is dropped: a block that is exactly
// that block entirely, one that begins with it only the echo part.
Bytes WithoutEcho(const frmMain& f, Bytes data) {
    const Bytes& echo = f.LastClientData;
    if (!echo.empty() && data.compare(0, echo.size(), echo) == 0) data.erase(0, echo.size());
    return data;
}

// Reads what waits and sends all but the echo on; true when something went on.
bool PassOnRadioData(frmMain& f) {
    Bytes data;
    TryStep([&] { data = f.comPort.Input(); });
    const Bytes answer = WithoutEcho(f, std::move(data));
    if (answer.empty()) return false;
    const int16_t to = RadioDataRecipient(f);
    if (to != 0) TryStep([&] { f.tcpServer(to).SendData(answer); });
    return true;
}

void GivePortTo(frmMain& f, int16_t Index) {
    const uint64_t identity = f.ConnectionIdentity[static_cast<std::size_t>(Index)];
    // What the radio said before this block is written belongs to the one who had
    // the port: it is not the answer to this block.
    if (f.LastHolderSlot != Index || f.LastHolderIdentity != identity) PassOnRadioData(f);
    f.ActivePort = Index;
    f.LastHolderSlot = Index;
    f.LastHolderIdentity = identity;
    f.AnswerUnderway = false;
}

void EndTurn(frmMain& f) {
    f.AnswerUnderway = false;
    f.tmrActivePort.Stop();
    f.ActivePort = 0;
    DispatchNextPending(f);
}

// A block that is all echo keeps the turn; the turn passes once an answer has gone
// on and the line is quiet.
void EndRadioBlock(frmMain& f, bool lineQuiet) {
    f.tmrRxBlock.Stop();
    if (lineQuiet) f.tmrRxGap.Stop();
    if (PassOnRadioData(f)) f.AnswerUnderway = true;
    if (lineQuiet && f.AnswerUnderway) EndTurn(f);
}

bool RadioBytesWaiting(frmMain& f) {
    int32_t count = 0;
    TryStep([&] { count = f.comPort.InBufferCount(); });
    return count > 0;
}

}  // namespace

int RadioQuietGapMs(const std::string& settings, int32_t deliveryLatencyMs, bool paced) {
    const LineSettings line = ParseLineSettings(settings).value_or(LineSettings{});
    const int characters = paced ? kPacedGapCharacters : kGapCharacters;
    const int gap = (characters * CharacterMicroseconds(line) + 500) / 1000;
    return std::max(gap, 1) + std::max(deliveryLatencyMs, 0);
}

void RadioDataArrived(frmMain& f) {
    if (!f.tmrRxBlock.Enabled()) f.BlockArrivals = 0;  // a new block
    ++f.BlockArrivals;
    const int gap = RadioQuietGapMs(f.comPort.Settings(), f.comPort.DeliveryLatencyMs(), f.BlockArrivals > 1);
    if (f.tmrRxGap.Interval() != gap) f.tmrRxGap.SetInterval(gap);
    f.tmrRxGap.Stop();
    f.tmrRxGap.Start();
    f.tmrRxBlock.Start();  // a block already growing keeps its age
}

void comPort_OnComm(frmMain& f, CommEvent Event) {
    if (Event == comEvReceive) RadioDataArrived(f);
    else if (Event == comEvSend) ResumePausedReads(f);
}

void tmrRxGap_Timer(frmMain& f) { EndRadioBlock(f, true); }

void tmrRxBlock_Timer(frmMain& f) { EndRadioBlock(f, false); }

void tmrRx_Timer(frmMain& f) {
    TryStep([&] { PTTWatchdogCheck(f); });
    // Bytes that came without an arrival event start a block here; a block still
    // being gathered is left to its own timers.
    if (!f.tmrRxGap.Enabled() && RadioBytesWaiting(f)) RadioDataArrived(f);
    ResumePausedReads(f);
}

void DispatchNextPending(frmMain& f) {
    int16_t next = 0;
    for (int16_t i = 1; i <= kMaxClients && next == 0; ++i)
        if (!f.PendingData[static_cast<std::size_t>(i)].empty()) next = i;
    if (next == 0 || !f.comPort.PortOpen()) {
        f.ActivePort = 0;
        return;
    }
    Bytes& parked = f.PendingData[static_cast<std::size_t>(next)];
    GivePortTo(f, next);
    TryStep([&] { f.comPort.Output(parked); });
    f.LastClientData = parked;
    parked.clear();
    f.tmrActivePort.Stop();
    f.tmrActivePort.Start();
}

void tmrActivePort_Timer(frmMain& f) {
    DispatchNextPending(f);
}

void SubmitToPort(frmMain& f, int16_t Index) {
    if (!ValidClient(Index)) return;
    if (f.ActivePort == Index || f.ActivePort == 0) {
        GivePortTo(f, Index);
        TryStep([&] { f.comPort.Output(f.LastClientData); });
        f.PendingData[static_cast<std::size_t>(Index)].clear();
        f.tmrActivePort.Start();  // a running count is not restarted
    } else {
        f.PendingData[static_cast<std::size_t>(Index)] = f.LastClientData;
    }
}

}  // namespace ovrin
