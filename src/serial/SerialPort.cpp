#include "serial/SerialPort.h"

#include "app/Numbers.h"
#include "serial/Ptt.h"

namespace ovrin {

// Ports are listed without opening them: opening a tty raises DTR and RTS, which
// would key a transmitter or reset a board wired to any of them.
void ListComPorts(frmMain& f) {
    for (int16_t n = 1; n <= 16; ++n) {
        bool available = false;
        TryStep([&] { available = f.comPort.PortAvailable(n); });
        if (!available) continue;
        std::string device;
        TryStep([&] { device = f.comPort.DeviceName(n); });
        f.cboComPort.AddItem("COM" + std::to_string(n), device);
    }
}

std::string ParityLetter(const std::string& parityText) {
    const std::string upper = UpperCase(parityText);
    if (upper == "NONE") return "n";
    if (upper == "EVEN") return "e";
    if (upper == "ODD") return "o";
    return "";
}

std::string LineSettingsText(const frmMain& f) {
    return Trim(f.cboBaud.Text()) + "," + ParityLetter(f.cboParity.Text()) + "," + Trim(f.cboBits.Text()) + "," +
           Trim(f.cboStop.Text());
}

int16_t PortNumber(const std::string& portText) {
    const std::string text = Trim(UpperCase(portText));
    return ToInt16(text.size() > 3 ? text.substr(3) : std::string());
}

void OpenComPort(frmMain& f, bool& OpenFailed) {
    OpenFailed = false;
    // A port that is already open (Listen chosen again while it is kept open for
    // the next client) is kept as it is.
    if (f.comPort.PortOpen()) return;
    try {
        const std::string settings = LineSettingsText(f);
        f.comPort.SetCommPort(PortNumber(f.cboComPort.Text()));
        f.comPort.SetSettings(settings);
        f.comPort.SetDTREnable(f.chkDTR.Value() == 1);
        // While the client may key the transmitter through RTS, the line starts low.
        f.comPort.SetRTSEnable(f.chkRTS.Value() == 1 && f.chkCtrlPTT.Value() != 1);
        f.comPort.SetPortOpen(true);
    } catch (const PlatformError&) {
        OpenFailed = true;
        CloseComPort(f);
    }
}

void ClosePortDroppingRts(frmMain& f) {
    if (!f.comPort.PortOpen()) return;
    ReleasePTTIfKeyed(f);
    // A driver that keeps the modem lines at close would leave the transmitter keyed.
    TryStep([&] { f.comPort.SetRTSEnable(false); });
    f.comPort.SetPortOpen(false);
}

void CloseComPort(frmMain& f) {
    TryStep([&] { ClosePortDroppingRts(f); });
}

// The three RTS-related boxes keep each other consistent, only while Off-line and
// only when a box has just become checked.
namespace {
bool JustCheckedOffLine(const frmMain& f, const CheckBox& box) {
    return f.cboConn.ListIndex() == 0 && box.Value() == 1;
}
}  // namespace

void chkComPortActiveInListen_Click(frmMain& f) {
    if (JustCheckedOffLine(f, f.chkComPortActiveInListen)) f.chkRTS.SetValue(1);
}

void chkCtrlPTT_Click(frmMain& f) {
    if (!JustCheckedOffLine(f, f.chkCtrlPTT)) return;
    f.chkRTS.SetValue(0);
    f.chkComPortActiveInListen.SetValue(0);
}

void chkRTS_Click(frmMain& f) {
    if (JustCheckedOffLine(f, f.chkRTS)) f.chkCtrlPTT.SetValue(0);
}

}  // namespace ovrin
