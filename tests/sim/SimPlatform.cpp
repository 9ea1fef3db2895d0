#include "sim/SimPlatform.h"

#include <optional>

#include <gtest/gtest.h>

#include "app/Lifecycle.h"

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
    for (Timer* t : f.Timers()) Bind(*t);
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

MsgResult SimDialogs::MsgBox(const std::string& text, MsgButtons buttons, MsgIcon, const std::string& title) {
    shown.push_back({text, title, buttons});
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

SimApp::SimApp() {
    host.clock = &clock;
    com.clock = &clock;
    clock.BindAll(f);
    WireEvents(f);
}

void SimApp::Load() { Form_Load(f); }

void SimApp::Serve(int clients) {
    Load();
    if (clients > 1) f.chkBridge.SetValue(1);
    for (int i = 0; i < clients; ++i) EXPECT_TRUE(sockets.RequestConnection());
}

void SimApp::Run(const std::vector<Step>& steps) {
    int at = 0;
    for (const Step& s : steps) {
        ++at;
        switch (s.kind) {
            case Step::Client: Send(s.who, s.bytes); break;
            case Step::Radio: com.RadioSends(s.bytes); break;
            case Step::Wait: clock.Advance(s.ms); break;
            case Step::Written: EXPECT_EQ(com.Written(), s.bytes) << "step " << at; break;
            case Step::Got: EXPECT_EQ(sockets.Element(s.who).sent, s.bytes) << "client " << s.who << ", step " << at; break;
            case Step::Leaves: sockets.PeerCloses(s.who); break;
        }
    }
}

}  // namespace ovrin::sim
