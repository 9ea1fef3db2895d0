#include "ui/ConnectionStatus.h"

#include "net/Listener.h"
#include "settings/Settings.h"
#include "text/Numbers.h"
#include "ui/OptionControls.h"

namespace ovrin {
namespace {

void DefaultChoice(frmMain& f) {
    if (f.station.state.Serving()) {
        f.station.dialogs.MsgBox("You must close Listen mode before resetting to default values.", MsgButtons::OK,
                         MsgIcon::Exclamation, "Connections Open");
        return;
    }
    const bool reset = f.station.dialogs.MsgBox("Reset to default values?", MsgButtons::YesNo, MsgIcon::Exclamation,
                                        "Defaults") == MsgResult::Yes;
    if (reset) f.ShowSettings(WithDefaultLine(f.Settings()));
    GoOffLine(f.station);
    if (reset) SaveSettings(f.station);
}

void ShowInvalidPort(frmMain& f, const char* text) {
    f.station.dialogs.MsgBox(text, MsgButtons::OK, MsgIcon::Information, "Invalid Port");
    f.txtHostPort.SetText(Trim(FromField(f.station.SettingsRecord.HostPort)));
    f.PassSettings();
}

struct InConnClickGuard {
    explicit InConnClickGuard(frmMain& form) : f(form) { f.InConnClick = true; }
    ~InConnClickGuard() { f.InConnClick = false; }
    frmMain& f;
};

}  // namespace

// The status list asks for a transition; afterwards it shows the state reached.
void cboConn_Click(frmMain& f) {
    if (f.InConnClick) return;  // a pick while a box of this handler is open
    InConnClickGuard guard(f);
    switch (f.cboConn.ListIndex()) {
        case kOffLineEntry: GoOffLine(f.station); break;
        case kListenEntry:
            if (OptionsReady(f)) StartListening(f.station);
            break;
        case kDefaultEntry: TryStep(f.station.faults, [&] { DefaultChoice(f); }); break;
        default: break;
    }
    TryStep(f.station.faults, [&] { RefreshControlState(f); });
}

void imgConn_Click(frmMain& f) {
    if (f.station.connections.Count() == 0) {
        if (OptionsReady(f)) StartListening(f.station);
        return;
    }
    if (f.station.dialogs.MsgBox("Do you want to set the Connection Status to Off-Line?", MsgButtons::YesNo, MsgIcon::None,
                         "Off-Line") != MsgResult::Yes)
        return;
    GoOffLine(f.station);
}

void txtHostPort_KeyUp(frmMain& f) {
    f.PassSettings();
    const double port = LeadingNumber(f.txtHostPort.Text());
    if (port < 1) {
        ShowInvalidPort(f, "The Host Port must be greater than 0.");
    } else if (port > 65535) {
        ShowInvalidPort(f, "The Host Port must be less than 65536.");
    } else {
        TestHostPort(f.station);
        RefreshControlState(f);
    }
}

void RefreshControlState(frmMain& f) {
    const bool locked = !f.station.state.OffLine();
    f.ShowConnectionState();
    TryStep(f.station.faults, [&] { f.txtHostName.SetText(f.station.tcpServer(0).LocalHostName()); });
    TryStep(f.station.faults, [&] { f.txtHostAdrs.SetText(f.station.tcpServer(0).LocalIP()); });
    Control* const settings[] = {&f.txtHostName, &f.txtHostAdrs, &f.txtHostPort, &f.cboInterbyte, &f.cboComPort,
                                 &f.cboBaud, &f.cboBits, &f.cboParity, &f.cboStop, &f.chkDTR, &f.chkRTS,
                                 &f.chkCtrlPTT, &f.chkComPortActiveInListen, &f.chkBridge};
    for (Control* c : settings) c->SetEnabled(!locked);
    for (const frmMain::OptionField& field : f.OptionFields()) field.control.SetEnabled(!locked);
    ShowTransmitter(f);
}

void ShowTransmitter(frmMain& f) {
    f.chkCtrlPTT.SetBackColor(f.station.transmitter.Keyed() ? kColourRed : kColourButtonFace);
}

}  // namespace ovrin
