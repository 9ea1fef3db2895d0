#include "ui/StatusView.h"

#include <algorithm>
#include <cctype>

#include "station/OptionsText.h"

namespace ovrin {
namespace {

using status::StatusSnapshot;

int NumberIn(const std::string& text) {
    int n = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)) || n > 99999) return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}

StatusSnapshot::State StateOf(const ServerState& state) {
    switch (state.Mode()) {
        case ServerMode::Serving: return StatusSnapshot::State::OnLine;
        case ServerMode::Listening: return StatusSnapshot::State::Listening;
        case ServerMode::OffLine: break;
    }
    return StatusSnapshot::State::OffLine;
}

// The line as the log writes it (9600,n,8,2): the port's own while it is open (a
// remote serial port client may have changed it), else the boxes'.
std::string LineOf(frmMain& f, bool open) {
    if (open) return f.station.comPort.Settings();
    const StationSettings s = f.Settings();
    const char parity = s.parity.empty() ? 'n' : static_cast<char>(std::tolower(static_cast<unsigned char>(s.parity[0])));
    return s.baud + "," + parity + "," + s.dataBits + "," + s.stopBits;
}

StatusSnapshot::Serial SerialOf(frmMain& f) {
    StatusSnapshot::Serial p;
    p.name = f.cboComPort.Text();
    p.open = f.station.comPort.PortOpen();
    const std::string upper = p.name.size() > 3 ? p.name.substr(0, 3) : "";
    if (upper == "COM" || upper == "com") {
        const int port = NumberIn(p.name.substr(3));
        if (port > 0) TryStep(f.station.faults, [&] { p.device = f.station.comPort.DeviceName(static_cast<int16_t>(port)); });
    }
    p.line = LineOf(f, p.open);
    if (f.station.port.lost) p.problem = "the device is gone; trying it again every second";
    else if (!p.open && !f.station.port.error.empty()) p.problem = "cannot be opened: " + f.station.port.error;
    p.keptOpen = f.chkComPortActiveInListen.Value() == 1;
    if (f.chkCtrlPTT.Value() == 1) p.pttLine = LineName(f.station.settings.options.pttLine);
    return p;
}

status::TransmissionStatus TransmissionOf(const Transmission& t, int64_t nowMs) {
    const bool ongoing = t.endedMs < 0;
    return {t.client, t.how, t.startedWallMs, (ongoing ? nowMs : t.endedMs) - t.startedMs, ongoing, t.ended, t.role,
            t.hz < 0 ? std::string() : Megahertz(t.hz)};
}

}  // namespace

StatusSnapshot StatusSnapshotOf(frmMain& f, std::vector<status::LogLine> log) {
    StatusSnapshot s;
    const int64_t now = f.station.host.MonotonicMs();
    s.wallMs = f.station.host.WallClockMs();
    s.version = "Ovrin-Server v" + f.station.VersionText;
    s.hostName = f.txtHostName.Text();
    s.state = StateOf(f.station.state);
    s.listenPort = NumberIn(f.txtHostPort.Text());
    s.remoteSerialPort = f.station.settings.options.rfc2217Port;
    s.clientsAllowed = f.chkBridge.Value() == 1 ? kMostClients : std::max(f.station.settings.options.clients, 1);
    s.serial = SerialOf(f);
    f.station.connections.ForEach([&](Connection& c) {
        const Turns::Asked asked = f.station.turns.AskedBy(c.identity);
        s.clients.push_back({c.label, c.address, c.slot, c.identity, c.IsComPortClient(),
                             std::string(cat::Title(c.reader.Spoken())), c.connectedWallMs, now - c.connectedMs,
                             c.bytesIn, c.bytesOut, std::string(cat::Name(c.role)), asked.commands, asked.cached,
                             asked.joined, asked.recent});
    });
    const cat::SharedReads::Counts tally = f.station.turns.Shared().Tally();
    s.radio = {f.station.turns.CommandsPerSecond(), tally.sent, tally.cached, tally.joined,
               f.station.settings.options.cacheMs, f.station.settings.options.radioReports};
    std::sort(s.clients.begin(), s.clients.end(),
              [](const auto& a, const auto& b) { return a.connection < b.connection; });
    for (const Transmission& t : f.station.transmitter.Recent()) s.transmissions.push_back(TransmissionOf(t, now));
    s.keyed = f.station.transmitter.Keyed();
    if (s.keyed && !s.transmissions.empty() && s.transmissions.back().ongoing) s.transmitting = s.transmissions.back();
    s.log = std::move(log);
    return s;
}

}  // namespace ovrin
