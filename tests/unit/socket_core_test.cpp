// The socket elements' rules that the Qt and Win32 arrays share, on a stand-in
// for the system whose event loop the test runs by hand: what the handlers rely
// on whichever program they run in.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/shared/SocketCore.h"

namespace ovrin {
namespace {

class Array;

// Data that came wait in `waiting`; a request is the client's address.
class Element final : public SocketElementCore {
public:
    Element(Array& array, int16_t index);
    void Listen() override {
        RequireClosed();
        Listening(100 + Index(), LocalPort());
    }
    void Accept(int32_t requestID) override;
    void Close() override { Closed(); }
    int32_t BytesReceived() const override { return static_cast<int32_t>(waiting.size()); }
    Bytes GetData() override {
        RequireConnection();
        return std::exchange(waiting, {});
    }
    void SendData(const Bytes&) override { RequireConnected(); }
    int32_t BytesToSend() const override { return 0; }
    std::string LocalHostName() const override { return {}; }
    std::string LocalIP() const override { return {}; }
    // What the system reports.
    using SocketElementCore::PeerClosed;
    using SocketElementCore::QueueArrival;
    using SocketElementCore::ReportError;

    Bytes waiting;

private:
    bool PeerGoneNow() override { return false; }
    Array& owner_;
};

class Array final : public SocketArrayCore<std::string> {
public:
    Array() { Load(0); }
    Element& operator()(int16_t index) override { return static_cast<Element&>(SocketArrayCore::operator()(index)); }
    void Run() {  // the event loop, until nothing waits
        while (!loop_.empty()) {
            const std::function<void()> work = std::move(loop_.front());
            loop_.pop_front();
            try {
                work();
            } catch (const std::exception&) {
                ++failures;
            }
        }
    }
    void Request(const std::string& address) { AddRequest(0, (*this)(0).Generation(), address); }
    using SocketArrayCore::TakeRequest;

    std::vector<std::string> events, dismissed;
    int failures = 0;

private:
    std::unique_ptr<SocketElementCore> MakeElement(int16_t index) override {
        return std::make_unique<Element>(*this, index);
    }
    void Post(std::function<void()> work) override { loop_.push_back(std::move(work)); }
    std::string AddressOf(const std::string& request) const override { return request; }
    void Dismiss(std::string request) override { dismissed.push_back(request); }

    std::deque<std::function<void()>> loop_;
};

Element::Element(Array& array, int16_t index) : SocketElementCore(array, index), owner_(array) {}
void Element::Accept(int32_t requestID) {
    RequireClosed();
    Connected(200 + Index(), LocalPort(), owner_.TakeRequest(requestID));
}

class SocketCore : public ::testing::Test {
protected:
    void SetUp() override {
        a.ConnectionRequest = [this](int16_t, int32_t id) { a.events.push_back(a.RequestRemoteIP(id)); };
        a.DataArrival = [this](int16_t i, int32_t n) { a.events.push_back(std::to_string(i) + " data " + std::to_string(n)); };
        a.CloseEvent = [this](int16_t i) { a.events.push_back(std::to_string(i) + " close"); };
        a(0).Listen();
        a.Load(1);
    }
    // A client accepted into element `i`.
    void Connect(int16_t i, const std::string& address) {
        const auto recorded = std::exchange(a.ConnectionRequest, [this, i](int16_t, int32_t id) { a(i).Accept(id); });
        a.Request(address);
        a.Run();
        a.ConnectionRequest = recorded;
    }
    Array a;
};

// Events wait for the event loop; one arrival event stands for all that came, a
// close is told once; those of an element closed or reused meanwhile are dropped.
TEST_F(SocketCore, EventsComeFromTheLoopOnceAndNeverForAChangedElement) {
    Connect(1, "192.0.2.1");
    for (const char* data : {"FA;", "FB;"}) {
        a(1).waiting += data;
        a(1).QueueArrival();
        a(1).PeerClosed();
    }
    EXPECT_EQ(std::tuple(a.events.empty(), a(1).PeerGone(), a(1).State()), std::tuple(true, true, sckClosing));
    a.Run();
    EXPECT_EQ(a.events, (std::vector<std::string>{"1 data 6", "1 close"}));
    a.events.clear();
    for (const bool reuse : {false, true}) {
        a(1).waiting = "x";
        a(1).QueueArrival();
        a(1).ReportError(10053, "aborted");
        a(1).Close();
        if (reuse) Connect(1, "192.0.2.2");
        a.Run();
        EXPECT_TRUE(a.events.empty()) << reuse;
    }
    a(1).Close();
    EXPECT_EQ(a(1).RemoteHostIP(), "192.0.2.2");  // the last client's, as the log tells it
}

// A request the handler leaves unaccepted is ended, also when the handler fails or
// its listener was closed meanwhile; an accepted one is not.
TEST_F(SocketCore, EveryRequestIsAcceptedOrEnded) {
    a.Request("192.0.2.1");
    a.Request("192.0.2.2");
    a.Run();
    EXPECT_EQ(a.events, (std::vector<std::string>{"192.0.2.1", "192.0.2.2"}));
    a.ConnectionRequest = [](int16_t, int32_t) { throw PlatformError("the handler failed"); };
    a.Request("192.0.2.3");
    a.Run();
    EXPECT_EQ(a.failures, 1);
    a.Request("192.0.2.4");
    a(0).Close();
    a(0).Listen();
    a.Run();
    Connect(1, "192.0.2.5");
    EXPECT_EQ(a.dismissed, (std::vector<std::string>{"192.0.2.1", "192.0.2.2", "192.0.2.3", "192.0.2.4"}));
    EXPECT_EQ(a(1).State(), sckConnected);
    EXPECT_THROW(a.RequestRemoteIP(1), PlatformError);
    a.Load(2);
    EXPECT_THROW(a(2).Accept(99), PlatformError);
}

// What may be done in which state: each refusal is a PlatformError and changes nothing.
TEST_F(SocketCore, EachOperationOnlyInItsStates) {
    Connect(1, "192.0.2.1");
    a.Load(2);
    a.Load(3);
    Connect(3, "192.0.2.3");
    a(3).ReportError(10053, "aborted");
    const std::pair<int16_t, std::function<void(SocketElement&)>> refusals[] = {
        {0, [](SocketElement& s) { s.Listen(); }},             // listening already
        {1, [](SocketElement& s) { s.Accept(1); }},            // connected
        {2, [](SocketElement& s) { s.SetLocalPort(-1); }},
        {2, [](SocketElement& s) { s.SetLocalPort(65536); }},
        {0, [](SocketElement& s) { s.SetLocalPort(7300); }},   // while listening
        {0, [](SocketElement& s) { s.GetData(); }},            // a listener
        {2, [](SocketElement& s) { s.GetData(); }},            // closed
        {2, [](SocketElement& s) { s.SendData("x"); }},        // closed
        {3, [](SocketElement& s) { s.SendData("x"); }},        // a failed connection
    };
    for (const auto& [element, call] : refusals) {
        const int16_t state = a(element).State();
        EXPECT_THROW(call(a(element)), PlatformError) << "element " << element << " in state " << state;
        EXPECT_EQ(a(element).State(), state);
    }
    EXPECT_NO_THROW(a(3).GetData());  // what a failed connection received is still there
    a(2).SetLocalPort(65535);
    EXPECT_EQ(a(2).LocalPort(), 65535);
}

}  // namespace
}  // namespace ovrin
