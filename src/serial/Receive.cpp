#include "serial/Receive.h"

#include "net/Inbound.h"
#include "serial/Ptt.h"

namespace ovrin {
namespace {

bool ValidClient(int16_t index) { return index >= 1 && index <= kMaxClients; }

// The radio's block is its echo when it is exactly the block last written. A block
// longer than that (more bytes arrived after the count) is passed on whole, so no
// answer byte is ever discarded with an echo.
bool IsEcho(const frmMain& f, int32_t count, const Bytes& data) {
    return static_cast<std::size_t>(count) == f.LastClientData.size() && data == f.LastClientData;
}

void PollRadio(frmMain& f) {
    int32_t count = 0;
    TryStep([&] { count = f.comPort.InBufferCount(); });
    if (count <= 0) return;

    Bytes data;
    TryStep([&] { data = f.comPort.Input(); });
    if (IsEcho(f, count, data)) return;

    if (ValidClient(f.ActivePort)) TryStep([&] { f.tcpServer(f.ActivePort).SendData(data); });
    f.tmrActivePort.Stop();
    f.ActivePort = 0;
    DispatchNextPending(f);
}

}  // namespace

void tmrRx_Timer(frmMain& f) {
    TryStep([&] { PTTWatchdogCheck(f); });
    PollRadio(f);
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
    TryStep([&] { f.comPort.Output(parked); });
    f.LastClientData = parked;
    parked.clear();
    f.ActivePort = next;
    f.tmrActivePort.Stop();
    f.tmrActivePort.Start();
}

void tmrActivePort_Timer(frmMain& f) {
    DispatchNextPending(f);
}

void SubmitToPort(frmMain& f, int16_t Index) {
    if (!ValidClient(Index)) return;
    if (f.ActivePort == Index || f.ActivePort == 0) {
        TryStep([&] { f.comPort.Output(f.LastClientData); });
        f.PendingData[static_cast<std::size_t>(Index)].clear();
        f.ActivePort = Index;
        f.tmrActivePort.Start();  // a running count is not restarted
    } else {
        f.PendingData[static_cast<std::size_t>(Index)] = f.LastClientData;
    }
}

}  // namespace ovrin
