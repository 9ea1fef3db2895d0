#include "net/Listener.h"

#include <utility>

#include "net/Admission.h"
#include "net/Commands.h"
#include "net/ComPortClient.h"
#include "net/Inbound.h"
#include "serial/SerialPort.h"
#include "serial/Traffic.h"
#include "station/OptionsText.h"
#include "text/Numbers.h"

namespace ovrin {
namespace {


// The close-event handling, as a peer's close runs it.
void HandleCloseEvent(frmMain& f, int16_t Index) {
    if (f.station.ClosingConnection) return;
    f.station.ClosingConnection = true;
    CloseConnection(f, Index);
    f.station.ClosingConnection = false;
}

void OpenFailedForFirstClient(frmMain& f) {
    // Each new client would otherwise add one more box.
    f.station.boxes.ShowOnce("Error opening " + f.station.settings.comPort + "\r\r" + f.station.port.error, MsgIcon::None, "Error");
    HandleCloseEvent(f, 0);
}

std::string RequestLabel(frmMain& f, int32_t requestID) {
    std::string address;
    TryStep([&] { address = f.station.tcpServer.RequestRemoteIP(requestID); });
    return "Client " + (address.empty() ? std::string("?") : address);
}

// A client that has gone, but whose close event has not been handled yet, must
// not hold a slot that a new request needs (a client reconnecting at once is
// the common case). What it sent before leaving still goes to the radio.
void SettleDepartedClients(frmMain& f) {
    for (int16_t i = 1; i <= kMaxClients; ++i) {
        bool gone = false;
        TryStep([&] { gone = SlotConnected(f, i) && f.station.tcpServer(i).PeerGone(); });
        if (!gone) continue;
        int32_t waiting = 0;
        TryStep([&] { waiting = f.station.tcpServer(i).BytesReceived(); });
        if (waiting > 0) tcpServer_DataArrival(f, i, waiting);
        tcpServer_Close(f, i);
    }
}

// The first client gets the serial port opened, or kept as it is when it was kept
// open while listening (a reopen would drop and raise RTS and DTR), and a new
// receive poll. What the radio said while nobody was there belongs to nobody.
bool PrepareSerialPortForFirstClient(frmMain& f) {
    const bool keptOpen = f.station.comPort.PortOpen();
    bool openFailed = false;
    OpenComPort(f, openFailed);
    if (openFailed) return false;
    // A turn still open on a kept port is a departed client's: its answer ends it.
    if (!keptOpen) PortTurnsReset(f);
    if (!f.station.turns.TurnOpen()) TryStep([&] { f.station.comPort.Input(); });
    f.station.tmrRx.Stop();
    f.station.tmrRx.Start();
    return true;
}

void AcceptIntoSlot(frmMain& f, int16_t Slot, int32_t requestID, bool comPortClient) {
    TryStep([&] { f.station.tcpServer.Load(Slot); });  // an element that still exists is reused
    Connection& c = f.station.connections.Open(Slot);
    c.reader = cat::ClientReader(f.station.settings.options.cat);
    ConnectionJoined(f, c.identity);
    TryStep([&] { f.station.tcpServer(Slot).SetLocalPort(0); });
    TryStep([&] { f.station.tcpServer(Slot).Accept(requestID); });
    std::string address;
    TryStep([&] { address = f.station.tcpServer(Slot).RemoteHostIP(); });
    c.label = "Client " + (address.empty() ? std::string("?") : address) + " (slot " + std::to_string(Slot) +
              ", connection " + std::to_string(c.identity) + ")";
    c.address = address;
    TryStep([&] {
        c.connectedMs = f.station.host.MonotonicMs();
        c.connectedWallMs = f.station.host.WallClockMs();
    });
    if (comPortClient) ComPortClientAccepted(f, c);
    f.station.ClientsChanged();
    f.station.state.ClientAccepted();
}

// Runs when the last client goes or all go at once. Throws when a step fails.
void StopServingClients(frmMain& f) {
    // Nobody is left to release a key. Its owner's leaving drops it too, but only
    // later in the close; released here, before the port may close.
    ReleasePTTIfKeyed(f, "every client has gone");
    if (f.station.settings.keepPortOpen == 0) ClosePortDroppingRts(f);
    f.station.tmrRx.Stop();
    f.station.state.LastClientGone();
}

// Clients served at once: what the options allow, or every slot with Bridge.
int ClientLimit(frmMain& f) { return f.station.settings.bridge == 1 ? kMaxClients : std::max(f.station.settings.options.clients, 1); }

std::string LimitReached(frmMain& f) {
    const int limit = ClientLimit(f);
    return "the limit of " + std::to_string(limit) + (limit == 1 ? " client" : " clients") + " is reached";
}

void CloseAndRemove(frmMain& f, int16_t i) {
    Connection* c = f.station.connections.BySlot(i);
    if (c) {
        ComPortClientLeaving(f, *c);
        ConnectionLeft(f, c->identity);
    }
    f.station.tmrHold[static_cast<std::size_t>(i - 1)].Stop();
    f.station.connections.Close(i);
    TryStep([&] { f.station.tcpServer(i).Close(); });
    TryStep([&] { f.station.tcpServer.Unload(i); });
    if (c) RadioAutoInformation(f);  // what the others asked for may change the radio's
}

}  // namespace

std::string ClientLabel(frmMain& f, int16_t Index) {
    if (const Connection* c = f.station.connections.BySlot(Index); c && !c->label.empty()) return c->label;
    std::string address;
    TryStep([&] { address = f.station.tcpServer(Index).RemoteHostIP(); });
    return "Client " + (address.empty() ? std::string("?") : address) + " (slot " + std::to_string(Index) + ")";
}

void WatchTheKeyer(frmMain& f) {
    const ConnectionId owner = f.station.transmitter.Owner();
    f.station.connections.ForEach([&](Connection& c) {
        const bool keyer = c.identity == owner;
        if (keyer == c.watchedClosely) return;
        c.watchedClosely = keyer;
        TryStep([&] { f.station.tcpServer(c.slot).SetFastDeadPeerCheck(keyer); });
    });
}

std::string ListenerPortText(frmMain& f) {
    int32_t port = 0;
    TryStep([&] { port = f.station.tcpServer(0).LocalPort(); });
    return std::to_string(port);
}

bool SlotConnected(frmMain& f, int16_t i) {
    int32_t handle = -1;
    TryStep([&] { handle = f.station.tcpServer(i).SocketHandle(); });
    return handle > 0;
}

bool TestHostPort(frmMain& f) {
    try {
        SocketElement& listener = f.station.tcpServer(0);
        listener.Close();
        listener.SetLocalPort(ToInt32(f.station.settings.hostPort));
        listener.Listen();
        listener.Close();
        return true;
    } catch (const PlatformError& e) {
        TryStep([&] { f.station.tcpServer(0).Close(); });
        f.station.log.Line(LogLevel::Error, "Cannot listen on TCP port " + ListenerPortText(f) + ": " + e.what());
        // "Another application" only when that is so; an address that is not there
        // (or any other cause) is told as the system tells it.
        if (dynamic_cast<const PortInUseError*>(&e))
            // Without a person at the window there is no button to click: the way out is said instead.
            f.station.dialogs.MsgBox("Host Port " + ListenerPortText(f) + " is connected to another application.\r\r" +
                                 (f.station.dialogs.Attended() ? "Select another Local Port then click the Listen button."
                                                       : "Choose another port, or end that application."),
                             MsgButtons::OK, MsgIcon::Exclamation, "Host Port Active");
        else
            f.station.dialogs.MsgBox("Unable to listen on Host Port " + ListenerPortText(f) + ".\r\r" + e.what(),
                             MsgButtons::OK, MsgIcon::Exclamation, "Listen Error");
        return false;
    }
}

void FindFreeSlot(frmMain& f, int16_t& Slot) {
    for (Slot = 1; Slot <= kMaxClients; ++Slot) {
        int32_t handle = -1;
        if (!TryStep([&] { handle = f.station.tcpServer(Slot).SocketHandle(); }) || handle < 0) return;
    }
    Slot = 0;
}

void tcpServer_ConnectionRequest(frmMain& f, int16_t Index, int32_t requestID) {
    if (!AdmitRequest(f, requestID)) return;
    int16_t Slot = 0;
    FindFreeSlot(f, Slot);
    if (Slot == 0 || f.station.connections.Count() >= ClientLimit(f)) {
        SettleDepartedClients(f);
        FindFreeSlot(f, Slot);
    }
    if (Slot == 0) {
        f.station.clientLog.Line(LogLevel::Warning, RequestLabel(f, requestID), RequestLabel(f, requestID) + " refused: " + LimitReached(f));
        return;
    }

    if (f.station.connections.Count() == 0 && !PrepareSerialPortForFirstClient(f)) {
        f.station.log.Line(LogLevel::Warning, RequestLabel(f, requestID) + " refused: the serial port cannot be opened");
        OpenFailedForFirstClient(f);
        return;
    }
    if (f.station.connections.Count() < ClientLimit(f)) {
        AcceptIntoSlot(f, Slot, requestID, IsComPortListener(Index));
        f.station.log.Line(LogLevel::Info, ClientLabel(f, Slot) + " connected");
    } else {
        f.station.clientLog.Line(LogLevel::Warning, RequestLabel(f, requestID),
                         RequestLabel(f, requestID) + " refused: " + LimitReached(f));
    }
}

void tcpServer_Close(frmMain& f, int16_t Index) {
    if (!f.station.ClosingConnection && Index > 0) f.station.log.Line(LogLevel::Info, ClientLabel(f, Index) + " left");
    HandleCloseEvent(f, Index);
}

void tcpServer_Error(frmMain& f, int16_t Index, const std::string& Description) {
    if (Index > 0) {
        f.station.log.Line(LogLevel::Warning, ClientLabel(f, Index) + " lost: " + Description);
        if (const Connection* c = f.station.connections.BySlot(Index))
            f.station.transmitter.OwnerLeft(c->identity, "its connection was lost (" + Description + ")");
    } else {
        f.station.log.Line(LogLevel::Error, "Listening socket failed: " + Description + "; every client closed");
    }
    CloseConnection(f, Index);
}

void tcpServer_AcceptFailed(frmMain& f, int16_t Index, const std::string& Description) {
    const int64_t now = f.station.host.MonotonicMs();
    if (f.station.AcceptFailureLoggedMs >= 0 && now - f.station.AcceptFailureLoggedMs < kAcceptFailureLogMs) {
        ++f.station.AcceptFailuresUnlogged;
        return;
    }
    std::string port;
    TryStep([&] { port = std::to_string(f.station.tcpServer(Index).LocalPort()); });
    const int before = std::exchange(f.station.AcceptFailuresUnlogged, 0);
    f.station.log.Line(LogLevel::Error,
               "Cannot accept a connection on TCP port " + port + ": " + Description +
                   "; still listening, the clients served stay served" +
                   (before > 0 ? " (" + std::to_string(before) + " more failures in the last minute)" : std::string()) +
                   "; logged once a minute");
    f.station.AcceptFailureLoggedMs = now;
}

// The start of a command held back goes to the radio as it is before the close
// (and before a last client's close shuts the port), ended so that it does not
// spoil the next client's first command.
static void WriteHeldBytes(frmMain& f, int16_t Index) {
    for (int16_t i = Index == 0 ? 1 : Index; i <= (Index == 0 ? kMaxClients : Index); ++i)
        if (Connection* c = f.station.connections.BySlot(i)) ClientDeparts(f, *c);
}

void CloseConnection(frmMain& f, int16_t Index) {
    WriteHeldBytes(f, Index);
    // A key whose owner goes is released first, before the port may close.
    for (int16_t i = Index == 0 ? 1 : Index; i <= (Index == 0 ? kMaxClients : Index); ++i)
        if (const Connection* c = f.station.connections.BySlot(i)) f.station.transmitter.OwnerLeft(c->identity, "its client left");
    if (f.station.connections.Count() == 1 || Index == 0) {
        try {
            StopServingClients(f);
        } catch (const PlatformError&) {
            f.station.dialogs.MsgBox("Unable to listen on Port " + ListenerPortText(f), MsgButtons::OK, MsgIcon::None,
                             "Error");
            return;
        }
    }
    if (Index == 0) {
        for (int16_t i = 1; i <= kMaxClients; ++i) CloseAndRemove(f, i);
        if (f.station.state.OffLine()) StopComPortListener(f);
    } else {
        CloseAndRemove(f, Index);
    }
    f.station.ClientsChanged();
}

void GoOffLine(frmMain& f) {
    f.station.state.WentOffLine();
    // Before the port closes: a CAT key's release is written now.
    ReleasePTTIfKeyed(f, "Off-line", true);
    CloseConnection(f, 0);
    int16_t listener = sckClosed;
    TryStep([&] { listener = f.station.tcpServer(0).State(); });
    if (listener == sckListening)
        f.station.log.Line(LogLevel::Info, "Off-line: stopped listening on TCP port " + ListenerPortText(f));
    TryStep([&] { f.station.tcpServer(0).Close(); });
    StopComPortListener(f);
    if (f.station.comPort.PortOpen()) CloseComPort(f);
}

void StartListening(frmMain& f) {
    if (!f.station.state.OffLine()) return;  // listening already, or clients are being served
    try {
        for (int16_t i = 1; i <= kMaxClients; ++i) CloseConnection(f, i);
        if (!TestHostPort(f)) {
            GoOffLine(f);
            return;
        }
        const std::string address = f.station.tcpServer(0).LocalIP();
        f.station.tcpServer(0).Listen();
        f.station.state.Listened();
        StartComPortListener(f);
        f.station.log.Line(LogLevel::Info,
                   "Listening on TCP port " + ListenerPortText(f) + "; clients connect to " + address +
                       "; " + ClientLimits(f.station.settings.options));
        if (f.station.settings.keepPortOpen == 1) {
            bool openFailed = false;
            OpenComPort(f, openFailed);
            if (openFailed) {
                // "Com Port active in Listen Mode" needs the port; the reason stays in
                // the window's tool tips and the log.
                f.station.log.Line(LogLevel::Warning, "Off-line: \"Com Port active in Listen Mode\" needs the serial port");
                GoOffLine(f);
            }
        }
    } catch (const PlatformError&) {
        // A socket or serial call that failed unexpectedly (the listener refusing
        // right after a passed test, say): end in a clean Off-line state.
        TryStep([&] { GoOffLine(f); });
    }
}


}  // namespace ovrin
