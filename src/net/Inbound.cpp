#include "net/Inbound.h"

#include "serial/Ptt.h"
#include "serial/Receive.h"

namespace ovrin {
namespace {

constexpr const char* kRtsQuestion =
    "A command has been received from the remote device to control RTS.\r\r"
    "Do you want to enable [Control RTS as PTT]?\r\r"
    "(You will only be asked this once during this session.)";

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
    return true;
}

}  // namespace

PttCommand ClassifyPtt(const Bytes& block) {
    static const Bytes kPrefix = "\x1B\x1B" "ATH";
    if (block.size() != 6 || block.compare(0, kPrefix.size(), kPrefix) != 0) return PttCommand::None;
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
    f.LastClientData = block;

    const PttCommand command = ClassifyPtt(block);
    if (command == PttCommand::None) {
        SubmitToPort(f, Index);
        return;
    }
    if (f.chkCtrlPTT.Value() == 1 || UserEnablesRtsControl(f)) {
        // The command asked about is obeyed, even if other blocks arrived while
        // the question was open.
        ObeyPtt(f, command);
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
