#include "net/Inbound.h"

#include <algorithm>
#include <utility>

#include "net/Commands.h"
#include "net/ComPortClient.h"
#include "net/Listener.h"
#include "serial/SerialPort.h"

namespace ovrin {
namespace {

std::string RtsQuestion(Station& station) {
    const std::string line = LineName(station.settings.options.pttLine);
    return "A command has been received from the remote device to control " + line + ".\r\r" +
           "Do you want to enable [Control " + line + " as PTT]?\r\r" +
           "(You will only be asked this once during this session.)";
}

const Bytes kPttPrefix = "\x1B\x1B" "ATH";
constexpr std::size_t kPttLength = 6;

// While the serial line has not drained, the data stay in the socket, so that TCP
// flow control slows the client down and nothing is lost; while the RTS question
// is open, so that they keep their order behind the command asked about; while
// what it has parked for its turn, or what waits to be sent to it, is at its bound,
// so that it is slowed down whatever the others do and asking without reading
// makes no answers pile up; while a key of its waits for the radio's frequency,
// so that what it sends behind the key waits in its socket, not in memory.
bool MayRead(Station& station, const Connection& c) {
    return !station.RtsQuestionOpen && c.deferred.empty() && station.path.Accepts(c.identity);
}

void ObeyPtt(Station& station, const Connection& c, PttCommand command) {
    if (command == PttCommand::Key) KeyPTT(station, c, KeyWay::InBand);
    else if (command == PttCommand::Release) ReleasePTT(station, c, KeyWay::InBand);
}

// The first PTT command while RTS control is off asks the user once per run. While
// the box is open, client data wait in their sockets, so that they keep their
// order behind the command asked about.
bool UserEnablesRtsControl(Station& station) {
    if (station.AskedRTSControl) return false;
    station.AskedRTSControl = true;  // before the box: no second question while it is open
    station.RtsQuestionOpen = true;
    MsgResult answer = MsgResult::No;
    try {
        answer = station.dialogs.MsgBox(RtsQuestion(station), MsgButtons::YesNoDefaultNo, MsgIcon::None, "Enable Hardware Control");
    } catch (...) {
        station.RtsQuestionOpen = false;
        throw;
    }
    station.RtsQuestionOpen = false;
    if (answer != MsgResult::Yes) return false;
    // As checking the box while Off-line does: RTS low, and no port kept open
    // between clients.
    station.ChangeSettings(WithBox(station.settings, Box::PttControl, 1));
    return true;
}

// What the asker sent while the question was open is read now, to be handled after
// the block that asked; a release among it means the key is no longer wanted.
bool ReleasedWhileAsked(Station& station, Connection& c) {
    Bytes waiting;
    TryStep(station.faults, [&] {
        if (station.tcpServer(c.slot).BytesReceived() > 0) waiting = station.tcpServer(c.slot).GetData();
    });
    c.bytesIn += waiting.size();
    c.readWhileAsked += waiting;
    return c.readWhileAsked.find(kPttPrefix + '0') != Bytes::npos;
}

void HandlePttCommand(Station& station, ConnectionId who, const Bytes& command) {
    const bool asked = station.settings.pttControl != 1 && !station.AskedRTSControl;
    if (!RtsControlAllowed(station)) return;
    // A client that left while the question was open keys nothing, nor one that
    // released meanwhile.
    Connection* c = station.connections.ById(who);
    const PttCommand kind = ClassifyPtt(command);
    if (!c || (asked && kind == PttCommand::Key && ReleasedWhileAsked(station, *c))) return;
    ObeyPtt(station, *c, kind);
}

// Only the exact commands are taken out; ESC ESC "ATH" and any other byte is data.
bool EndsWithPttCommand(const Bytes& data) {
    return data.size() >= kPttLength && (data.back() == '0' || data.back() == '1') &&
           data.compare(data.size() - kPttLength, kPttPrefix.size(), kPttPrefix) == 0;
}

// How many bytes at the end of a read could be the start of a PTT command.
std::size_t PttStartAtEnd(const Bytes& data) {
    for (std::size_t n = std::min(data.size(), kPttLength - 1); n > 0; --n)
        if (data.compare(data.size() - n, n, kPttPrefix, 0, n) == 0) return n;
    return 0;
}

// TCP merges and splits writes freely, so PTT commands are taken out of a read
// wherever they stand and obeyed in order; the bytes around them go to the radio
// as one block, in their order. Taking them out byte by byte means that no
// command is left in the data, even one that removing another brings together.
// A read that ends with the start of a command holds that start back briefly, on
// the client's own clock, for the rest that may come with the next read.
void HandleClientBlock(Station& station, Connection& c, const Bytes& block) {
    const ConnectionId who = c.identity;
    Bytes data;
    data.reserve(block.size());
    for (char byte : block) {
        data += byte;
        if (!EndsWithPttCommand(data)) continue;
        const Bytes command = data.substr(data.size() - kPttLength);
        data.resize(data.size() - kPttLength);
        HandlePttCommand(station, who, command);
    }
    Connection* const still = station.connections.ById(who);
    if (!still) {  // it left while a question was open: what it sent still goes
        station.path.Submit(who, std::move(data));
        return;
    }
    if (const std::size_t start = PttStartAtEnd(data); start > 0) {
        still->heldPtt = data.substr(data.size() - start);
        data.resize(data.size() - start);
    }
    ClientSends(station, *still, data, true);
}

}  // namespace

bool RtsControlAllowed(Station& station) { return station.settings.pttControl == 1 || UserEnablesRtsControl(station); }

PttCommand ClassifyPtt(const Bytes& block) {
    if (block.size() != kPttLength || block.compare(0, kPttPrefix.size(), kPttPrefix) != 0) return PttCommand::None;
    if (block[5] == '1') return PttCommand::Key;
    if (block[5] == '0') return PttCommand::Release;
    return PttCommand::Other;
}

void tcpServer_DataArrival(Station& station, int16_t Index, int32_t /*bytesTotal*/) {
    Connection* c = station.connections.BySlot(Index);
    if (!c) return;
    if (!MayRead(station, *c)) {
        c->readPaused = true;
        PaceReceivePoll(station);
        return;
    }
    int32_t count = 0;
    TryStep(station.faults, [&] { count = station.tcpServer(Index).BytesReceived(); });
    if (count < 1) return;
    Bytes block;
    // A failed read ends the event: the previous block must never be sent again.
    if (!TryStep(station.faults, [&] { block = station.tcpServer(Index).GetData(); }) || block.empty()) return;
    c->bytesIn += block.size();
    const bool askedBefore = station.AskedRTSControl;
    if (c->IsComPortClient()) {
        if (!ComPortClientData(station, *c, block)) CloseConnection(station, Index);
    } else {
        const ConnectionId who = c->identity;
        HandleClientBlock(station, *c, std::exchange(c->heldPtt, {}) + block);
        if ((c = station.connections.ById(who)) && !c->readWhileAsked.empty())
            HandleClientBlock(station, *c, std::exchange(c->heldPtt, {}) + std::exchange(c->readWhileAsked, {}));
    }
    if (!askedBefore && station.AskedRTSControl) ResumePausedReads(station);  // what waited behind the question
}

void tmrNotReading_Timer(Station& station) {
    station.tmrNotReading.Stop();
    for (int16_t i = 1; i <= kMostClients; ++i) {
        const Connection* c = station.connections.BySlot(i);
        if (!c || !c->notReading) continue;
        station.log.Line(LogLevel::Warning, ClientLabel(station, i) + " closed: it does not read (" +
                                          std::to_string(c->unsentAtBound / 1024) + " KiB waited to be sent to it, " +
                                          std::to_string(c->dropped) + " bytes more dropped)");
        CloseConnection(station, i);
    }
}

void ResumePausedReads(Station& station) {
    for (int16_t i = 1; i <= kMostClients; ++i) {
        const Connection* c = station.connections.BySlot(i);
        if (c && c->readPaused && MayRead(station, *c)) {
            station.tmrReadAgain.Start();
            return;
        }
    }
}

void tmrReadAgain_Timer(Station& station) {
    station.tmrReadAgain.Stop();
    for (int16_t i = 1; i <= kMostClients; ++i) {
        Connection* c = station.connections.BySlot(i);
        if (!c || !c->readPaused || !MayRead(station, *c)) continue;
        c->readPaused = false;
        tcpServer_DataArrival(station, i, 0);
    }
}

void PaceReceivePoll(Station& station) {
    bool paused = false;
    station.connections.ForEach([&](Connection& c) { paused = paused || c.readPaused; });
    const int ms = paused ? kBusyPollMs : kIdlePollMs;
    if (station.tmrRx.Interval() != ms) station.tmrRx.SetInterval(ms);
}

}  // namespace ovrin
