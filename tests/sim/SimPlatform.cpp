#include "sim/SimPlatform.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "app/Lifecycle.h"
#include "platform/LineSettings.h"

namespace ovrin::sim {

// ---- clock ----

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

// ---- serial ----

SimComm::SimComm() = default;

void SimComm::SetCommPort(int16_t port) {
    if (open_) throw PlatformError("Port already open");
    if (port < 1) throw PlatformError(kInvalidPropertyValue);
    port_ = port;
}

void SimComm::SetSettings(const std::string& settings) {
    if (!ParseLineSettings(settings)) throw PlatformError(kInvalidPropertyValue);
    settings_ = settings;
}

void SimComm::SetDTREnable(bool on) {
    if (failLines) throw PlatformError("Line cannot be set");
    dtr_ = on;
}

void SimComm::SetRTSEnable(bool on) {
    if (failLines) throw PlatformError("Line cannot be set");
    rts_ = on;
    if (open_) rtsHistory.push_back(on);
}

void SimComm::SetPortOpen(bool open) {
    if (open && open_) throw PlatformError("Port already open");
    if (open && !existing.count(port_)) throw PlatformError("Invalid port number");
    if (open) {
        ++opens;
    } else if (open_) {
        rtsAtClose.push_back(rts_);
        rx_.clear();
    }
    open_ = open;
}

int32_t SimComm::InBufferCount() {
    if (!open_) throw PlatformError("The device is not open");
    return static_cast<int32_t>(rx_.size());
}

Bytes SimComm::Input() {
    if (!open_) throw PlatformError("The device is not open");
    return std::exchange(rx_, {});
}

void SimComm::Output(const Bytes& data) {
    if (!open_) throw PlatformError("The device is not open");
    writes.push_back(data);
}

int32_t SimComm::OutBufferCount() { return open_ ? backlog : 0; }

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
    if (event && open_ && OnComm) OnComm(comEvReceive);
}

void SimComm::LineDrains() {
    backlog = 0;
    if (open_ && OnComm) OnComm(comEvSend);
}

std::string SimComm::DeviceName(int16_t port) const { return "/dev/sim" + std::to_string(port); }

Bytes SimComm::Written() const {
    Bytes all;
    for (const auto& w : writes) all += w;
    return all;
}

// ---- sockets ----

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
    ++owner_.listens;
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

SimSockets::SimSockets() { elements_[0] = std::make_unique<SimSocket>(*this); }

void SimSockets::Load(int16_t index) {
    if (index < 1 || elements_.count(index)) throw PlatformError("Object already loaded");
    elements_[index] = std::make_unique<SimSocket>(*this);
}

void SimSockets::Unload(int16_t index) {
    if (index < 1 || !elements_.count(index)) throw PlatformError("Control array element doesn't exist");
    elements_.erase(index);
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
    if (ConnectionRequest) ConnectionRequest(0, id);
    if (pending_.erase(id)) {
        refused.push_back(id);
        return false;
    }
    return true;
}

void SimSockets::ClientSends(int16_t index, const Bytes& data) {
    SimSocket& s = Element(index);
    s.rx += data;
    if (DataArrival) DataArrival(index, static_cast<int32_t>(data.size()));
}

void SimSockets::PeerCloses(int16_t index) {
    Element(index).state = sckClosing;
    if (CloseEvent) CloseEvent(index);
}

void SimSockets::RaiseError(int16_t index) {
    if (Error) Error(index, 10053, "Connection is aborted");
}

// ---- dialogs ----

MsgResult SimDialogs::MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) {
    shown.push_back({text, title, icon, buttons});
    if (whileOpen) {
        auto run = std::exchange(whileOpen, nullptr);
        run();
    }
    if (buttons == MsgButtons::OK) return MsgResult::OK;
    if (answers.empty()) {
        ADD_FAILURE() << "Unexpected question: " << title << ": " << text;
        return MsgResult::No;
    }
    const MsgResult r = answers.front();
    answers.pop_front();
    return r;
}

// ---- host ----

int64_t SimHost::FileLen(const std::string& path) const {
    auto found = files.find(path);
    if (found == files.end()) throw PlatformError("File not found");
    return static_cast<int64_t>(found->second.size());
}

void SimHost::Kill(const std::string& path) {
    if (!files.erase(path)) throw PlatformError("File not found");
}

Bytes SimHost::ReadRecord(const std::string& path, std::size_t length) {
    if (failRead) throw PlatformError("Permission denied");
    auto found = files.find(path);
    if (found == files.end()) throw PlatformError("File not found");
    if (found->second.size() < length) throw PlatformError("Input past end of file");
    return found->second.substr(0, length);
}

void SimHost::WriteRecord(const std::string& path, const Bytes& record) {
    if (failWrite) throw PlatformError("Disk full");
    files[path] = record;
    ++writes;
}

// ---- log ----

bool SimLog::Has(std::initializer_list<std::string> parts) const {
    return std::any_of(lines.begin(), lines.end(), [&](const Entry& e) {
        return std::all_of(parts.begin(), parts.end(),
                           [&](const std::string& p) { return e.text.find(p) != std::string::npos; });
    });
}

// ---- app ----

SimApp::SimApp() {
    clock.BindAll(f);
    WireEvents(f);
}

void SimApp::Load() { Form_Load(f); }

}  // namespace ovrin::sim
