#pragma once
// The window model: every control by name, the timers, the platform facilities,
// the window-level flags and the application state. One instance is the whole
// program; tests create as many as they like.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/CommControl.h"
#include "platform/Controls.h"
#include "platform/Dialogs.h"
#include "platform/Host.h"
#include "platform/Log.h"
#include "platform/SocketArray.h"
#include "platform/Timer.h"
#include "net/Connections.h"
#include "serial/Transmitter.h"
#include "settings/GivenSettings.h"
#include "settings/SettingsRecord.h"
#include "turns/Turns.h"

namespace ovrin {

inline constexpr const char* kConnToolTip = "Set to Listen to allow remote connections, Off-line to set Com Port";
// Serial output backlog at which reading from clients pauses, so that TCP flow
// control slows a client that sends faster than the serial line drains.
inline constexpr int32_t kMaxSerialBacklog = 32 * 1024;
// Radios answer a command within tens of milliseconds; a few old ones take over a
// hundred. Longer than that, and a command that gets no answer holds the port.
inline constexpr int kDefaultAnswerWaitMs = 250;
// A digital-mode transmission lasts 13 s and more; a stuck key should not.
inline constexpr int kDefaultTxLimitS = 180;

enum class ConnectionState { OffLine, Listening, Serving };

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
    Label lblRmtAddress;
    Label Label2;
    Image imgConn;
    std::map<int, Label> Label1;  // field captions by element index
    ImageList ImageList1;

    Timer tmrRx{"tmrRx", 1000, false};
    // The longest a turn lasts while its answer keeps coming.
    Timer tmrActivePort{"tmrActivePort", 3000, false};
    Timer tmrPTT{"tmrPTT", 10000, false};
    Timer tmrPicture{"tmrPicture", 500, true};
    // Holds back the start of a PTT command that a client's read ended with, for
    // one receive gap, in case its rest comes with the next read.
    Timer tmrPttHold{"tmrPttHold", 3, false};
    // Tries a lost serial device again while the port should be open.
    Timer tmrReopen{"tmrReopen", 1000, false};
    // Framing of radio data: a block ends when the line has been quiet for the gap
    // (set from the line at each arrival), or is cut when it has grown for 50 ms.
    Timer tmrRxGap{"tmrRxGap", 3, false};
    Timer tmrRxBlock{"tmrRxBlock", 50, false};
    // Ends a turn whose command the radio has not answered (set from the answer
    // wait and the command's time on the line at each write).
    Timer tmrAnswerWait{"tmrAnswerWait", 250, false};
    // Remote serial port clients: line changes in their first second are held
    // (programs raise RTS and DTR at open and drop them at once), and the modem
    // lines are watched for them.
    Timer tmrLineSettle{"tmrLineSettle", 1000, false};
    Timer tmrModemLines{"tmrModemLines", 100, false};

    // --- platform facilities ---
    CommControl& comPort;
    SocketArray& tcpServer;
    Dialogs& dialogs;
    Host& host;
    Log& log;

    // --- window-level flags ---
    bool InConnClick = false;
    bool ClosingConnection = false;
    bool AskedRTSControl = false;

    // --- application state ---
    bool OnLine = false;
    // Off-line, listening, or serving clients; the window shows serving as "ON-LINE".
    ConnectionState Status = ConnectionState::OffLine;
    std::string VersionText;
    SettingsRecordBuffer SettingsRecord;

    // The clients, their turns at the radio's port, and the transmitter.
    Connections connections;
    Turns turns;
    Transmitter transmitter{comPort, tmrPTT, log};
    // How long the radio may stay silent after a command before its turn ends.
    int AnswerWaitMs = kDefaultAnswerWaitMs;
    // Clients served at once (the Bridge box, when checked, allows every slot).
    int ClientLimit = 1;
    // The TCP port of the remote serial port listener (0: none), and how long a
    // client of it may hold the transmitter keyed (0: no limit).
    int32_t ComPortControlPort = 0;
    int TxLimitS = kDefaultTxLimitS;
    // The question about RTS control is open: client data wait in their sockets.
    bool RtsQuestionOpen = false;

    // The status animation's frame; only UpdateStatusIcon uses it.
    int16_t IconFrame = 0;
    // Why the serial port last failed to open ("" after a good open), and whether
    // its device was lost while it should be open.
    std::string ComPortError;
    bool PortLost = false;
    // The port and its device as they were opened ("COM1 (/dev/ttyUSB0)"): a
    // device that is gone can no longer be looked up.
    std::string OpenPortLabel;
    // Message boxes open now (title and text): an identical one is not stacked.
    std::set<std::string> OpenBoxes;

    // Settings given for this run from outside the window.
    GivenSettings Given;
    // Whether a client at this address may connect at all; unset: everyone may.
    std::function<bool(const std::string& address)> Admits;
    // Arrival events of the radio block being gathered.
    int BlockArrivals = 0;

    // Every control in creation order, and every timer: the views and the timer
    // backends iterate these, so a control or timer added here is never forgotten.
    std::vector<Control*> Controls();
    std::vector<Timer*> Timers();
    WindowModel View() { return {Form, Controls()}; }
    std::map<std::string, Control*> ControlsByName();
};

}  // namespace ovrin
