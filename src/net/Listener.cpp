#include "net/Listener.h"

#include <utility>

#include "net/Admission.h"
#include "net/Commands.h"
#include "net/ComPortClient.h"
#include "net/Inbound.h"
#include "serial/SerialPort.h"
#include "station/OptionsText.h"
#include "text/Numbers.h"

namespace ovrin {
namespace {


// The close-event handling, as a peer's close runs it.
void HandleCloseEvent(Station& station, int16_t Index) {
    if (station.ClosingConnection) return;
    station.ClosingConnection = true;
    CloseConnection(station, Index);
    station.ClosingConnection = false;
}

void OpenFailedForFirstClient(Station& station) {
    // Each new client would otherwise add one more box.
    station.boxes.ShowOnce("Error opening " + station.settings.comPort + "\r\r" + station.port.error, MsgIcon::None, "Error");
    HandleCloseEvent(station, 0);
}

std::string RequestLabel(Station& station, int32_t requestID) {
    std::string address;
    TryStep(station.faults, [&] { address = station.tcpServer.RequestRemoteIP(requestID); });
    return "Client " + (address.empty() ? std::string("?") : address);
}

// A client that has gone, but whose close event has not been handled yet, must
// not hold a slot that a new request needs (a client reconnecting at once is
// the common case). What it sent before leaving still goes to the radio.
void SettleDepartedClients(Station& station) {
    for (int16_t i = 1; i <= kMostClients; ++i) {
        bool gone = false;
        TryStep(station.faults, [&] { gone = SlotConnected(station, i) && station.tcpServer(i).PeerGone(); });
        if (!gone) continue;
        int32_t waiting = 0;
        TryStep(station.faults, [&] { waiting = station.tcpServer(i).BytesReceived(); });
        if (waiting > 0) tcpServer_DataArrival(station, i, waiting);
        tcpServer_Close(station, i);
    }
}

// The first client gets the serial port opened, or kept as it is when it was kept
// open while listening (a reopen would drop and raise RTS and DTR), and a new
// receive poll. What the radio said while nobody was there belongs to nobody.
bool PrepareSerialPortForFirstClient(Station& station) {
    const bool keptOpen = station.comPort.PortOpen();
    bool openFailed = false;
    OpenComPort(station, openFailed);
    if (openFailed) return false;
    // A turn still open on a kept port is a departed client's: its answer ends it.
    if (!keptOpen) station.path.Reset();
    if (!station.turns.TurnOpen()) TryStep(station.faults, [&] { station.comPort.Input(); });
    station.tmrRx.Stop();
    station.tmrRx.Start();
    return true;
}

void AcceptIntoSlot(Station& station, int16_t Slot, int32_t requestID, bool comPortClient) {
    if (!station.tcpServer.Exists(Slot)) TryStep(station.faults, [&] { station.tcpServer.Load(Slot); });  // else reused
    Connection& c = station.connections.Open(Slot);
    c.reader = cat::ClientReader(station.settings.options.cat);
    station.path.Join(c.identity);
    TryStep(station.faults, [&] { station.tcpServer(Slot).SetLocalPort(0); });
    TryStep(station.faults, [&] { station.tcpServer(Slot).Accept(requestID); });
    std::string address;
    TryStep(station.faults, [&] { address = station.tcpServer(Slot).RemoteHostIP(); });
    c.label = "Client " + (address.empty() ? std::string("?") : address) + " (slot " + std::to_string(Slot) +
              ", connection " + std::to_string(c.identity) + ")";
    c.address = address;
    c.role = AdmittedRole(station.settings.options.allow, address);
    TryStep(station.faults, [&] {
        c.connectedMs = station.host.MonotonicMs();
        c.connectedWallMs = station.host.WallClockMs();
    });
    if (comPortClient) ComPortClientAccepted(station, c);
    station.ClientsChanged();
    station.state.ClientAccepted();
}

// Runs when the last client goes or all go at once. Throws when a step fails.
void StopServingClients(Station& station) {
    // Nobody is left to release a key. Its owner's leaving drops it too, but only
    // later in the close; released here, before the port may close.
    ReleasePTTIfKeyed(station, "every client has gone");
    if (station.settings.keepPortOpen == 0) ClosePortDroppingRts(station);
    station.tmrRx.Stop();
    station.state.LastClientGone();
}

// Clients served at once: what the options allow, or every slot with Bridge.
int ClientLimit(Station& station) { return station.settings.bridge == 1 ? kMostClients : std::max(station.settings.options.clients, 1); }

std::string LimitReached(Station& station) {
    const int limit = ClientLimit(station);
    return "the limit of " + std::to_string(limit) + (limit == 1 ? " client" : " clients") + " is reached";
}

void CloseAndRemove(Station& station, int16_t i) {
    Connection* c = station.connections.BySlot(i);
    if (c) {
        ComPortClientLeaving(station, *c);
        station.path.Leave(c->identity);
    }
    station.tmrHold[static_cast<std::size_t>(i - 1)].Stop();
    station.connections.Close(i);
    // Every slot is closed when listening starts or stops, loaded or not.
    if (station.tcpServer.Exists(i)) {
        TryStep(station.faults, [&] { station.tcpServer(i).Close(); });
        TryStep(station.faults, [&] { station.tcpServer.Unload(i); });
    }
    if (c) RadioAutoInformation(station);  // what the others asked for may change the radio's
}

}  // namespace

std::string ClientLabel(Station& station, int16_t Index) {
    if (const Connection* c = station.connections.BySlot(Index); c && !c->label.empty()) return c->label;
    std::string address;
    TryStep(station.faults, [&] { address = station.tcpServer(Index).RemoteHostIP(); });
    return "Client " + (address.empty() ? std::string("?") : address) + " (slot " + std::to_string(Index) + ")";
}

void WatchTheKeyer(Station& station) {
    const ConnectionId owner = station.transmitter.Owner();
    station.connections.ForEach([&](Connection& c) {
        const bool keyer = c.identity == owner;
        if (keyer == c.watchedClosely) return;
        c.watchedClosely = keyer;
        TryStep(station.faults, [&] { station.tcpServer(c.slot).SetFastDeadPeerCheck(keyer); });
    });
}

std::string ListenerPortText(Station& station) {
    int32_t port = 0;
    TryStep(station.faults, [&] { port = station.tcpServer(0).LocalPort(); });
    return std::to_string(port);
}

bool SlotConnected(Station& station, int16_t i) {
    if (!station.tcpServer.Exists(i)) return false;
    int32_t handle = -1;
    TryStep(station.faults, [&] { handle = station.tcpServer(i).SocketHandle(); });
    return handle > 0;
}

bool TestHostPort(Station& station) {
    try {
        SocketElement& listener = station.tcpServer(0);
        listener.Close();
        listener.SetLocalPort(ToInt32(station.settings.hostPort));
        listener.Listen();
        listener.Close();
        return true;
    } catch (const PlatformError& e) {
        TryStep(station.faults, [&] { station.tcpServer(0).Close(); });
        station.log.Line(LogLevel::Error, "Cannot listen on TCP port " + ListenerPortText(station) + ": " + e.what());
        // "Another application" only when that is so; an address that is not there
        // (or any other cause) is told as the system tells it.
        if (dynamic_cast<const PortInUseError*>(&e))
            // Without a person at the window there is no button to click: the way out is said instead.
            station.dialogs.MsgBox("Host Port " + ListenerPortText(station) + " is connected to another application.\r\r" +
                                 (station.dialogs.Attended() ? "Select another Local Port then click the Listen button."
                                                       : "Choose another port, or end that application."),
                             MsgButtons::OK, MsgIcon::Exclamation, "Host Port Active");
        else
            station.dialogs.MsgBox("Unable to listen on Host Port " + ListenerPortText(station) + ".\r\r" + e.what(),
                             MsgButtons::OK, MsgIcon::Exclamation, "Listen Error");
        return false;
    }
}

void FindFreeSlot(Station& station, int16_t& Slot) {
    for (Slot = 1; Slot <= kMostClients; ++Slot) {
        if (!station.tcpServer.Exists(Slot)) return;  // a slot not loaded is free
        int32_t handle = -1;
        if (!TryStep(station.faults, [&] { handle = station.tcpServer(Slot).SocketHandle(); }) || handle < 0) return;
    }
    Slot = 0;
}

void tcpServer_ConnectionRequest(Station& station, int16_t Index, int32_t requestID) {
    if (!AdmitRequest(station, requestID)) return;
    int16_t Slot = 0;
    FindFreeSlot(station, Slot);
    if (Slot == 0 || station.connections.Count() >= ClientLimit(station)) {
        SettleDepartedClients(station);
        FindFreeSlot(station, Slot);
    }
    if (Slot == 0) {
        station.clientLog.Line(LogLevel::Warning, RequestLabel(station, requestID), RequestLabel(station, requestID) + " refused: " + LimitReached(station));
        return;
    }

    if (station.connections.Count() == 0 && !PrepareSerialPortForFirstClient(station)) {
        station.log.Line(LogLevel::Warning, RequestLabel(station, requestID) + " refused: the serial port cannot be opened");
        OpenFailedForFirstClient(station);
        return;
    }
    if (station.connections.Count() < ClientLimit(station)) {
        AcceptIntoSlot(station, Slot, requestID, IsComPortListener(Index));
        const Connection* c = station.connections.BySlot(Slot);
        station.log.Line(LogLevel::Info, ClientLabel(station, Slot) + " connected as " +
                                             std::string(cat::Name(c ? c->role : cat::Role::Transmit)));
    } else {
        station.clientLog.Line(LogLevel::Warning, RequestLabel(station, requestID),
                         RequestLabel(station, requestID) + " refused: " + LimitReached(station));
    }
}

void tcpServer_Close(Station& station, int16_t Index) {
    if (!station.ClosingConnection && Index > 0) station.log.Line(LogLevel::Info, ClientLabel(station, Index) + " left");
    HandleCloseEvent(station, Index);
}

void tcpServer_Error(Station& station, int16_t Index, const std::string& Description) {
    if (Index > 0) {
        station.log.Line(LogLevel::Warning, ClientLabel(station, Index) + " lost: " + Description);
        if (const Connection* c = station.connections.BySlot(Index))
            station.transmitter.OwnerLeft(c->identity, "its connection was lost (" + Description + ")");
    } else {
        station.log.Line(LogLevel::Error, "Listening socket failed: " + Description + "; every client closed");
    }
    CloseConnection(station, Index);
}

void tcpServer_AcceptFailed(Station& station, int16_t Index, const std::string& Description) {
    const int64_t now = station.host.MonotonicMs();
    if (station.AcceptFailureLoggedMs >= 0 && now - station.AcceptFailureLoggedMs < kAcceptFailureLogMs) {
        ++station.AcceptFailuresUnlogged;
        return;
    }
    std::string port;
    TryStep(station.faults, [&] { port = std::to_string(station.tcpServer(Index).LocalPort()); });
    const int before = std::exchange(station.AcceptFailuresUnlogged, 0);
    station.log.Line(LogLevel::Error,
               "Cannot accept a connection on TCP port " + port + ": " + Description +
                   "; still listening, the clients served stay served" +
                   (before > 0 ? " (" + std::to_string(before) + " more failures in the last minute)" : std::string()) +
                   "; logged once a minute");
    station.AcceptFailureLoggedMs = now;
}

// The start of a command held back goes to the radio as it is before the close
// (and before a last client's close shuts the port), ended so that it does not
// spoil the next client's first command.
static void WriteHeldBytes(Station& station, int16_t Index) {
    for (int16_t i = Index == 0 ? 1 : Index; i <= (Index == 0 ? kMostClients : Index); ++i)
        if (Connection* c = station.connections.BySlot(i)) ClientDeparts(station, *c);
}

void CloseConnection(Station& station, int16_t Index) {
    WriteHeldBytes(station, Index);
    // A key whose owner goes is released first, before the port may close.
    for (int16_t i = Index == 0 ? 1 : Index; i <= (Index == 0 ? kMostClients : Index); ++i)
        if (const Connection* c = station.connections.BySlot(i)) station.transmitter.OwnerLeft(c->identity, "its client left");
    if (station.connections.Count() == 1 || Index == 0) {
        try {
            StopServingClients(station);
        } catch (const PlatformError&) {
            station.dialogs.MsgBox("Unable to listen on Port " + ListenerPortText(station), MsgButtons::OK, MsgIcon::None,
                             "Error");
            return;
        }
    }
    if (Index == 0) {
        for (int16_t i = 1; i <= kMostClients; ++i) CloseAndRemove(station, i);
        if (station.state.OffLine()) StopComPortListener(station);
    } else {
        CloseAndRemove(station, Index);
    }
    station.ClientsChanged();
}

void GoOffLine(Station& station) {
    station.state.WentOffLine();
    // Before the port closes: a CAT key's release is written now.
    ReleasePTTIfKeyed(station, "Off-line", true);
    CloseConnection(station, 0);
    int16_t listener = sckClosed;
    TryStep(station.faults, [&] { listener = station.tcpServer(0).State(); });
    if (listener == sckListening)
        station.log.Line(LogLevel::Info, "Off-line: stopped listening on TCP port " + ListenerPortText(station));
    TryStep(station.faults, [&] { station.tcpServer(0).Close(); });
    StopComPortListener(station);
    if (station.comPort.PortOpen()) CloseComPort(station);
}

void StartListening(Station& station) {
    if (!station.state.OffLine()) return;  // listening already, or clients are being served
    try {
        for (int16_t i = 1; i <= kMostClients; ++i) CloseConnection(station, i);
        if (!TestHostPort(station)) {
            GoOffLine(station);
            return;
        }
        const std::string address = station.tcpServer(0).LocalIP();
        station.tcpServer(0).Listen();
        station.state.Listened();
        StartComPortListener(station);
        station.log.Line(LogLevel::Info,
                   "Listening on TCP port " + ListenerPortText(station) + "; clients connect to " + address +
                       "; " + ClientLimits(station.settings.options));
        if (station.settings.keepPortOpen == 1) {
            bool openFailed = false;
            OpenComPort(station, openFailed);
            if (openFailed) {
                // "Com Port active in Listen Mode" needs the port; the reason stays in
                // the window's tool tips and the log.
                station.log.Line(LogLevel::Warning, "Off-line: \"Com Port active in Listen Mode\" needs the serial port");
                GoOffLine(station);
            }
        }
    } catch (const PlatformError&) {
        // A socket or serial call that failed unexpectedly (the listener refusing
        // right after a passed test, say): end in a clean Off-line state.
        TryStep(station.faults, [&] { GoOffLine(station); });
    }
}


}  // namespace ovrin
