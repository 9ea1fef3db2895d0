#include "serial/SerialPort.h"

#include "text/Numbers.h"
#include "text/Text.h"

namespace ovrin {

std::string ParityLetter(const std::string& parityText) {
    const std::string upper = UpperCase(parityText);
    if (upper == "NONE") return "n";
    if (upper == "EVEN") return "e";
    if (upper == "ODD") return "o";
    if (upper == "MARK") return "m";
    if (upper == "SPACE") return "s";
    return "";
}

std::string LineSettingsText(const Station& station) {
    const StationSettings& s = station.settings;
    return Trim(s.baud) + "," + ParityLetter(s.parity) + "," + Trim(s.dataBits) + "," + Trim(s.stopBits);
}

int16_t PortNumber(const std::string& portText) {
    const std::string text = Trim(UpperCase(portText));
    return ToInt16(text.size() > 3 ? text.substr(3) : std::string());
}

void SetPortLine(Station& station, const std::string& settings) {
    station.comPort.SetSettings(settings);
    station.path.LineChanged(station.comPort.Settings());
}

namespace {

// How long turning the radio's reports off may take to leave before the port closes.
constexpr int kReportsOffDrainMs = 200;

// "COM1 (/dev/ttyUSB0)": the port text and the device behind it, for messages.
std::string PortLabel(Station& station) {
    std::string device;
    TryStep(station.faults, [&] { device = station.comPort.DeviceName(PortNumber(station.settings.comPort)); });
    const std::string name = Trim(station.settings.comPort);
    return device.empty() ? name : name + " (" + device + ")";
}

// The steps of opening the port from the window's settings; false, with the
// reason, when one fails (the port is then closed).
bool TryOpenComPort(Station& station, std::string& why) {
    const std::string settings = LineSettingsText(station);
    try {
        station.comPort.SetCommPort(PortNumber(station.settings.comPort));
    } catch (const PlatformError&) {
        why = "\"" + Trim(station.settings.comPort) + "\" names no serial port (COM1 to COM" + std::to_string(kLastComPort) + ")";
        return false;
    }
    try {
        SetPortLine(station, settings);
    } catch (const PlatformError& e) {
        why = "line settings " + settings + " refused: " + e.what();
        return false;
    }
    try {
        // While a client may key the transmitter through its line, the line starts low.
        const bool ptt = station.settings.pttControl == 1;
        const PttLine line = station.settings.options.pttLine;
        station.comPort.SetDTREnable(station.settings.dtr == 1 && !(ptt && line == PttLine::Dtr));
        station.comPort.SetRTSEnable(station.settings.rts == 1 && !(ptt && line == PttLine::Rts));
        station.comPort.SetPortOpen(true);
        return true;
    } catch (const PlatformError& e) {
        why = e.what();
        TryStep(station.faults, [&] {
            if (station.comPort.PortOpen()) station.comPort.SetPortOpen(false);
        });
        return false;
    }
}

bool PortShouldBeOpen(Station& station) {
    return station.connections.Count() > 0 || (!station.state.OffLine() && station.settings.keepPortOpen == 1);
}

void StopReopening(Station& station) {
    station.tmrReopen.Stop();
    station.port.lost = false;
}

// ", DTR on, RTS off (PTT)": the modem lines as opened, for the log.
std::string ModemLines(Station& station) {
    const auto on = [&station](bool high, PttLine line) {
        const bool ptt = station.settings.pttControl == 1 && station.settings.options.pttLine == line;
        return std::string(high ? " on" : " off") + (ptt ? " (PTT)" : "");
    };
    return ", DTR" + on(station.comPort.DTREnable(), PttLine::Dtr) + ", RTS" + on(station.comPort.RTSEnable(), PttLine::Rts);
}

// Drops the PTT line (RTS unless DTR keys): a driver that keeps the modem lines
// at close would leave the transmitter keyed.
void DropPttLine(CommControl& com, PttLine line) {
    TryStep([&] {
        if (line == PttLine::Dtr) com.SetDTREnable(false);
        else com.SetRTSEnable(false);
    });
}

void PortOpened(Station& station) {
    station.port.openLabel = PortLabel(station);
    station.port.error.clear();
    ShowPortProblem(station, "");
    if (station.port.lost) {
        StopReopening(station);
        station.log.Line(LogLevel::Info, "Serial port " + station.port.openLabel + " is back and open again");
        // The receive poll of the connected clients starts afresh on the new device.
        if (station.tmrRx.Enabled()) {
            station.tmrRx.Stop();
            station.tmrRx.Start();
        }
    } else {
        station.log.Line(LogLevel::Info, "Serial port " + station.port.openLabel + " open, " + station.comPort.Settings() + ModemLines(station));
    }
}

}  // namespace

void ShowPortProblem(Station& station, const std::string& problem) {
    station.port.problem = problem;
    station.PortProblemChanged();
}

void OpenComPort(Station& station, bool& OpenFailed) {
    OpenFailed = false;
    // A port that is already open (Listen chosen again while it is kept open for
    // the next client) is kept as it is.
    if (station.comPort.PortOpen()) return;
    std::string why;
    if (TryOpenComPort(station, why)) {
        PortOpened(station);
        return;
    }
    OpenFailed = true;
    station.port.error = why;
    const std::string problem = "Serial port " + Trim(station.settings.comPort) + " cannot be opened: " + why;
    station.log.Line(LogLevel::Error, problem);
    ShowPortProblem(station, problem);
}

void ClosePortDroppingRts(Station& station) {
    if (!station.comPort.PortOpen()) return;
    ReleasePTTIfKeyed(station, "the serial port closed", true);
    // The reports --radio-reports turned on are turned off as the port closes.
    if (station.settings.options.radioReports && station.RadioAutoInfo > 0) {
        TryStep(station.faults, [&] { station.comPort.Output("AI0;"); });
        TryStep(station.faults, [&] { station.comPort.Drain(kReportsOffDrainMs); });
        station.RadioAutoInfo = 0;  // the next open turns them on again
        station.ShareReads();
    }
    // A driver that keeps the modem lines at close would leave the transmitter keyed.
    DropPttLine(station.comPort, station.settings.options.pttLine);
    station.comPort.SetPortOpen(false);
    station.turns.Reset();  // nothing waits for a port that is closed
    station.log.Line(LogLevel::Info, "Serial port " + station.port.openLabel + " closed");
}

void CloseComPort(Station& station) {
    TryStep(station.faults, [&] { ClosePortDroppingRts(station); });
}

void comPort_Lost(Station& station, const std::string& why) {
    ReleasePTTIfKeyed(station, "the serial port was lost");  // the watchdog and the red box go too
    station.turns.Reset();  // what waited for the port went with it
    if (station.settings.options.radioReports) station.RadioAutoInfo = -1;  // a radio back is told afresh
    station.ShareReads();
    const std::string problem = "Serial port " + station.port.openLabel + " lost: " + why;
    if (!PortShouldBeOpen(station)) {
        station.log.Line(LogLevel::Warning, problem);
        return;
    }
    station.port.lost = true;
    station.log.Line(LogLevel::Warning, problem + "; trying it again every second");
    ShowPortProblem(station, problem + "; trying it again every second");
    station.tmrReopen.Start();
}

void CheckPortDevice(Station& station) {
    int16_t port = 0;
    if (!TryStep(station.faults, [&] { port = PortNumber(station.settings.comPort); }) || port < 1 || port > kLastComPort) return;
    std::string problem;
    TryStep(station.faults, [&] { problem = station.comPort.PortProblem(port); });
    if (problem.empty()) return;
    station.port.awaited = port;
    station.log.Line(LogLevel::Warning, "Serial port " + PortLabel(station) + " cannot be opened: " + problem +
                                      "; looked for every " + std::to_string(station.tmrDevice.Interval() / 1000) +
                                      " s until it can");
    station.tmrDevice.Start();
}

void tmrDevice_Timer(Station& station) {
    int16_t port = 0;
    TryStep(station.faults, [&] { port = PortNumber(station.settings.comPort); });
    // Another port chosen meanwhile, or this one opened (which its own line tells).
    bool done = port != station.port.awaited || station.comPort.PortOpen();
    if (!done) {
        std::string problem = "not known";
        TryStep(station.faults, [&] { problem = station.comPort.PortProblem(port); });
        done = problem.empty();
        if (done) {
            station.log.Line(LogLevel::Info, "Serial port " + PortLabel(station) + " is there now and can be opened");
            // The list shows the ports that are there: this one is, now.
            station.PortsChanged();
        }
    }
    if (!done) return;
    station.tmrDevice.Stop();
    station.port.awaited = 0;
}

void tmrReopen_Timer(Station& station) {
    if (!PortShouldBeOpen(station)) {
        StopReopening(station);
        ShowPortProblem(station, "");
        return;
    }
    std::string why;
    if (station.comPort.PortOpen() || TryOpenComPort(station, why)) PortOpened(station);  // quietly until it is back
}

namespace {
std::string LineWay(Station& station, KeyWay way) {
    return std::string(LineName(station.settings.options.pttLine)) +
           (way == KeyWay::InBand ? " (in-band command)" : " (remote serial port)");
}
}  // namespace

bool KeyPTT(Station& station, const Connection& c, KeyWay way) {
    // The in-band command is repeated to keep the key; a remote port's RTS holds it
    // up to the transmit limit.
    const int limitMs = way == KeyWay::InBand ? kKeyRepeatMs : station.settings.options.txLimitS * 1000;
    // Keying changes what the radio reads back (its transmit state, its meters).
    station.turns.Changed();
    return station.transmitter.Key({c.identity, way, c.label, LineWay(station, way), limitMs, {}, {}, -1});
}

bool ReleasePTT(Station& station, const Connection& c, KeyWay way) {
    station.turns.Changed();
    return station.transmitter.Release(c.identity, way, c.label, LineWay(station, way));
}

void tmrPTT_Timer(Station& station) { station.transmitter.WatchdogExpired(); }

void ReleasePTTIfKeyed(Station& station, const std::string& why, bool portClosing) {
    station.transmitter.Drop(why, portClosing);
}

void ReleasePort(CommControl& com, PttLine line) {
    if (!com.PortOpen()) return;
    // As at every close: the PTT line down first, and a line that fails to drop keeps no port open.
    DropPttLine(com, line);
    TryStep([&] { com.SetPortOpen(false); });
}

}  // namespace ovrin
