#pragma once
// The simulated platform: a virtual clock that fires due timer ticks in time order,
// a scripted radio behind the serial facility, scripted sockets, scripted message
// boxes and in-memory files. Drives the real handlers deterministically.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "line/LineSettings.h"
#include "model/frmMain.h"
#include "platform/shared/SerialCore.h"

namespace ovrin::sim {

// Bytes written as numbers: H({0xFE, 0xFE, 0x94, 0xE0, 0x03, 0xFD}).
inline Bytes H(std::initializer_list<int> bytes) {
    Bytes out;
    for (int b : bytes) out += static_cast<char>(b);
    return out;
}

class SimClock {
public:
    SimClock();
    ~SimClock();
    void Bind(Timer& timer);
    void BindAll(frmMain& f);
    // Runs every tick that falls due up to now + ms, in time order.
    void Advance(int64_t ms);
    int64_t Now() const { return now_; }

private:
    class Backend;
    int64_t now_ = 0;
    uint64_t order_ = 0;
    std::vector<std::unique_ptr<Backend>> backends_;
};

// Runs what an event loop holds, what it queues meanwhile included, until none is left.
inline void RunQueued(std::deque<std::function<void()>>& loop) {
    while (!loop.empty()) {
        const std::function<void()> work = std::move(loop.front());
        loop.pop_front();
        work();
    }
}

// Failures carry the descriptions the real facilities give.
inline void FailIf(bool failed, const char* why) {
    if (failed) throw PlatformError(why);
}

// The serial port: the shared core over a scripted device. What the program writes
// takes time: it waits unsent until the virtual clock moves (or a drain waits for
// it), and a close that did not wait for it cuts it off, as a real port's does.
// Events go through the core's loop, run when the test delivers them.
class SimComm : public SerialCore {
public:
    ~SimComm() override { CloseAtEnd(); }
    void SetDTREnable(bool on) override {
        SerialCore::SetDTREnable(on);
        if (PortOpen()) dtrHistory.push_back(on);
    }
    void SetRTSEnable(bool on) override {
        SerialCore::SetRTSEnable(on);
        if (PortOpen()) rtsHistory.push_back(on);
    }
    std::function<void()> OnOutput;  // a harness asks who is writing
    std::string DeviceName(int16_t port) const override { return "/dev/sim" + std::to_string(port); }
    std::string PortProblem(int16_t port) const override {
        return existing.count(port) ? "" : "No such file or directory";
    }
    int32_t DeliveryLatencyMs() const override { return latencyMs; }

    // The device goes away while open (closed, Lost raised) and comes back.
    void Unplug(const std::string& why = "No such device") {
        existing.erase(CommPort());
        if (PortOpen()) ReportLost(Generation(), why);
        RunLoop();
    }
    // Bytes from the radio (a closed port hears nothing), and the arrival event the
    // event loop would raise.
    void RadioSends(const Bytes& data, bool event = true) {
        if (!PortOpen()) return;
        rx_ += data;
        if (event) QueueEvent(comEvReceive, Generation());
        RunLoop();
    }
    // The backlog goes to the line, and the event loop reports it.
    void LineDrains() {
        backlog = 0;
        QueueEvent(comEvSend, Generation());
        RunLoop();
    }
    // Every byte the program wrote, and what of it has reached the radio.
    Bytes Written() const {
        Bytes all;
        for (const auto& w : writes) all += w;
        return all;
    }
    const Bytes& Heard() {
        Settle();
        return heard_;
    }

    const SimClock* clock = nullptr;  // written bytes leave once it moves
    std::set<int16_t> existing{1};   // port numbers that can be opened
    int32_t backlog = 0;             // bytes "not yet sent" on the line, as the port tells it
    int32_t latencyMs = 0;
    std::vector<Bytes> writes;       // every Output, in order
    Bytes cutOff;                    // written, never sent: the port closed first
    std::vector<bool> rtsHistory;    // every RTS change asked for while open
    std::vector<bool> rtsAtClose;    // RTS as asked for at each close (a lost device's not)
    std::vector<bool> dtrHistory, dtrAtClose;  // the same for DTR
    int opens = 0;

private:
    void OpenDevice() override {
        FailIf(!existing.count(CommPort()), "Invalid port number");
        ++opens;
        rx_.clear();
    }
    void CloseDevice() noexcept override {
        Settle();
        cutOff += std::exchange(unsent_, {});
        if (!FoundGone()) rtsAtClose.push_back(RTSEnable()), dtrAtClose.push_back(DTREnable());
        rx_.clear();
    }
    void ApplySettings(const LineSettings&) override {}
    void SetDeviceLine(Line, bool) override {}
    int32_t Waiting() override { return static_cast<int32_t>(rx_.size()); }
    Bytes Read() override { return std::exchange(rx_, {}); }
    void Write(const Bytes& data) override {
        Settle();
        unsent_ += data;
        writtenAt_ = clock ? clock->Now() : 0;
        writes.push_back(data);
        if (OnOutput) OnOutput();
    }
    int32_t Unsent() override { return backlog; }
    void WaitSent(int) override { heard_ += std::exchange(unsent_, {}); }
    void Post(std::function<void()> work, bool) override { loop_.push_back(std::move(work)); }
    void Settle() {
        if (clock && clock->Now() > writtenAt_) heard_ += std::exchange(unsent_, {});
    }
    void RunLoop() { RunQueued(loop_); }
    Bytes rx_, unsent_, heard_;
    int64_t writtenAt_ = 0;
    std::deque<std::function<void()>> loop_;
};

class SimSockets;

class SimSocket : public SocketElement {
public:
    explicit SimSocket(SimSockets& owner) : owner_(owner) {}
    int16_t State() const override { return state; }
    int32_t SocketHandle() const override { return handle; }
    std::string RemoteHostIP() const override { return remoteIP; }
    int32_t LocalPort() const override { return localPort; }
    void SetLocalPort(int32_t port) override {
        FailIf(state != sckClosed, "Invalid operation at current state");
        FailIf(port < 0 || port > 65535, kInvalidPropertyValue);
        localPort = port;
    }
    void Listen() override;
    void Accept(int32_t requestID) override;
    void Close() override {
        state = sckClosed;
        handle = -1;
        peerGone = false;
        rx.clear();
        ReadsAgain();
    }
    int32_t BytesReceived() const override { return static_cast<int32_t>(rx.size()); }
    Bytes GetData() override {
        FailIf(failRead, "Read failed");
        return std::exchange(rx, {});
    }
    void SendData(const Bytes& data) override {
        FailIf(state != sckConnected, "Wrong protocol or connection state");
        sent += data;
        sentBlocks.push_back(data);
        if (!reads) unsent += static_cast<int32_t>(data.size());
        PeakUnsent(unsent);
    }
    int32_t BytesToSend() const override { return unsent; }
    // The peer takes everything at once, or stops reading: what is sent then waits.
    void StopsReading() { reads = false; }
    void ReadsAgain() {
        reads = true;
        unsent = 0;
    }
    bool PeerGone() override { return peerGone || state == sckClosing; }
    std::string LocalHostName() const override { return "simhost"; }
    std::string LocalIP() const override { return "192.0.2.10"; }

    int16_t state = sckClosed;
    int32_t handle = -1;
    int32_t localPort = 0;
    std::string remoteIP;
    Bytes rx, sent;
    std::vector<Bytes> sentBlocks;  // each SendData, in order
    bool failRead = false;
    bool peerGone = false;  // gone, its close event not yet delivered
    bool reads = true;
    int32_t unsent = 0;

private:
    void PeakUnsent(int32_t n);
    SimSockets& owner_;
};

class SimSockets : public SocketArray {
public:
    SimSockets() { elements_[0] = std::make_unique<SimSocket>(*this); }
    int16_t Count() const override { return static_cast<int16_t>(elements_.size()); }
    void Load(int16_t index) override {
        FailIf(index < 1 || elements_.count(index), "Object already loaded");
        elements_[index] = std::make_unique<SimSocket>(*this);
    }
    void Unload(int16_t index) override { FailIf(index < 1 || !elements_.erase(index), kNoElement); }
    SocketElement& operator()(int16_t index) override { return Element(index); }
    SimSocket& Element(int16_t index) {
        FailIf(!elements_.count(index), kNoElement);
        return *elements_[index];
    }
    bool Exists(int16_t index) const override { return elements_.count(index) != 0; }
    std::string RequestRemoteIP(int32_t requestID) const override {
        FailIf(!pending_.count(requestID), "Invalid argument");
        return pending_.at(requestID);
    }

    // Events as the event loop would deliver them. A request the handler leaves
    // unaccepted is closed; true when it was accepted.
    bool RequestConnection(const std::string& remoteIP = "198.51.100.1", int16_t listener = 0) {
        if (!Exists(listener) || Element(listener).state != sckListening) return false;  // refused by the system
        const int32_t id = nextRequest_++;
        pending_[id] = remoteIP;
        ConnectionRequest(listener, id);
        return pending_.erase(id) == 0;
    }
    void ClientSends(int16_t index, const Bytes& data) {
        Element(index).rx += data;
        DataArrival(index, static_cast<int32_t>(data.size()));
    }
    void PeerCloses(int16_t index) {
        Element(index).state = sckClosing;
        CloseEvent(index);
    }
    void RaiseError(int16_t index) { Error(index, 10053, "Connection is aborted"); }
    // The listener could not take a connection (a full descriptor table).
    void AcceptFails(int16_t listener) { AcceptFailed(listener, "Out of resources"); }

    std::set<int32_t> busyPorts;  // ports another program listens on
    int32_t peakUnsent = 0;       // the most that waited for any client, ever
    std::string listenFailure;    // any other reason listening fails, when set

private:
    friend class SimSocket;
    static constexpr const char* kNoElement = "Control array element doesn't exist";
    std::map<int16_t, std::unique_ptr<SimSocket>> elements_;
    std::map<int32_t, std::string> pending_;
    int32_t nextRequest_ = 1;
    int32_t nextHandle_ = 100;
};

inline void SimSocket::PeakUnsent(int32_t n) { owner_.peakUnsent = std::max(owner_.peakUnsent, n); }

inline void SimSocket::Listen() {
    FailIf(state != sckClosed, "Invalid operation at current state");
    if (owner_.busyPorts.count(localPort)) throw PortInUseError("The bound address is already in use");
    FailIf(!owner_.listenFailure.empty(), owner_.listenFailure.c_str());
    state = sckListening;
    handle = owner_.nextHandle_++;
}

inline void SimSocket::Accept(int32_t requestID) {
    FailIf(state != sckClosed || !owner_.pending_.count(requestID), "Invalid operation at current state");
    remoteIP = owner_.pending_.at(requestID);
    owner_.pending_.erase(requestID);
    state = sckConnected;
    handle = owner_.nextHandle_++;
}

class SimDialogs : public Dialogs {
public:
    struct Shown {
        std::string text, title;
        MsgButtons buttons = MsgButtons::OK;
    };
    MsgResult MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) override;
    bool Attended() const override { return attended; }
    void Answer(MsgResult r) { answers.push_back(r); }
    std::string Titles() const {
        std::string all;
        for (const Shown& box : shown) all += box.title + ";";
        return all;
    }
    std::vector<Shown> shown;
    std::deque<MsgResult> answers;  // scripted Yes/No answers; an unscripted question fails the test
    std::function<void()> whileOpen;  // runs inside the box, as the nested event loop would
    bool attended = true;
};

class SimHost : public Host {
public:
    std::string ProgramFolder() const override { return "/sim/prog"; }
    char PathSeparator() const override { return '/'; }
    int VersionMajor() const override { return 1; }
    int VersionMinor() const override { return 10; }
    int VersionRevision() const override { return 1; }
    int64_t FileLen(const std::string& path) const override { return static_cast<int64_t>(File(path).size()); }
    Bytes ReadRecord(const std::string& path, std::size_t length) override {
        FailIf(failRead, "Permission denied");
        FailIf(File(path).size() < length, "Input past end of file");
        return File(path).substr(0, length);
    }
    void WriteRecord(const std::string& path, const Bytes& record) override {
        FailIf(failWrite, "Disk full");
        files[path] = record;
        ++writes;
    }
    void KeepCopy(const std::string& path, const std::string& copy) override {
        FailIf(failRead, "Permission denied");
        files[copy] = File(path);
    }
    void EndProgram() override {}
    int64_t MonotonicMs() const override { return clock ? clock->Now() : 0; }
    // 2026-12-08 12:00:00 UTC when the simulated clock starts.
    int64_t WallClockMs() const override { return 1796731200000 + MonotonicMs(); }
    const SimClock* clock = nullptr;

    std::map<std::string, Bytes> files;
    bool failRead = false, failWrite = false;
    int writes = 0;

private:
    const Bytes& File(const std::string& path) const {
        FailIf(!files.count(path), "File not found");
        return files.at(path);
    }
};

class SimLog : public Log {
public:
    void Line(LogLevel, const std::string& text) override { lines.push_back(text); }
    // True when a line holds every one of the given parts.
    bool Has(std::initializer_list<std::string> parts) const {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return std::all_of(parts.begin(), parts.end(), [&](const auto& p) { return line.find(p) != line.npos; });
        });
    }
    int Count(const std::string& part) const {
        return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                              [&](const std::string& line) { return line.find(part) != line.npos; }));
    }
    std::vector<std::string> lines;
};

// A whole program on the simulated platform, wired but not yet loaded.
struct SimApp {
    SimClock clock;
    SimComm com;
    SimSockets sockets;
    SimDialogs dialogs;
    SimHost host;
    SimLog log;
    frmMain f{com, sockets, dialogs, host, log};

    SimApp();
    std::string SettingsPath() const { return "/sim/prog/Ovrin-Bridge.ini"; }
    // Form_Load with no settings file answers nothing and ends listening.
    void Load();
    // Loaded, and `clients` connected (Bridge on for more than one).
    void Serve(int clients = 1);
    SimSocket& Client(int16_t i) { return sockets.Element(i); }
    void Send(int16_t i, const Bytes& data) { sockets.ClientSends(i, data); }
    // A block from the radio, then a quiet line.
    void Radio(const Bytes& data) {
        com.RadioSends(data);
        clock.Advance(50);
    }
    // The bytes as a line brings them: `burst` at a time, `ms` apart.
    void Paced(const Bytes& data, int ms = 1, std::size_t burst = 1) {
        for (std::size_t at = 0; at < data.size(); at += burst, clock.Advance(ms))
            com.RadioSends(data.substr(at, burst));
    }

    // A scripted exchange, checked as it goes: what clients send, what the radio
    // says (no time passes: an answer is expected to move at once), time, and what
    // must have been written to the radio or received by a client by then.
    struct Step {
        enum Kind { Client, Radio, Wait, Written, Got, Leaves } kind;
        int16_t who = 0;
        Bytes bytes;
        int ms = 0;
    };
    static Step C(int16_t who, Bytes b) { return {Step::Client, who, std::move(b), 0}; }
    static Step R(Bytes b) { return {Step::Radio, 0, std::move(b), 0}; }
    static Step T(int ms) { return {Step::Wait, 0, {}, ms}; }
    static Step W(Bytes b) { return {Step::Written, 0, std::move(b), 0}; }
    static Step G(int16_t who, Bytes b) { return {Step::Got, who, std::move(b), 0}; }
    static Step L(int16_t who) { return {Step::Leaves, who, {}, 0}; }
    void Run(const std::vector<Step>& steps);
};

// The in-band PTT commands a client sends to key and release the transmitter.
inline const Bytes kInBandKey = "\x1B\x1B" "ATH1";
inline const Bytes kInBandRelease = "\x1B\x1B" "ATH0";

// A remote serial port client's COM-PORT-OPTION request (the server's answer: the
// command + 100), and its SET-CONTROL request.
inline Bytes ComPortOption(int command, const Bytes& value) {
    return "\xFF\xFA\x2C" + Bytes(1, static_cast<char>(command)) + value + "\xFF\xF0";
}
inline Bytes SetControl(int value) { return ComPortOption(5, Bytes(1, static_cast<char>(value))); }

// Serving one client, "Control RTS as PTT" given as `control`, RTS's history empty.
struct Keyer : SimApp {
    explicit Keyer(int control = 1) {
        Serve();
        f.chkCtrlPTT.SetValue(control);
        com.rtsHistory.clear();
    }
};

}  // namespace ovrin::sim
