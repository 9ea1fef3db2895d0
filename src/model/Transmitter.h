#pragma once
// The transmitter: who keyed it, how, and the timer that ends a key nobody renews
// or that has lasted the transmit limit. It is keyed through its line, RTS or DTR
// (the in-band command, a remote serial port client's line) or by a CAT command written to the
// radio; one owner whatever the way: the first connection to key owns it until it
// releases, leaves or its time runs out, and the others' key and release commands
// are refused. Every transmission is logged when it starts and when it ends, and
// the last ones are kept for whoever wants to show them.
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "base/Bytes.h"
#include "base/Errors.h"
#include "base/Hooks.h"
#include "model/ClientLog.h"
#include "model/StepFaults.h"
#include "platform/CommControl.h"
#include "platform/Host.h"
#include "platform/Log.h"
#include "platform/Timer.h"
#include "station/Station.h"

namespace ovrin {

// The in-band key command must be repeated within this time to keep the key.
inline constexpr int kKeyRepeatMs = 10000;

enum class KeyWay : uint8_t {
    InBand,     // the in-band command on the PTT line, repeated to stay keyed
    RemoteRts,  // a remote serial port client's PTT line, held up to the transmit limit
    Cat,        // a CAT command, held up to the transmit limit
};

struct KeyRequest {
    ConnectionId who = 0;
    KeyWay way = KeyWay::InBand;
    std::string client;  // "Client 198.51.100.7 (slot 1, connection 3)"
    std::string how;     // "RTS (in-band command)", "DTR (remote serial port)", "CAT (Kenwood TX;)"
    int limitMs = kKeyRepeatMs;  // the key drops after it unless renewed; 0: never
    Bytes release;               // CAT: what releases the radio
    // Filled in by the check at the key (MayKey): the keyer's role, and the radio's
    // frequency in Hz (-1: not known).
    std::string role;
    int64_t hz = -1;
};

// One transmission, for the record.
struct Transmission {
    std::string client, how;
    int64_t startedMs = 0;      // on the program's monotonic clock
    int64_t startedWallMs = 0;  // wall clock, for people
    int64_t endedMs = -1;       // -1 while it lasts
    std::string ended;          // how it ended
    std::string role;           // the keyer's
    int64_t hz = -1;            // the radio's frequency at the key; -1: not known
};

class Transmitter {
public:
    static constexpr std::size_t kKept = 20;

    Transmitter(CommControl& port, Timer& watchdog, ClientLog& log, const Host& clock, StepFaults& faults)
        : port_(port), watchdog_(watchdog), log_(log), clock_(clock), faults_(faults) {}

    // False when another connection owns the key (nothing changes then, and the
    // refusal is logged).
    bool Key(const KeyRequest& request);
    // The owner's release (false, and logged, for anyone else). A release of the
    // line with nothing keyed still drops it: it may have been left up. The owner
    // releasing by CAT writes its own release; any other way of releasing a CAT
    // key writes the release for it.
    bool Release(ConnectionId who, KeyWay way, const std::string& client, const std::string& how);
    // Ends the key whoever holds it, saying why. `portClosing`: a CAT release is
    // written at once, before the port closes, rather than in turn.
    void Drop(const std::string& why, bool portClosing = false);
    // The owner has gone: nobody is left to release the key.
    void OwnerLeft(ConnectionId who, const std::string& why);
    void WatchdogExpired();

    // The modem line a key raises; another line drops a key first.
    void SetLine(PttLine line);
    PttLine Line() const { return line_; }

    bool Keyed() const { return owner_ != 0; }
    ConnectionId Owner() const { return owner_; }
    KeyWay Way() const { return way_; }
    const std::deque<Transmission>& Recent() const { return recent_; }

    // Runs after every change of the key: the window shows it, the listener
    // watches the keyer's connection.
    Hooks Changed;
    // Asked before a key that is not a renewal: why it may not be (the keyer's role,
    // the allowed bands), or nothing; it may fill in the request's role and
    // frequency. Unset: every key may be.
    std::function<std::optional<std::string>(KeyRequest&)> MayKey;
    // Writes a CAT release to the radio: `now` when the port is about to close,
    // otherwise ahead of whatever waits for the port.
    std::function<void(const Bytes& release, bool now)> WriteRelease;

private:
    void End(const std::string& why, LogLevel level, bool portClosing = false, bool writeRelease = true);
    void SetPttLine(bool on);

    CommControl& port_;
    Timer& watchdog_;
    ClientLog& log_;
    const Host& clock_;
    StepFaults& faults_;
    ConnectionId owner_ = 0;
    KeyWay way_ = KeyWay::InBand;
    PttLine line_ = PttLine::Rts;
    bool lineUp_ = false;
    Bytes catRelease_;  // not empty while keyed by CAT
    std::deque<Transmission> recent_;
};

}  // namespace ovrin
