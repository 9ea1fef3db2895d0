#include "net/ComPortClient.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "line/LineSettings.h"
#include "model/Outbound.h"
#include "net/Commands.h"
#include "net/Inbound.h"
#include "net/Listener.h"
#include "rfc2217/Rfc2217.h"
#include "serial/SerialPort.h"

namespace ovrin {
namespace {

using rfc2217::Command;
namespace ctl = rfc2217::control;

void SendTo(Station& station, int16_t slot, const Bytes& bytes) {
    if (Connection* c = station.connections.BySlot(slot)) SendToClient(station, *c, bytes);
}

LineSettings PortLine(Station& station) { return ParseLineSettings(station.comPort.Settings()).value_or(LineSettings{}); }

constexpr char kParityLetters[] = {'n', 'o', 'e', 'm', 's'};  // codes 1..5

uint32_t ValueOf(const LineSettings& s, Command command) {
    switch (command) {
        case Command::SetBaudRate: return static_cast<uint32_t>(s.baud);
        case Command::SetDataSize: return static_cast<uint32_t>(s.dataBits);
        case Command::SetParity:
            for (uint32_t i = 0; i < 5; ++i)
                if (kParityLetters[i] == s.parity) return i + 1;
            return 1;
        default: return s.stopBitsX10 == 20 ? 2 : s.stopBitsX10 == 15 ? 3 : 1;
    }
}

// The settings with the one field changed as asked; nothing when the port cannot
// take the value.
std::optional<LineSettings> WithValue(LineSettings s, Command command, uint32_t v) {
    switch (command) {
        case Command::SetBaudRate: s.baud = v > 4000000 ? 0 : static_cast<int>(v); break;
        case Command::SetDataSize: s.dataBits = v >= 5 && v <= 8 ? static_cast<int>(v) : 0; break;
        case Command::SetParity:
            if (v < 1 || v > 5) return std::nullopt;
            s.parity = kParityLetters[v - 1];
            break;
        default:
            if (v < 1 || v > 3) return std::nullopt;
            s.stopBitsX10 = v == 1 ? 10 : v == 2 ? 20 : 15;
    }
    return ParseLineSettings(FormatLineSettings(s));
}

// A monitor changes nothing of the port: each request is answered with what the
// port keeps.
void MonitorRefused(Station& station, const Connection& c, const std::string& what) {
    station.clientLog.Line(LogLevel::Warning, c.label, c.label + " (monitor): " + what + " refused: a monitor may only read");
}

uint32_t DecideLine(Station& station, Connection& c, ComPortSession& cp, const rfc2217::Request& r) {
    const LineSettings now = PortLine(station);
    if (r.value == 0) return ValueOf(now, r.command);
    if (c.role == cat::Role::Monitor) {
        if (r.value != ValueOf(now, r.command)) MonitorRefused(station, c, "line change to " + std::to_string(r.value));
        return ValueOf(now, r.command);
    }
    const auto wanted = WithValue(now, r.command, r.value);
    const std::string text = wanted ? FormatLineSettings(*wanted) : std::string();
    // Clients send all four at open; what the line already has changes nothing.
    if (wanted && text == FormatLineSettings(now)) return r.value;
    if (!wanted || (station.connections.Count() == 1 && !TryStep(station.faults, [&] { SetPortLine(station, text); }))) {
        station.clientLog.Line(LogLevel::Warning, ClientLabel(station, c.slot),
                         ClientLabel(station, c.slot) + ": line change to " + std::to_string(r.value) +
                             " refused; the port stays at " + station.comPort.Settings());
        return ValueOf(now, r.command);
    }
    if (station.connections.Count() > 1) {
        station.clientLog.Line(LogLevel::Info, ClientLabel(station, c.slot),
                         ClientLabel(station, c.slot) + ": line settings " + text +
                             " acknowledged, not applied: the radio is shared");
    } else {
        cp.lineChanged = true;
        station.clientLog.Line(LogLevel::Info, ClientLabel(station, c.slot), ClientLabel(station, c.slot) + " set the line to " + text);
    }
    return r.value;
}

// The line that does not key the transmitter follows the client.
PttLine FreeLine(Station& station) { return station.settings.options.pttLine == PttLine::Rts ? PttLine::Dtr : PttLine::Rts; }

void ApplyFreeLine(Station& station, bool on) {
    TryStep(station.faults, [&] {
        if (FreeLine(station) == PttLine::Dtr) station.comPort.SetDTREnable(on);
        else station.comPort.SetRTSEnable(on);
    });
}

bool FreeLineUp(Station& station) {
    return FreeLine(station) == PttLine::Dtr ? station.comPort.DTREnable() : station.comPort.RTSEnable();
}

// The PTT line (RTS unless DTR keys) is the transmitter's key: PTT control must
// allow it, and the key is held up to the transmit limit. Every request to raise
// it keys (or renews the key), even with the line already up: programs set the
// line again when they transmit.
bool ApplyKey(Station& station, ConnectionId id, bool on) {
    Connection* c = station.connections.ById(id);
    ComPortSession* cp = c ? c->comPort.get() : nullptr;
    if (!cp) return false;
    if (!on) {
        if (station.transmitter.Owner() == id) ReleasePTT(station, *c, KeyWay::RemoteRts);
        return false;
    }
    if (!RtsControlAllowed(station) || !(c = station.connections.ById(id))) return false;  // it may have left meanwhile
    return KeyPTT(station, *c, KeyWay::RemoteRts);
}

uint32_t DecideControl(Station& station, Connection& c, ComPortSession& cp, uint32_t v) {
    bool asks = v == ctl::kFlowQuery || v == ctl::kBreakQuery || v == ctl::kDtrQuery || v == ctl::kRtsQuery ||
                v >= ctl::kInFlowQuery;
    if (c.role == cat::Role::Monitor && !asks) {
        // Answered as the query of the same thing: the state the port keeps.
        const bool rts = v == ctl::kRtsOn || v == ctl::kRtsOff, dtr = v == ctl::kDtrOn || v == ctl::kDtrOff;
        if (v > ctl::kFlowHardware) MonitorRefused(station, c, "SET-CONTROL " + std::to_string(v));
        v = rts ? ctl::kRtsQuery : dtr ? ctl::kDtrQuery : v <= ctl::kFlowHardware ? ctl::kFlowQuery : ctl::kBreakQuery;
        asks = true;
    }
    if (cp.settling && !asks && !std::exchange(cp.heldAgain, true)) {
        station.tmrLineSettle.Stop();
        station.tmrLineSettle.Start();
    }
    if (v <= ctl::kFlowHardware) {
        if (v > ctl::kFlowNone)
            station.clientLog.Line(LogLevel::Warning, ClientLabel(station, c.slot),
                             ClientLabel(station, c.slot) + ": flow control refused: " + LineName(station.settings.options.pttLine) +
                                 " keys the transmitter");
        return ctl::kFlowNone;
    }
    if (v >= ctl::kInFlowQuery) return ctl::kInFlowNone;
    if (v <= ctl::kBreakOff) return ctl::kBreakOff;
    const ConnectionId id = c.identity;
    const bool rts = v == ctl::kRtsOn || v == ctl::kRtsOff || v == ctl::kRtsQuery;
    const bool key = rts == (station.settings.options.pttLine == PttLine::Rts);
    const uint32_t up = rts ? ctl::kRtsOn : ctl::kDtrOn, down = rts ? ctl::kRtsOff : ctl::kDtrOff;
    if (v == ctl::kDtrQuery || v == ctl::kRtsQuery)
        return (key ? station.transmitter.Owner() == id : FreeLineUp(station)) ? up : down;
    const bool on = v == up;
    if (cp.settling) {
        if (!key) cp.heldLine = on;  // the key line set now is where it starts: no key
        return v;
    }
    if (!key) {
        ApplyFreeLine(station, on);
        return FreeLineUp(station) ? up : down;
    }
    return ApplyKey(station, id, on) ? up : down;
}

void Purge(Station& station, Connection& c, uint32_t what) {
    if (c.role == cat::Role::Monitor) return MonitorRefused(station, c, "purge");
    // What the radio said waits in the port only while nobody else may be owed it.
    if ((what == rfc2217::purge::kFromPort || what == rfc2217::purge::kBoth) && station.connections.Count() == 1)
        TryStep(station.faults, [&] { station.comPort.Input(); });
    if (what == rfc2217::purge::kToPort || what == rfc2217::purge::kBoth) station.turns.DropParked(c.identity);
}

// The answer to one request, empty for those that have none.
Bytes Decide(Station& station, Connection& c, ComPortSession& cp, const rfc2217::Request& r) {
    switch (r.command) {
        case Command::SetBaudRate:
        case Command::SetDataSize:
        case Command::SetParity:
        case Command::SetStopSize: return cp.session.Answer(r.command, DecideLine(station, c, cp, r));
        case Command::SetControl: {
            const uint32_t state = DecideControl(station, c, cp, r.value);
            Connection* still = station.connections.ById(c.identity);  // a question may have been open
            return still && still->comPort.get() == &cp ? cp.session.Answer(r.command, state) : Bytes();
        }
        case Command::NotifyModemState: return cp.session.Answer(r.command, station.comPort.ModemLines());
        case Command::NotifyLineState: return cp.session.Answer(r.command, 0);
        case Command::PurgeData: Purge(station, c, r.value); return cp.session.Answer(r.command, r.value);
        case Command::Signature:
            return r.text.empty() ? rfc2217::Session::Signature("Ovrin-Server " + station.VersionText) : Bytes();
        default: return cp.session.Answer(r.command, r.value);
    }
}

// Its data for the radio, as commands of its language; no echo filter.
void Send(Station& station, ConnectionId id, const Bytes& data) {
    if (Connection* c = station.connections.ById(id)) ClientSends(station, *c, data, false);
}

template <typename Visit>
void ForEachComPortClient(Station& station, Visit&& visit) {
    std::vector<ConnectionId> ids;
    station.connections.ForEach([&](Connection& c) {
        if (c.comPort) ids.push_back(c.identity);
    });
    for (ConnectionId id : ids)
        if (Connection* c = station.connections.ById(id)) visit(*c, *c->comPort);
}

}  // namespace

bool IsComPortListener(int16_t index) { return index == kComPortListener; }

void StartComPortListener(Station& station) {
    if (station.settings.options.rfc2217Port <= 0) return;
    try {
        if (!station.tcpServer.Exists(kComPortListener)) station.tcpServer.Load(kComPortListener);
        SocketElement& listener = station.tcpServer(kComPortListener);
        listener.Close();
        listener.SetLocalPort(station.settings.options.rfc2217Port);
        listener.Listen();
        station.log.Line(LogLevel::Info, "Listening on TCP port " + std::to_string(station.settings.options.rfc2217Port) +
                                       " for remote serial port (RFC 2217) clients");
    } catch (const PlatformError& e) {
        station.log.Line(LogLevel::Error, "Cannot listen on TCP port " + std::to_string(station.settings.options.rfc2217Port) +
                                        " for remote serial port clients: " + e.what());
        StopComPortListener(station);
    }
}

void StopComPortListener(Station& station) {
    if (!station.tcpServer.Exists(kComPortListener)) return;
    TryStep(station.faults, [&] { station.tcpServer(kComPortListener).Close(); });
    TryStep(station.faults, [&] { station.tcpServer.Unload(kComPortListener); });
}

void ComPortClientAccepted(Station& station, Connection& c) {
    c.comPort = std::make_unique<ComPortSession>();
    SendTo(station, c.slot, c.comPort->session.Greeting(station.comPort.ModemLines()));
    station.tmrLineSettle.Stop();
    station.tmrLineSettle.Start();
    station.tmrModemLines.Start();
}

bool ComPortClientData(Station& station, Connection& c, const Bytes& bytes) {
    const ConnectionId id = c.identity;
    const int16_t slot = c.slot;
    const std::string label = ClientLabel(station, slot);
    rfc2217::Input in;
    c.comPort->session.Receive(bytes, in);
    SendTo(station, slot, in.reply);
    std::size_t done = 0;
    for (const rfc2217::Request& r : in.requests) {
        if (r.at > done) Send(station, id, in.data.substr(done, r.at - done));
        done = std::max(done, r.at);
        Connection* still = station.connections.ById(id);
        if (!still) return true;  // it left while a question was open
        SendTo(station, slot, Decide(station, *still, *still->comPort, r));
    }
    if (done < in.data.size()) Send(station, id, in.data.substr(done));
    for (const std::string& line : in.log) station.clientLog.Line(LogLevel::Warning, label, label + ": " + line);
    if (!in.close) return true;
    station.log.Line(LogLevel::Warning, label + " closed: " + in.error);
    return false;
}

void ComPortClientLeaving(Station& station, Connection& c) {
    ComPortSession* cp = c.comPort.get();
    if (!cp || !station.comPort.PortOpen()) return;
    if (cp->lineChanged) {
        const std::string configured = LineSettingsText(station);
        if (TryStep(station.faults, [&] { SetPortLine(station, configured); }))
            station.log.Line(LogLevel::Info, "Serial port " + station.port.openLabel + " back to " + configured);
    }
    // The line it moved goes back to its box.
    ApplyFreeLine(station, (FreeLine(station) == PttLine::Dtr ? station.settings.dtr : station.settings.rts) == 1);
}

void tmrLineSettle_Timer(Station& station) {
    station.tmrLineSettle.Stop();
    ForEachComPortClient(station, [&](Connection&, ComPortSession& cp) {
        if (!cp.settling) return;
        cp.settling = false;
        if (cp.heldLine) ApplyFreeLine(station, *std::exchange(cp.heldLine, std::nullopt));
    });
}

void tmrModemLines_Timer(Station& station) {
    bool any = false;
    const uint8_t lines = station.comPort.ModemLines();
    ForEachComPortClient(station, [&](Connection& c, ComPortSession& cp) {
        any = true;
        SendTo(station, c.slot, cp.session.ModemState(lines));
    });
    if (!any) station.tmrModemLines.Stop();
}

}  // namespace ovrin
