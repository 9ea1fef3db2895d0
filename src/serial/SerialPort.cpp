#include "serial/SerialPort.h"

#include "text/Numbers.h"

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

std::string LineSettingsText(const frmMain& f) {
    const StationSettings& s = f.station.settings;
    return Trim(s.baud) + "," + ParityLetter(s.parity) + "," + Trim(s.dataBits) + "," + Trim(s.stopBits);
}

int16_t PortNumber(const std::string& portText) {
    const std::string text = Trim(UpperCase(portText));
    return ToInt16(text.size() > 3 ? text.substr(3) : std::string());
}

namespace {

// "COM1 (/dev/ttyUSB0)": the port text and the device behind it, for messages.
std::string PortLabel(frmMain& f) {
    std::string device;
    TryStep([&] { device = f.station.comPort.DeviceName(PortNumber(f.station.settings.comPort)); });
    const std::string name = Trim(f.station.settings.comPort);
    return device.empty() ? name : name + " (" + device + ")";
}

// The steps of opening the port from the window's settings; false, with the
// reason, when one fails (the port is then closed).
bool TryOpenComPort(frmMain& f, std::string& why) {
    const std::string settings = LineSettingsText(f);
    try {
        f.station.comPort.SetCommPort(PortNumber(f.station.settings.comPort));
    } catch (const PlatformError&) {
        why = "\"" + Trim(f.station.settings.comPort) + "\" names no serial port (COM1 to COM" + std::to_string(kLastComPort) + ")";
        return false;
    }
    try {
        f.station.comPort.SetSettings(settings);
    } catch (const PlatformError& e) {
        why = "line settings " + settings + " refused: " + e.what();
        return false;
    }
    try {
        // While a client may key the transmitter through its line, the line starts low.
        const bool ptt = f.station.settings.pttControl == 1;
        const PttLine line = f.station.settings.options.pttLine;
        f.station.comPort.SetDTREnable(f.station.settings.dtr == 1 && !(ptt && line == PttLine::Dtr));
        f.station.comPort.SetRTSEnable(f.station.settings.rts == 1 && !(ptt && line == PttLine::Rts));
        f.station.comPort.SetPortOpen(true);
        return true;
    } catch (const PlatformError& e) {
        why = e.what();
        TryStep([&] {
            if (f.station.comPort.PortOpen()) f.station.comPort.SetPortOpen(false);
        });
        return false;
    }
}

bool PortShouldBeOpen(frmMain& f) {
    return f.station.connections.Count() > 0 || (!f.station.state.OffLine() && f.station.settings.keepPortOpen == 1);
}

void StopReopening(frmMain& f) {
    f.station.tmrReopen.Stop();
    f.station.port.lost = false;
}

// ", DTR on, RTS off (PTT)": the modem lines as opened, for the log.
std::string ModemLines(frmMain& f) {
    const auto on = [&f](bool high, PttLine line) {
        const bool ptt = f.station.settings.pttControl == 1 && f.station.settings.options.pttLine == line;
        return std::string(high ? " on" : " off") + (ptt ? " (PTT)" : "");
    };
    return ", DTR" + on(f.station.comPort.DTREnable(), PttLine::Dtr) + ", RTS" + on(f.station.comPort.RTSEnable(), PttLine::Rts);
}

// Drops the PTT line (RTS unless DTR keys): a driver that keeps the modem lines
// at close would leave the transmitter keyed.
void DropPttLine(CommControl& com, PttLine line) {
    TryStep([&] {
        if (line == PttLine::Dtr) com.SetDTREnable(false);
        else com.SetRTSEnable(false);
    });
}

void PortOpened(frmMain& f) {
    f.station.port.openLabel = PortLabel(f);
    f.station.port.error.clear();
    ShowPortProblem(f, "");
    if (f.station.port.lost) {
        StopReopening(f);
        f.station.log.Line(LogLevel::Info, "Serial port " + f.station.port.openLabel + " is back and open again");
        // The receive poll of the connected clients starts afresh on the new device.
        if (f.station.tmrRx.Enabled()) {
            f.station.tmrRx.Stop();
            f.station.tmrRx.Start();
        }
    } else {
        f.station.log.Line(LogLevel::Info, "Serial port " + f.station.port.openLabel + " open, " + f.station.comPort.Settings() + ModemLines(f));
    }
}

}  // namespace

void ShowPortProblem(frmMain& f, const std::string& problem) {
    f.station.port.problem = problem;
    f.station.PortProblemChanged();
}

void OpenComPort(frmMain& f, bool& OpenFailed) {
    OpenFailed = false;
    // A port that is already open (Listen chosen again while it is kept open for
    // the next client) is kept as it is.
    if (f.station.comPort.PortOpen()) return;
    std::string why;
    if (TryOpenComPort(f, why)) {
        PortOpened(f);
        return;
    }
    OpenFailed = true;
    f.station.port.error = why;
    const std::string problem = "Serial port " + Trim(f.station.settings.comPort) + " cannot be opened: " + why;
    f.station.log.Line(LogLevel::Error, problem);
    ShowPortProblem(f, problem);
}

void ClosePortDroppingRts(frmMain& f) {
    if (!f.station.comPort.PortOpen()) return;
    ReleasePTTIfKeyed(f, "the serial port closed", true);
    // A driver that keeps the modem lines at close would leave the transmitter keyed.
    DropPttLine(f.station.comPort, f.station.settings.options.pttLine);
    f.station.comPort.SetPortOpen(false);
    f.station.turns.Reset();  // nothing waits for a port that is closed
    f.station.log.Line(LogLevel::Info, "Serial port " + f.station.port.openLabel + " closed");
}

void CloseComPort(frmMain& f) {
    TryStep([&] { ClosePortDroppingRts(f); });
}

void comPort_Lost(frmMain& f, const std::string& why) {
    ReleasePTTIfKeyed(f, "the serial port was lost");  // the watchdog and the red box go too
    f.station.turns.Reset();  // what waited for the port went with it
    const std::string problem = "Serial port " + f.station.port.openLabel + " lost: " + why;
    if (!PortShouldBeOpen(f)) {
        f.station.log.Line(LogLevel::Warning, problem);
        return;
    }
    f.station.port.lost = true;
    f.station.log.Line(LogLevel::Warning, problem + "; trying it again every second");
    ShowPortProblem(f, problem + "; trying it again every second");
    f.station.tmrReopen.Start();
}

void CheckPortDevice(frmMain& f) {
    int16_t port = 0;
    if (!TryStep([&] { port = PortNumber(f.station.settings.comPort); }) || port < 1 || port > kLastComPort) return;
    std::string problem;
    TryStep([&] { problem = f.station.comPort.PortProblem(port); });
    if (problem.empty()) return;
    f.station.port.awaited = port;
    f.station.log.Line(LogLevel::Warning, "Serial port " + PortLabel(f) + " cannot be opened: " + problem +
                                      "; looked for every " + std::to_string(f.station.tmrDevice.Interval() / 1000) +
                                      " s until it can");
    f.station.tmrDevice.Start();
}

void tmrDevice_Timer(frmMain& f) {
    int16_t port = 0;
    TryStep([&] { port = PortNumber(f.station.settings.comPort); });
    // Another port chosen meanwhile, or this one opened (which its own line tells).
    bool done = port != f.station.port.awaited || f.station.comPort.PortOpen();
    if (!done) {
        std::string problem = "not known";
        TryStep([&] { problem = f.station.comPort.PortProblem(port); });
        done = problem.empty();
        if (done) {
            f.station.log.Line(LogLevel::Info, "Serial port " + PortLabel(f) + " is there now and can be opened");
            // The list shows the ports that are there: this one is, now.
            f.station.PortsChanged();
        }
    }
    if (!done) return;
    f.station.tmrDevice.Stop();
    f.station.port.awaited = 0;
}

void tmrReopen_Timer(frmMain& f) {
    if (!PortShouldBeOpen(f)) {
        StopReopening(f);
        ShowPortProblem(f, "");
        return;
    }
    std::string why;
    if (f.station.comPort.PortOpen() || TryOpenComPort(f, why)) PortOpened(f);  // quietly until it is back
}

namespace {
std::string LineWay(frmMain& f, KeyWay way) {
    return std::string(LineName(f.station.settings.options.pttLine)) +
           (way == KeyWay::InBand ? " (in-band command)" : " (remote serial port)");
}
}  // namespace

bool KeyPTT(frmMain& f, const Connection& c, KeyWay way) {
    // The in-band command is repeated to keep the key; a remote port's RTS holds it
    // up to the transmit limit.
    const int limitMs = way == KeyWay::InBand ? kKeyRepeatMs : f.station.settings.options.txLimitS * 1000;
    return f.station.transmitter.Key({c.identity, way, c.label, LineWay(f, way), limitMs, {}});
}

bool ReleasePTT(frmMain& f, const Connection& c, KeyWay way) {
    return f.station.transmitter.Release(c.identity, way, c.label, LineWay(f, way));
}

void tmrPTT_Timer(frmMain& f) { f.station.transmitter.WatchdogExpired(); }

void ReleasePTTIfKeyed(frmMain& f, const std::string& why, bool portClosing) {
    f.station.transmitter.Drop(why, portClosing);
}

void ReleasePort(CommControl& com, PttLine line) {
    if (!com.PortOpen()) return;
    // As at every close: the PTT line down first, and a line that fails to drop keeps no port open.
    DropPttLine(com, line);
    TryStep([&] { com.SetPortOpen(false); });
}

}  // namespace ovrin
