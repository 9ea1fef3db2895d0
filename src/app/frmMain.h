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
#include "settings/GivenSettings.h"
#include "settings/SettingsRecord.h"

namespace ovrin {

inline constexpr int16_t kMaxClients = 5;
inline constexpr const char* kConnToolTip = "Set to Listen to allow remote connections, Off-line to set Com Port";
// Serial output backlog at which reading from clients pauses, so that TCP flow
// control slows a client that sends faster than the serial line drains.
inline constexpr int32_t kMaxSerialBacklog = 32 * 1024;

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

    Timer tmrRx{"tmrRx", 50, false};
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
    int16_t ActivePort = 0;
    std::array<Bytes, 6> PendingData{};
    Bytes LastClientData;
    bool PTTExpired = false;
    std::string VersionText;
    SettingsRecordBuffer SettingsRecord;

    // The status animation's frame; only UpdateStatusIcon uses it.
    int16_t IconFrame = 0;
    // Clients whose data was left waiting while the serial backlog was full.
    std::array<bool, 6> ReadPaused{};
    // Per client, the start of a PTT command that its last read ended with.
    std::array<Bytes, 6> HeldPttBytes{};
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
    // Per slot, the identity of the connection accepted into it (0: none). A new
    // connection in the same slot has a new identity, so radio data meant for one
    // that has left never reach its successor.
    std::array<uint64_t, 6> ConnectionIdentity{};
    uint64_t ConnectionsAccepted = 0;
    // The connection that holds the port or held it last; radio data that arrive
    // while nobody holds the port go to it while that very connection is there.
    int16_t LastHolderSlot = 0;
    uint64_t LastHolderIdentity = 0;
    // Part of the radio's answer went on at the block-age limit; the turn passes
    // once the line has gone quiet.
    bool AnswerUnderway = false;
    // Arrival events of the block being gathered.
    int BlockArrivals = 0;

    // Every control in creation order, and every timer: the views and the timer
    // backends iterate these, so a control or timer added here is never forgotten.
    std::vector<Control*> Controls();
    std::vector<Timer*> Timers();
    WindowModel View() { return {Form, Controls()}; }
    std::map<std::string, Control*> ControlsByName();
};

}  // namespace ovrin
