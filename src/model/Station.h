#pragma once
// The server without its window: the clients, the data path between them and the
// radio's port, the transmitter, the port's session, the counters, the options and
// the platform facilities they use, with the timers they drive. The
// layers below the window take a Station; the window (frmMain) holds one.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/Hooks.h"
#include "platform/CommControl.h"
#include "platform/Dialogs.h"
#include "platform/Host.h"
#include "platform/Log.h"
#include "platform/SocketArray.h"
#include "platform/Timer.h"
#include "model/Boxes.h"
#include "model/ClientLog.h"
#include "model/Connections.h"
#include "model/PathLinks.h"
#include "model/StepFaults.h"
#include "model/Transmitter.h"
#include "record/SettingsRecord.h"
#include "state/ServerState.h"
#include "station/Station.h"
#include "path/DataPath.h"
#include "turns/Turns.h"

namespace ovrin {

// How long the start of a command at the end of a client's read waits for its
// rest: TCP segments of one write arrive tens of milliseconds apart on Wi-Fi or the
// Internet, and the newer Yaesu radios drop a command whose bytes come more than
// 10 ms apart.
inline constexpr int kHoldMs = 100;
// The serial port's session: how it was opened, why it last failed, and whether
// its device was lost while it should be open.
struct PortSession {
    // The port and its device as they were opened ("COM1 (/dev/ttyUSB0)"): a
    // device that is gone can no longer be looked up.
    std::string openLabel;
    // Why the port last failed to open ("" after a good open).
    std::string error;
    bool lost = false;
    // The port whose device was not there at start, looked for until it comes.
    int16_t awaited = 0;
    // What the window shows about the port without a box (its tool tips): "" when
    // all is well.
    std::string problem;
};

struct Station {
    Station(CommControl& comPort, SocketArray& tcpServer, Dialogs& dialogs, Host& host, Log& log);
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // --- the timers the server drives ---
    // The receive poll while clients are served, a safety net for the arrival and
    // drain events: every 1000 ms, every 50 ms while a client's read is paused
    // (PaceReceivePoll).
    Timer tmrRx{"tmrRx", 1000, false};
    // A paused client read is taken up again from the event loop, not from inside
    // the handler that found it may go (a drain, the poll, an answered question).
    Timer tmrReadAgain{"tmrReadAgain", 0, false};
    // The transmitter's watchdog, set at each key: 10 s for the in-band command,
    // the transmit limit for a remote serial port client's RTS or a CAT key.
    Timer tmrPTT{"tmrPTT", 10000, false};
    // Per client slot: the start of a command (a PTT command, a CAT command) that
    // its read ended with waits this long for its rest, on that client's own clock.
    std::array<Timer, kMostClients> tmrHold{{{"tmrHold1", kHoldMs, false},
                                            {"tmrHold2", kHoldMs, false},
                                            {"tmrHold3", kHoldMs, false},
                                            {"tmrHold4", kHoldMs, false},
                                            {"tmrHold5", kHoldMs, false}}};
    // Tries a lost serial device again while the port should be open.
    Timer tmrReopen{"tmrReopen", 1000, false};
    // Remote serial port clients: line changes in their first second are held
    // (programs raise RTS and DTR at open and drop them at once), and the modem
    // lines are watched for them.
    Timer tmrLineSettle{"tmrLineSettle", 1000, false};
    Timer tmrModemLines{"tmrModemLines", 100, false};
    // Writes the log lines a client's flood held back, a second on.
    Timer tmrClientLog{"tmrClientLog", ClientLog::kQuietMs, false};
    // Closes the clients found not to read (model/Outbound.h), from the event loop
    // rather than in the middle of a send.
    Timer tmrNotReading{"tmrNotReading", 1, false};
    // Looks for the chosen port's device while it is not there, to say when it comes.
    Timer tmrDevice{"tmrDevice", 2000, false};

    // --- platform facilities ---
    CommControl& comPort;
    SocketArray& tcpServer;
    Dialogs& dialogs;
    Host& host;
    Log& log;

    // --- the server's state ---
    // Off-line, listening, or serving clients: the one truth, changed only through
    // its transitions; the window's status control shows it.
    ServerState state;
    std::string VersionText;
    SettingsRecordBuffer SettingsRecord;

    // The clients and the transmitter.
    Connections connections;
    // What a client can make happen again and again is logged at most once a second.
    ClientLog clientLog{log, host, tmrClientLog};
    // What a skipped step threw, told once a minute per kind.
    StepFaults faults{log, host};
    Transmitter transmitter{comPort, tmrPTT, clientLog, host, faults};
    PortSession port;
    Boxes boxes{dialogs};
    // A close is under way: a close event raised inside it is not a second close.
    bool ClosingConnection = false;
    // The question about RTS control has been asked in this run.
    bool AskedRTSControl = false;
    // The question about RTS control is open: client data wait in their sockets.
    bool RtsQuestionOpen = false;
    // The auto-information mode the server last wrote to the radio (-1: none yet).
    int RadioAutoInfo = -1;
    // Failed accepts are logged once a minute: when, and how many since.
    int64_t AcceptFailureLoggedMs = -1;
    int AcceptFailuresUnlogged = 0;

    // Settings given for this run from outside the window.
    GivenSettings Given;
    // The settings as the window shows them: the port, its line and modem lines,
    // the boxes, and the options taken for the run. The window keeps them current
    // (frmMain::PassSettings) whenever a box changes, and shows them again when the
    // server changes them itself (SettingsChanged), so nothing below the window
    // reads a control.
    StationSettings settings;
    Hooks SettingsChanged;
    // What else the window shows of the server: the port's problem, the ports
    // there are (a device came), the clients connected.
    Hooks PortProblemChanged;
    Hooks PortsChanged;
    Hooks ClientsChanged;
    // The settings changed by the server itself (the files read, RTS control
    // granted), then shown; the options taken for the run (the transmitter keys
    // their PTT line).
    void ChangeSettings(const StationSettings& s);
    void TakeOptions(const ServerOptions& o);
    // The radio's frequency as its answers and reports last told it, or a frequency
    // set that went to it, and when (-1: never); a client's last CI-V frame, whose
    // addresses the server's own read of the frequency uses.
    cat::FrequencyWatch frequency;
    int64_t frequencyMs = -1;
    Bytes civFrame;
    // Radio bytes as they are read, and blocks as they are written (the 5-byte
    // answers are known by their place).
    void HeardFromRadio(const Bytes& data);
    void WroteToRadio(const Bytes& data);
    void FrequencySet(int64_t hz);
    // The frequency when it was told within the last `ms`.
    std::optional<int64_t> FrequencyWithin(int ms) const;
    // The turns share reads as the options and the radio's reports say.
    void ShareReads();
    // Whether a client at this address may connect at all; unset: everyone may.
    std::function<bool(const std::string& address)> Admits;

    // The data path between the clients and the radio's port: the turns, their
    // timers and the framing, reaching the port and the sockets only through these.
    StationRadioPort radioPort{*this};
    StationClients clientSink{*this};
    DataPath path{radioPort, clientSink, settings.options};
    // The turns, as the clients' commands read and set them (their language, their
    // wishes): the data path's.
    Turns& turns = path.turns;
};

// A client's block for the radio's port (see DataPath::Submit).
inline void SubmitToPort(Station& station, ConnectionId from, Turns::Block block, bool first = false) {
    station.path.Submit(from, std::move(block), first);
}

}  // namespace ovrin
