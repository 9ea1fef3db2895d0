#include "ui/StationBoxes.h"

#include "serial/SerialPort.h"

namespace ovrin {
namespace {

constexpr const char* kNoRemoteAddress = "      .      .      .";

// The three RTS-related boxes keep each other consistent, only while Off-line and
// only when a box has just become checked; the server takes the boxes as they end.
void ApplyBoxRules(frmMain& f, Box box, const CheckBox& control) {
    if (f.station.state.OffLine() && control.Value() == 1) {
        StationSettings before = f.Settings();
        before[box] = 0;
        f.ShowSettings(WithBox(before, box, 1));
    }
    f.PassSettings();
}

}  // namespace

// Ports are listed without opening them: opening a tty raises DTR and RTS, which
// would key a transmitter or reset a board wired to any of them.
void ListComPorts(frmMain& f) {
    for (int16_t n = 1; n <= kLastComPort; ++n) {
        bool available = false;
        TryStep(f.station.faults, [&] { available = f.station.comPort.PortAvailable(n); });
        if (!available) continue;
        std::string device;
        TryStep(f.station.faults, [&] { device = f.station.comPort.DeviceName(n); });
        f.cboComPort.AddItem("COM" + std::to_string(n), device);
    }
}

void ShowPortProblem(frmMain& f) {
    const std::string& problem = f.station.port.problem;
    f.imgConn.SetToolTip(problem);
    f.cboConn.SetToolTip(problem.empty() ? std::string(kConnToolTip) : kConnToolTip + std::string("\n\n") + problem);
}

void RefreshRemoteList(frmMain& f) {
    f.cboRmtAddress.Clear();
    for (int16_t i = 1; i <= kMostClients; ++i) {
        if (!f.station.tcpServer.Exists(i)) continue;
        TryStep(f.station.faults, [&] {
            SocketElement& s = f.station.tcpServer(i);
            if (s.SocketHandle() > 0) f.cboRmtAddress.AddItem(s.RemoteHostIP());
        });
    }
    const int listed = f.cboRmtAddress.ListCount();
    if (listed >= 1) {
        f.cboRmtAddress.SetText(f.cboRmtAddress.List(0));
        f.lblRmtAddress.SetCaption("Rmt IP Adrs (" + std::to_string(listed) + "): ");
    } else {
        f.cboRmtAddress.SetText(kNoRemoteAddress);
        f.lblRmtAddress.SetCaption("Rmt IP Adrs: ");
    }
}

void chkComPortActiveInListen_Click(frmMain& f) { ApplyBoxRules(f, Box::KeepPortOpen, f.chkComPortActiveInListen); }

void chkCtrlPTT_Click(frmMain& f) { ApplyBoxRules(f, Box::PttControl, f.chkCtrlPTT); }

void chkRTS_Click(frmMain& f) { ApplyBoxRules(f, Box::Rts, f.chkRTS); }

void chkDTR_Click(frmMain& f) { ApplyBoxRules(f, Box::Dtr, f.chkDTR); }

}  // namespace ovrin
