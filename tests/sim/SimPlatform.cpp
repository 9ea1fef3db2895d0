#include "sim/SimPlatform.h"

#include <algorithm>
#include <optional>

#include <gtest/gtest.h>

#include "app/Lifecycle.h"
#include "platform/LineSettings.h"

namespace ovrin::sim {

class SimClock::Backend : public TimerBackend {
public:
    Backend(SimClock& clock, Timer& timer) : clock_(clock), timer_(timer) {}
    void Arm(int intervalMs) override {
        due_ = clock_.now_ + intervalMs;
        order_ = clock_.order_++;
    }
    void Disarm() override { due_.reset(); }

    SimClock& clock_;
    Timer& timer_;
    std::optional<int64_t> due_;
    uint64_t order_ = 0;
};

SimClock::SimClock() = default;
SimClock::~SimClock() = default;

void SimClock::Bind(Timer& timer) {
    backends_.push_back(std::make_unique<Backend>(*this, timer));
    timer.Bind(backends_.back().get());
}

void SimClock::BindAll(frmMain& f) {
    for (Timer* t : {&f.tmrRx, &f.tmrActivePort, &f.tmrPTT, &f.tmrPicture, &f.tmrPttHold, &f.tmrReopen, &f.tmrRxGap,
                      &f.tmrRxBlock})
        Bind(*t);
}

void SimClock::Advance(int64_t ms) {
    const int64_t target = now_ + ms;
    for (;;) {
        Backend* next = nullptr;
        for (auto& b : backends_) {
            if (!b->due_ || *b->due_ > target) continue;
            if (!next || *b->due_ < *next->due_ || (*b->due_ == *next->due_ && b->order_ < next->order_))
                next = b.get();
        }
        if (!next) break;
        now_ = *next->due_;
        next->Arm(next->timer_.Interval());  // the next period starts at this tick
        next->timer_.Fire();
    }
    now_ = target;
}

void SimComm::SetCommPort(int16_t port) {
    if (open_) throw PlatformError("Port already open");
    if (port < 1) throw PlatformError(kInvalidPropertyValue);
    port_ = port;
}

void SimComm::SetSettings(const std::string& settings) {
    if (!ParseLineSettings(settings)) throw PlatformError(kInvalidPropertyValue);
    settings_ = settings;
}

void SimComm::SetPortOpen(bool open) {
    if (open && open_) throw PlatformError("Port already open");
    if (open && !existing.count(port_)) throw PlatformError("Invalid port number");
    if (open) ++opens;
    else if (open_) rtsAtClose.push_back(rts_);
    open_ = open;
    rx_.clear();
}

Bytes& SimComm::Open() {
    if (!open_) throw PlatformError("The device is not open");
    return rx_;
}

void SimComm::Unplug(const std::string& why) {
    existing.erase(port_);
    if (!open_) return;
    open_ = false;
    rx_.clear();
    if (Lost) Lost(why);
}

void SimComm::RadioSends(const Bytes& data, bool event) {
    if (!open_) return;  // a closed port hears nothing
    rx_ += data;
    if (event && OnComm) OnComm(comEvReceive);
}

void SimComm::LineDrains() {
    backlog = 0;
    if (open_ && OnComm) OnComm(comEvSend);
}

Bytes SimComm::Written() const {
    Bytes all;
    for (const auto& w : writes) all += w;
    return all;
}

void SimSocket::SetLocalPort(int32_t port) {
    if (state != sckClosed) throw PlatformError("Invalid operation at current state");
    if (port < 0 || port > 65535) throw PlatformError(kInvalidPropertyValue);
    localPort = port;
}

void SimSocket::Listen() {
    if (state != sckClosed) throw PlatformError("Invalid operation at current state");
    if (owner_.busyPorts.count(localPort)) throw PlatformError("Address in use");
    state = sckListening;
    handle = owner_.nextHandle_++;
}

void SimSocket::Accept(int32_t requestID) {
    auto found = owner_.pending_.find(requestID);
    if (found == owner_.pending_.end() || state != sckClosed) throw PlatformError("Invalid operation at current state");
    remoteIP = found->second;
    owner_.pending_.erase(found);
    state = sckConnected;
    handle = owner_.nextHandle_++;
}

void SimSocket::Close() {
    state = sckClosed;
    handle = -1;
    peerGone = false;
    rx.clear();
}

Bytes SimSocket::GetData() {
    if (failRead) throw PlatformError("Read failed");
    return std::exchange(rx, {});
}

void SimSocket::SendData(const Bytes& data) {
    if (state != sckConnected) throw PlatformError("Wrong protocol or connection state");
    sent += data;
    sentBlocks.push_back(data);
}

void SimSockets::Load(int16_t index) {
    if (index < 1 || elements_.count(index)) throw PlatformError("Object already loaded");
    elements_[index] = std::make_unique<SimSocket>(*this);
}

void SimSockets::Unload(int16_t index) {
    if (index < 1 || !elements_.erase(index)) throw PlatformError("Control array element doesn't exist");
}

std::string SimSockets::RequestRemoteIP(int32_t requestID) const {
    auto found = pending_.find(requestID);
    if (found == pending_.end()) throw PlatformError("Invalid argument");
    return found->second;
}

SimSocket& SimSockets::Element(int16_t index) {
    auto found = elements_.find(index);
    if (found == elements_.end()) throw PlatformError("Control array element doesn't exist");
    return *found->second;
}

bool SimSockets::RequestConnection(const std::string& remoteIP) {
    if (Element(0).state != sckListening) return false;  // nobody listens: refused by the system
    const int32_t id = nextRequest_++;
    pending_[id] = remoteIP;
    ConnectionRequest(0, id);
    return pending_.erase(id) == 0;  // one left unaccepted is closed
}

void SimSockets::ClientSends(int16_t index, const Bytes& data) {
    Element(index).rx += data;
    DataArrival(index, static_cast<int32_t>(data.size()));
}

void SimSockets::PeerCloses(int16_t index) {
    Element(index).state = sckClosing;
    CloseEvent(index);
}

MsgResult SimDialogs::MsgBox(const std::string& text, MsgButtons buttons, MsgIcon, const std::string& title) {
    shown.push_back({text, title});
    if (auto run = std::exchange(whileOpen, nullptr)) run();
    if (buttons == MsgButtons::OK) return MsgResult::OK;
    if (answers.empty()) {
        ADD_FAILURE() << "Unexpected question: " << title << ": " << text;
        return MsgResult::No;
    }
    const MsgResult r = answers.front();
    answers.pop_front();
    return r;
}

const Bytes& SimHost::File(const std::string& path) const {
    auto found = files.find(path);
    if (found == files.end()) throw PlatformError("File not found");
    return found->second;
}

Bytes SimHost::ReadRecord(const std::string& path, std::size_t length) {
    if (failRead) throw PlatformError("Permission denied");
    if (File(path).size() < length) throw PlatformError("Input past end of file");
    return File(path).substr(0, length);
}

void SimHost::WriteRecord(const std::string& path, const Bytes& record) {
    if (failWrite) throw PlatformError("Disk full");
    files[path] = record;
    ++writes;
}

bool SimLog::Has(std::initializer_list<std::string> parts) const {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return std::all_of(parts.begin(), parts.end(), [&](const std::string& p) { return line.find(p) != line.npos; });
    });
}

SimApp::SimApp() {
    clock.BindAll(f);
    WireEvents(f);
}

void SimApp::Load() { Form_Load(f); }

}  // namespace ovrin::sim
