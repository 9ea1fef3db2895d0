#include "ui/ConnectionStatus.h"

#include "app/Numbers.h"
#include "net/ComPortClient.h"
#include "net/Listener.h"
#include "serial/SerialPort.h"
#include "settings/Settings.h"

namespace ovrin {
namespace {

enum ConnEntry { kOffLine = 0, kListen = 1, kDefault = 2 };

void OffLineSequence(frmMain& f) {
    f.Status = ConnectionState::OffLine;
    f.cboConn.SetListIndex(kOffLine);
    f.OnLine = false;
    CloseConnection(f, 0);
    int16_t listener = sckClosed;
    TryStep([&] { listener = f.tcpServer(0).State(); });
    if (listener == sckListening) f.log.Line(LogLevel::Info, "Off-line: stopped listening on TCP port " + ListenerPortText(f));
    TryStep([&] { f.tcpServer(0).Close(); });
    StopComPortListener(f);
    if (f.comPort.PortOpen()) CloseComPort(f);
    RefreshControlState(f);
}

void ListenChoice(frmMain& f) {
    if (f.OnLine) return;  // clients are being served: only the text changed
    for (int16_t i = 1; i <= kMaxClients; ++i) CloseConnection(f, i);
    f.OnLine = true;  // the port test clears it when the port cannot be used
    TestHostPort(f);
    if (!f.OnLine) {
        OffLineSequence(f);
        return;
    }
    f.OnLine = false;
    f.txtHostName.SetText(f.tcpServer(0).LocalHostName());
    f.txtHostAdrs.SetText(f.tcpServer(0).LocalIP());
    f.tcpServer(0).Listen();
    f.Status = ConnectionState::Listening;
    StartComPortListener(f);
    f.log.Line(LogLevel::Info, "Listening on TCP port " + ListenerPortText(f) + "; clients connect to " + f.txtHostAdrs.Text());
    RefreshControlState(f);
    if (f.chkComPortActiveInListen.Value() == 1) {
        bool openFailed = false;
        OpenComPort(f, openFailed);
        if (openFailed) {
            // "Com Port active in Listen Mode" needs the port; the reason stays in the
            // window's tool tips and the log.
            f.log.Line(LogLevel::Warning, "Off-line: \"Com Port active in Listen Mode\" needs the serial port");
            OffLineSequence(f);
        }
    }
}

void DefaultChoice(frmMain& f) {
    if (f.tcpServer(0).State() > sckListening) {
        f.dialogs.MsgBox("You must close Listen mode before resetting to default values.", MsgButtons::OK,
                         MsgIcon::Exclamation, "Connections Open");
        return;
    }
    if (f.dialogs.MsgBox("Reset to default values?", MsgButtons::YesNo, MsgIcon::Exclamation, "Defaults") ==
        MsgResult::Yes) {
        f.txtHostPort.SetText("50000");
        f.cboInterbyte.SetText("100 mS");
        f.cboBaud.SetText("9600");
        f.cboBits.SetText("8");
        f.cboParity.SetText("None");
        f.cboStop.SetText("2");
        SaveSettings(f);
    }
    OffLineSequence(f);
}

void ShowInvalidPort(frmMain& f, const char* text) {
    f.dialogs.MsgBox(text, MsgButtons::OK, MsgIcon::Information, "Invalid Port");
    f.txtHostPort.SetText(Trim(FromField(f.SettingsRecord.HostPort)));
}

struct InConnClickGuard {
    explicit InConnClickGuard(frmMain& form) : f(form) { f.InConnClick = true; }
    ~InConnClickGuard() { f.InConnClick = false; }
    frmMain& f;
};

}  // namespace

void cboConn_Click(frmMain& f) {
    if (f.InConnClick) return;
    InConnClickGuard guard(f);
    try {
        switch (f.cboConn.ListIndex()) {
            case kOffLine: OffLineSequence(f); break;
            case kListen: ListenChoice(f); break;
            case kDefault: DefaultChoice(f); break;
            default: break;
        }
    } catch (const PlatformError&) {
        // A socket or serial call that failed unexpectedly (the listener refusing
        // right after a passed test, say): end in a clean Off-line state.
        TryStep([&] { OffLineSequence(f); });
    }
}

void imgConn_Click(frmMain& f) {
    if (f.connections.Count() == 0) {
        TryStep([&] { f.cboConn.SetListIndex(kListen); });
        return;
    }
    if (f.dialogs.MsgBox("Do you want to set the Connection Status to Off-Line?", MsgButtons::YesNo, MsgIcon::None,
                         "Off-Line") != MsgResult::Yes)
        return;
    CloseConnection(f, 0);
    TryStep([&] { f.cboConn.SetListIndex(kOffLine); });
}

void txtHostPort_KeyUp(frmMain& f) {
    const double port = LeadingNumber(f.txtHostPort.Text());
    if (port < 1) {
        ShowInvalidPort(f, "The Host Port must be greater than 0.");
    } else if (port > 65535) {
        ShowInvalidPort(f, "The Host Port must be less than 65536.");
    } else {
        TestHostPort(f);
        RefreshControlState(f);
    }
}

void RefreshControlState(frmMain& f) {
    const bool locked = f.cboConn.ListIndex() == kListen || f.OnLine;
    if (locked) {
        const bool serving = f.Status == ConnectionState::Serving;
        TryStep([&] { f.cboConn.SetText(serving ? "ON-LINE" : f.cboConn.List(kListen)); });
    }
    TryStep([&] { f.txtHostName.SetText(f.tcpServer(0).LocalHostName()); });
    TryStep([&] { f.txtHostAdrs.SetText(f.tcpServer(0).LocalIP()); });
    Control* const settings[] = {&f.txtHostName, &f.txtHostAdrs, &f.txtHostPort, &f.cboInterbyte, &f.cboComPort,
                                 &f.cboBaud, &f.cboBits, &f.cboParity, &f.cboStop, &f.chkDTR, &f.chkRTS,
                                 &f.chkCtrlPTT, &f.chkComPortActiveInListen, &f.chkBridge};
    for (Control* c : settings) c->SetEnabled(!locked);
    ShowTransmitter(f);
}

void ShowTransmitter(frmMain& f) {
    f.chkCtrlPTT.SetBackColor(f.transmitter.Keyed() ? kColourRed : kColourButtonFace);
}

}  // namespace ovrin
