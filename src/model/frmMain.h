#pragma once
// The window model: every control by name, the window's own timer and flags, and
// the server it shows (Station). One instance is the whole program; tests create
// as many as they like.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/Controls.h"
#include "platform/Timer.h"
#include "model/Station.h"
#include "state/ServerState.h"
#include "state/StatusAnimation.h"
#include "station/Station.h"

namespace ovrin {

// The entries of the connection status list, in their order.
inline constexpr const char* kConnOffLine = "Off-line";
inline constexpr const char* kConnListen = "Listen";
inline constexpr const char* kConnDefault = "Default";
enum ConnEntry { kOffLineEntry = 0, kListenEntry = 1, kDefaultEntry = 2 };
inline constexpr const char* kConnToolTip = "Set to Listen to allow remote connections, Off-line to set Com Port";

struct frmMain {
    frmMain(CommControl& comPort, SocketArray& tcpServer, Dialogs& dialogs, Host& host, Log& log);
    frmMain(const frmMain&) = delete;
    frmMain& operator=(const frmMain&) = delete;

    // --- the window and its controls, in creation order ---
    Window Form;
    ComboBox cboRmtAddress;
    CheckBox chkBridge;
    CheckBox chkCtrlPTT;
    CheckBox chkComPortActiveInListen;
    CheckBox chkDTR;
    CheckBox chkRTS;
    ComboBox cboParity;
    ComboBox cboStop;
    ComboBox cboInterbyte;
    ComboBox cboConn;
    TextBox txtHostPort;
    TextBox txtHostAdrs;
    ComboBox cboComPort;
    ComboBox cboBaud;
    ComboBox cboBits;
    TextBox txtHostName;
    // The options beyond the record: sharing, the remote serial port, the status
    // page, the transmit limit, the command language, the allow-list, the PTT line,
    // the bands the transmitter may key in, the reads shared among the programs.
    ComboBox cboClients;
    ComboBox cboPttLine;
    TextBox txtAnswerWait;
    TextBox txtTxLimit;
    TextBox txtRfc2217Port;
    TextBox txtStatusPort;
    ComboBox cboCat;
    TextBox txtAllow;
    TextBox txtTxAllowed;
    TextBox txtCacheMs;
    ComboBox cboRadioReports;
    Label lblRmtAddress;
    Label Label2;
    Image imgConn;
    std::map<int, Label> Label1;  // field captions by element index
    ImageList ImageList1;

    // The status picture's next frame; its interval follows the state.
    Timer tmrPicture{"tmrPicture", 500, true};

    // --- window-level flags ---
    bool InConnClick = false;

    // --- the server: its state, the facilities it uses and the timers it drives ---
    Station station;
    // The status picture's frame.
    StatusAnimation animation;

    // The settings as the window's boxes hold them now (listenAtStart: not
    // listening; the options as taken), and the same shown in the boxes without
    // raising their events.
    StationSettings Settings() const;
    void ShowSettings(const StationSettings& s);
    // Hands the settings as the boxes hold them to the station: after the user
    // changed a box, and after they were shown.
    void PassSettings() { station.settings = Settings(); }
    // Options taken for the run: the PTT box names its line, the transmitter keys
    // it. Show also puts them in their fields.
    void TakeOptions(const ServerOptions& o);
    void ShowOptions(const ServerOptions& o);

    // The field of each option, with its name in the options file and its caption.
    struct OptionField {
        const char* option;
        std::string caption;
        Control& control;
        std::string toolTip;  // what the field is for, before any complaint
        std::string Text() const;
    };
    const std::vector<OptionField>& OptionFields() const { return optionFields_; }
    // The status list shows the state ("ON-LINE" while serving), raising nothing.
    void ShowConnectionState();

    // Every control in creation order, and every timer: the views and the timer
    // backends iterate these, so a control or timer added here is never forgotten.
    std::vector<Control*> Controls();
    std::vector<Timer*> Timers();
    WindowModel View() { return {Form, Controls()}; }
    std::map<std::string, Control*> ControlsByName();

private:
    std::vector<OptionField> optionFields_;
};

}  // namespace ovrin
