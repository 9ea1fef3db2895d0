#include "net/Inbound.h"

#include <algorithm>
#include <utility>

#include "net/Listener.h"
#include "serial/Ptt.h"
#include "serial/Receive.h"

namespace ovrin {
namespace {

constexpr const char* kRtsQuestion =
    "A command has been received from the remote device to control RTS.\r\r"
    "Do you want to enable [Control RTS as PTT]?\r\r"
    "(You will only be asked this once during this session.)";

const Bytes kPttPrefix = "\x1B\x1B" "ATH";
constexpr std::size_t kPttLength = 6;

bool SerialBacklogFull(frmMain& f) {
    int32_t backlog = 0;
    TryStep([&] { backlog = f.comPort.OutBufferCount(); });
    return backlog >= kMaxSerialBacklog;
}

void ObeyPtt(frmMain& f, PttCommand command) {
    if (command == PttCommand::Key) KeyPTT(f);
    else if (command == PttCommand::Release) ReleasePTT(f);
}

// The first PTT command while RTS control is off asks the user once per run.
bool UserEnablesRtsControl(frmMain& f) {
    if (f.AskedRTSControl) return false;
    f.AskedRTSControl = true;  // before the box: no second question while it is open
    if (f.dialogs.MsgBox(kRtsQuestion, MsgButtons::YesNo, MsgIcon::None, "Enable Hardware Control") != MsgResult::Yes)
        return false;
    f.chkCtrlPTT.SetValue(1);
    f.chkRTS.SetValue(0);
    // As checking the box while Off-line does: a port kept open between clients
    // with RTS control on would, after a restart, open keyed.
    f.chkComPortActiveInListen.SetValue(0);
    return true;
}

void HandlePttCommand(frmMain& f, const Bytes& command) {
    f.LastClientData = command;
    // The command asked about is obeyed, even if other blocks arrived while the
    // question was open.
    if (f.chkCtrlPTT.Value() == 1 || UserEnablesRtsControl(f)) ObeyPtt(f, ClassifyPtt(command));
}

bool EndsWithPttCommand(const Bytes& data) {
    return data.size() >= kPttLength && data.compare(data.size() - kPttLength, kPttPrefix.size(), kPttPrefix) == 0;
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
// A read that ends with the start of a command holds that start back briefly,
// for the rest that may come with the next read.
void HandleClientBlock(frmMain& f, int16_t Index, const Bytes& block) {
    Bytes data;
    data.reserve(block.size());
    for (char byte : block) {
        data += byte;
        if (!EndsWithPttCommand(data)) continue;
        const Bytes command = data.substr(data.size() - kPttLength);
        data.resize(data.size() - kPttLength);
        HandlePttCommand(f, command);
    }
    if (const std::size_t start = PttStartAtEnd(data); start > 0) {
        f.HeldPttBytes[static_cast<std::size_t>(Index)] = data.substr(data.size() - start);
        data.resize(data.size() - start);
        // Held for at most one receive gap of the serial line.
        const int hold = RadioQuietGapMs(f.comPort.Settings(), f.comPort.DeliveryLatencyMs(), true);
        if (!f.tmrPttHold.Enabled() && f.tmrPttHold.Interval() != hold) f.tmrPttHold.SetInterval(hold);
        f.tmrPttHold.Start();
    }
    if (data.empty()) return;
    f.LastClientData = data;
    SubmitToPort(f, Index);
}

}  // namespace

PttCommand ClassifyPtt(const Bytes& block) {
    if (block.size() != kPttLength || block.compare(0, kPttPrefix.size(), kPttPrefix) != 0) return PttCommand::None;
    if (block[5] == '1') return PttCommand::Key;
    if (block[5] == '0') return PttCommand::Release;
    return PttCommand::Other;
}

void tcpServer_DataArrival(frmMain& f, int16_t Index, int32_t /*bytesTotal*/) {
    if (Index < 1 || Index > kMaxClients) return;
    // While the serial line has not drained, the data stay in the socket, so that
    // TCP flow control slows the client down and nothing is lost.
    if (SerialBacklogFull(f)) {
        f.ReadPaused[static_cast<std::size_t>(Index)] = true;
        return;
    }
    int32_t count = 0;
    TryStep([&] { count = f.tcpServer(Index).BytesReceived(); });
    if (count < 1) return;
    Bytes block;
    // A failed read ends the event: the previous block must never be sent again.
    if (!TryStep([&] { block = f.tcpServer(Index).GetData(); }) || block.empty()) return;
    HandleClientBlock(f, Index, std::exchange(f.HeldPttBytes[static_cast<std::size_t>(Index)], {}) + block);
}

void tmrPttHold_Timer(frmMain& f) {
    f.tmrPttHold.Stop();
    for (int16_t i = 1; i <= kMaxClients; ++i) {
        Bytes held = std::exchange(f.HeldPttBytes[static_cast<std::size_t>(i)], {});
        if (held.empty() || !SlotConnected(f, i)) continue;  // its client has gone
        f.LastClientData = held;
        SubmitToPort(f, i);
    }
}

void ResumePausedReads(frmMain& f) {
    for (int16_t i = 1; i <= kMaxClients; ++i) {
        auto& paused = f.ReadPaused[static_cast<std::size_t>(i)];
        if (!paused || SerialBacklogFull(f)) continue;
        paused = false;
        tcpServer_DataArrival(f, i, 0);
    }
}

}  // namespace ovrin
