#pragma once
// The simulated platform: a virtual clock that fires due timer ticks in time order,
// a scripted radio behind the serial facility, scripted sockets, scripted message
// boxes and in-memory files. Drives the real handlers deterministically.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/frmMain.h"

namespace ovrin::sim {

class SimClock {
public:
    SimClock();
    ~SimClock();
    void Bind(Timer& timer);
    void BindAll(frmMain& f);
    // Runs every tick that falls due up to now + ms, in time order.
    void Advance(int64_t ms);

private:
    class Backend;
    friend class Backend;
    int64_t now_ = 0;
    uint64_t order_ = 0;
    std::vector<std::unique_ptr<Backend>> backends_;
};

class SimComm : public CommControl {
public:
    int16_t CommPort() const override { return port_; }
    void SetCommPort(int16_t port) override;
    const std::string& Settings() const override { return settings_; }
    void SetSettings(const std::string& settings) override;
    bool DTREnable() const override { return dtr_; }
    void SetDTREnable(bool on) override { dtr_ = on; }
    bool RTSEnable() const override { return rts_; }
    void SetRTSEnable(bool on) override {
        rts_ = on;
        if (open_) rtsHistory.push_back(on);
    }
    bool PortOpen() const override { return open_; }
    void SetPortOpen(bool open) override;
    int32_t InBufferCount() override { return static_cast<int32_t>(Open().size()); }
    Bytes Input() override { return std::exchange(Open(), {}); }
    void Output(const Bytes& data) override { writes.push_back((Open(), data)); }
    int32_t OutBufferCount() override { return open_ ? backlog : 0; }
    std::string DeviceName(int16_t port) const override { return "/dev/sim" + std::to_string(port); }
    bool PortAvailable(int16_t port) const override { return existing.count(port) != 0; }
    int32_t DeliveryLatencyMs() const override { return latencyMs; }

    // Test controls.
    std::set<int16_t> existing{1};   // port numbers that can be opened
    int32_t backlog = 0;             // bytes "not yet sent" on the line
    int32_t latencyMs = 0;
    // The device goes away while open (closed, Lost raised) and comes back.
    void Unplug(const std::string& why = "No such device");
    void Replug() { existing.insert(port_); }
    // Bytes from the radio, and the arrival event the event loop would raise.
    void RadioSends(const Bytes& data, bool event = true);
    // The backlog goes to the line, and the event loop reports it.
    void LineDrains();
    std::vector<Bytes> writes;       // every Output, in order
    std::vector<bool> rtsHistory;    // every RTS line change while open
    std::vector<bool> rtsAtClose;    // the RTS line at each close
    int opens = 0;
    Bytes Written() const;

private:
    Bytes& Open();
    int16_t port_ = 1;
    std::string settings_ = "9600,n,8,1";
    bool dtr_ = false, rts_ = false, open_ = false;
    Bytes rx_;
};

class SimSocket : public Winsock {
public:
    explicit SimSocket(class SimSockets& owner) : owner_(owner) {}
    int16_t State() const override { return state; }
    int32_t SocketHandle() const override { return handle; }
    std::string RemoteHostIP() const override { return remoteIP; }
    int32_t LocalPort() const override { return localPort; }
    void SetLocalPort(int32_t port) override;
    void Listen() override;
    void Accept(int32_t requestID) override;
    void Close() override;
    int32_t BytesReceived() const override { return static_cast<int32_t>(rx.size()); }
    Bytes GetData() override;
    void SendData(const Bytes& data) override;
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

private:
    class SimSockets& owner_;
};

class SimSockets : public SocketArray {
public:
    SimSockets() { elements_[0] = std::make_unique<SimSocket>(*this); }
    int16_t Count() const override { return static_cast<int16_t>(elements_.size()); }
    void Load(int16_t index) override;
    void Unload(int16_t index) override;
    Winsock& operator()(int16_t index) override { return Element(index); }
    SimSocket& Element(int16_t index);
    bool Exists(int16_t index) const { return elements_.count(index) != 0; }
    std::string RequestRemoteIP(int32_t requestID) const override;

    // Events as the event loop would deliver them.
    // Returns true when the request was accepted by the handler.
    bool RequestConnection(const std::string& remoteIP = "198.51.100.1");
    void ClientSends(int16_t index, const Bytes& data);
    void PeerCloses(int16_t index);
    void RaiseError(int16_t index) { Error(index, 10053, "Connection is aborted"); }

    std::set<int32_t> busyPorts;     // ports another program listens on

private:
    friend class SimSocket;
    std::map<int16_t, std::unique_ptr<SimSocket>> elements_;
    std::map<int32_t, std::string> pending_;
    int32_t nextRequest_ = 1;
    int32_t nextHandle_ = 100;
};

class SimDialogs : public Dialogs {
public:
    struct Shown {
        std::string text, title;
    };
    MsgResult MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) override;
    void Answer(MsgResult r) { answers.push_back(r); }
    std::vector<Shown> shown;
    std::deque<MsgResult> answers;  // scripted Yes/No answers; an unscripted question fails the test
    std::function<void()> whileOpen;  // runs inside the box, as the nested event loop would
};

class SimHost : public Host {
public:
    std::string ProgramFolder() const override { return "/sim/prog"; }
    char PathSeparator() const override { return '/'; }
    int VersionMajor() const override { return 1; }
    int VersionMinor() const override { return 10; }
    int VersionRevision() const override { return 1; }
    int64_t FileLen(const std::string& path) const override { return static_cast<int64_t>(File(path).size()); }
    void Kill(const std::string& path) override { files.erase(path); }
    Bytes ReadRecord(const std::string& path, std::size_t length) override;
    void WriteRecord(const std::string& path, const Bytes& record) override;
    void EndProgram() override {}

    std::map<std::string, Bytes> files;
    bool failRead = false, failWrite = false;
    int writes = 0;

private:
    const Bytes& File(const std::string& path) const;
};

class SimLog : public Log {
public:
    void Line(LogLevel, const std::string& text) override { lines.push_back(text); }
    // True when a line holds every one of the given parts.
    bool Has(std::initializer_list<std::string> parts) const;
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
    SimSocket& Client(int16_t i) { return sockets.Element(i); }
};

}  // namespace ovrin::sim
