#pragma once
// The data path between the clients and the radio, one way through: client blocks
// come in from the connections, are written by the turns and answered through
// them; radio bytes come in from the port's events, are framed and delivered to
// the clients. It owns the turns, the timers that end a turn and frame the
// radio's bytes, and the line's timing, and reaches out only through RadioPort and
// ClientSink, so it knows neither the sockets nor the serial facility.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "line/Framing.h"
#include "platform/Timer.h"
#include "station/Station.h"
#include "turns/Turns.h"

namespace ovrin {

// Serial output backlog at which reading from clients pauses, so that TCP flow
// control slows a client that sends faster than the serial line drains.
inline constexpr int32_t kMaxSerialBacklog = 32 * 1024;
// The same for what one client has waiting for its turn at the port: its bytes,
// and its commands, each of which costs far more than its bytes (the answer it
// awaits, the read it may share; some 800 bytes for a 3-byte read).
inline constexpr std::size_t kMaxParked = 32 * 1024;
inline constexpr std::size_t kMaxParkedCommands = 256;

// What the data path needs of the radio's serial port. A failing operation is the
// realisation's to report; here it reads as nothing done (no bytes, a count of 0).
class RadioPort {
public:
    virtual ~RadioPort() = default;
    virtual bool IsOpen() = 0;
    virtual void Write(const Bytes& data) = 0;
    // Waits, at most this long, until what was written has gone to the line.
    virtual void Drain(int timeoutMs) = 0;
    // Every byte that waits, taken.
    virtual Bytes Input() = 0;
    virtual int32_t InCount() = 0;
    // Bytes written, not yet on the line.
    virtual int32_t OutCount() = 0;
    // How long the device may hold bytes that came before it hands them on.
    virtual int32_t DeliveryLatencyMs() = 0;
};

// Where the radio's bytes go: the connections, by identity.
class ClientSink {
public:
    virtual ~ClientSink() = default;
    // The radio's bytes for one client, as the radio said them (coded for its wire
    // by the sink); a client that has gone gets nothing.
    virtual void Deliver(ConnectionId to, const Bytes& data) = 0;
    // What waits to be sent to it is at its bound: its reads wait.
    virtual bool QueueFull(ConnectionId id) = 0;
    virtual int Count() = 0;
    // The one client there is, a remote serial port client.
    virtual bool SoleComPortClient() = 0;
};

class DataPath {
public:
    // `options`: read at each write (the answer wait).
    DataPath(RadioPort& port, ClientSink& clients, const ServerOptions& options);
    DataPath(const DataPath&) = delete;
    DataPath& operator=(const DataPath&) = delete;

    // The longest a turn lasts while its answer keeps coming.
    Timer tmrActivePort{"tmrActivePort", 3000, false};
    // Framing of radio data: a block ends when the line has been quiet for the gap
    // (set from the line at each arrival), or is cut when it has grown for 50 ms.
    Timer tmrRxGap{"tmrRxGap", 3, false};
    Timer tmrRxBlock{"tmrRxBlock", 50, false};
    // Ends a turn whose command the radio has not answered (set from the answer
    // wait and the command's time on the line at each write).
    Timer tmrAnswerWait{"tmrAnswerWait", 250, false};
    // Ends the wait of reads for a report the radio began and did not finish (set
    // from the answer wait).
    Timer tmrReportWait{"tmrReportWait", 250, false};

    Turns turns;

    // The port's line settings ("9600,n,8,2") are now these: at open, and when a
    // remote serial port client or the configuration sets them. Worked out here
    // once, not at each arrival.
    void LineChanged(const std::string& settings);
    int CharacterMicroseconds() const { return framing_.CharacterMicroseconds(); }

    // A client's block for the port: written now, or parked for its turn. `first`:
    // ahead of what is parked (a release of the transmitter). Dropped while the
    // port is closed, as a closed port would.
    void Submit(ConnectionId from, Turns::Block block, bool first = false);
    // Bytes in no language; `echoed`: the radio's echo of them is dropped (not for
    // a remote serial port client).
    void Submit(ConnectionId from, Bytes data, bool echoed = true);
    // The transmitter's release of a CAT key: `now`, written and drained before the
    // port closes; otherwise ahead of whatever waits for the port.
    void WriteCatRelease(const Bytes& release, bool now);
    // Whether the client's next read may be taken: the serial backlog, what it has
    // parked and what waits to be sent to it are below their bounds.
    bool Accepts(ConnectionId id);

    // Bytes came from the radio: a lone remote serial port client gets them at
    // once, otherwise they join the block being framed.
    void RadioBytesCame();
    // The receive poll's part: bytes that came without an arrival event.
    void Poll();

    // A connection joins the turns when accepted; when it goes, the turn it held
    // ends (in a known language) and what it parked still goes.
    void Join(ConnectionId id);
    void Leave(ConnectionId id);
    // The port was opened afresh or closed: what it held belongs to nobody.
    void Reset();

private:
    void Deliver(const std::vector<Turns::Delivery>& deliveries);
    void PassOnRadioData(bool lineQuiet);
    void StartAnswerWait(std::size_t written);
    void WriteBlock(const Turns::Write& w, bool newTurn);
    void DispatchNextPending();
    void TurnEnded();
    void EndRadioBlock(bool lineQuiet);
    // `heard`: radio bytes came.
    void WatchReport(bool heard);
    void ReportWaitOver();
    void FrameArrival();
    bool RadioBytesWaiting() { return port_.InCount() > 0; }
    void TurnLimit();
    void AnswerWaitOver();

    RadioPort& port_;
    ClientSink& clients_;
    const ServerOptions& options_;
    RadioFraming framing_;
};

}  // namespace ovrin
