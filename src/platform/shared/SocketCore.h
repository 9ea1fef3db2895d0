#pragma once
// What the Qt and Win32 socket arrays keep alike, so that the rules exist once: an
// element's state and what may be done in which state (with the errors the
// handlers were written against); the generation that drops an event queued for
// an element closed, unloaded or reused since; one waiting arrival and one close
// event at a time; and the connection requests not yet answered. A realisation
// adds only the system's calls.
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/ElementTable.h"
#include "platform/SocketArray.h"

namespace ovrin {

class SocketArrayBase;

class SocketElementCore : public SocketElement {
public:
    SocketElementCore(SocketArrayBase& array, int16_t index);

    uint64_t Generation() const { return generation_; }

    int16_t State() const override { return state_; }
    int32_t SocketHandle() const override { return handle_; }
    // The last client's address; kept after a close until the next connection.
    std::string RemoteHostIP() const override { return remoteIP_; }
    int32_t LocalPort() const override { return localPort_; }
    void SetLocalPort(int32_t port) override;
    // Told from the state where it can be; the system is asked only about a
    // connection whose end is not known yet.
    bool PeerGone() override;

protected:
    int16_t Index() const { return index_; }
    bool HoldsConnection() const { return connection_; }
    bool ArrivalQueued() const { return arrivalQueued_; }

    // Listen and Accept take a closed element; reading, one that holds a
    // connection (also closing or failed); sending, a connected one.
    void RequireClosed() const;
    void RequireConnection() const;
    void RequireConnected() const;

    // The state once the system's call succeeded. Each begins a new generation:
    // what was queued before is dropped.
    void Listening(int32_t handle, int32_t localPort);
    void Connected(int32_t handle, int32_t localPort, std::string remoteIP);
    void Closed();

    // The system's news, delivered as events from the event loop. One waiting
    // arrival stands for all that came; the peer's close is told once and the
    // state is closing from then on; an error leaves the element failed.
    void QueueArrival();
    void PeerClosed();
    void ReportError(int16_t number, std::string description);
    // A listener's accept failed; its state stays as it is.
    void ReportAcceptFailure(std::string description);
    // The arrival event at once, for a realisation called from the event loop
    // itself. Nothing of the element is used after the handler, which may have
    // closed or unloaded it.
    void RaiseArrival();

    // Whether the system already knows that the peer of a connection has gone.
    virtual bool PeerGoneNow() = 0;

    // "address: reason" (the address only when one was chosen); PortInUseError
    // when another program holds the port.
    [[noreturn]] static void ListenFailed(const std::string& address, const std::string& why, bool inUse);

private:
    SocketArrayBase& array_;
    const int16_t index_;
    uint64_t generation_;
    int16_t state_ = sckClosed;
    int32_t handle_ = -1;
    int32_t localPort_ = 0;
    std::string remoteIP_;
    bool connection_ = false;
    bool arrivalQueued_ = false;
    bool closeQueued_ = false;
};

class SocketArrayBase : public SocketArray {
public:
    int16_t Count() const override { return elements_.Count(); }
    void Load(int16_t index) override {
        elements_.Load(index, [&] { return MakeElement(index); });
    }
    void Unload(int16_t index) override { elements_.Unload(index); }
    SocketElementCore& operator()(int16_t index) override { return elements_.At(index); }
    bool Exists(int16_t index) const override { return elements_.Find(index) != nullptr; }

    uint64_t NextGeneration() { return ++generations_; }
    // Runs `deliver` from the event loop if the element at `index` is then still
    // the one of `generation`.
    void PostEvent(int16_t index, uint64_t generation, std::function<void(SocketElementCore&)> deliver);

protected:
    // The realisation's element, and its event loop: the loop runs the work later,
    // in order, reporting a failure that escapes it.
    virtual std::unique_ptr<SocketElementCore> MakeElement(int16_t index) = 0;
    virtual void Post(std::function<void()> work) = 0;

    static constexpr const char* kNoSuchRequest = "Invalid argument";
    // Cleared first when the realisation ends: its elements use it.
    ElementTable<SocketElementCore> elements_;

private:
    uint64_t generations_ = 0;
};

// The array with the connection requests its listeners took, each kept as the
// realisation's `Request` (its pending connection) until accepted or ended.
template <typename Request>
class SocketArrayCore : public SocketArrayBase {
public:
    // Requests taken from the system and not yet answered, at most.
    static constexpr std::size_t kMaxRequests = 8;

    std::string RequestRemoteIP(int32_t requestID) const override {
        const auto found = requests_.find(requestID);
        if (found == requests_.end()) throw PlatformError(kNoSuchRequest);
        return AddressOf(found->second);
    }

protected:
    // A request taken by the listener at `index`. Its handler hears of it from the
    // event loop while that listener is unchanged; a request the handler leaves
    // unaccepted, also by failing, is ended then, so the client is not left hanging.
    void AddRequest(int16_t index, uint64_t generation, Request request) {
        const int32_t id = nextRequestID_;
        nextRequestID_ = id == std::numeric_limits<int32_t>::max() ? 1 : id + 1;
        requests_.emplace(id, std::move(request));
        Post([this, index, generation, id] {
            const SocketElementCore* listener = elements_.Find(index);
            try {
                if (listener && listener->Generation() == generation && ConnectionRequest) ConnectionRequest(index, id);
            } catch (...) {
                EndUnanswered(id);
                RequestsFreed();
                throw;
            }
            EndUnanswered(id);
            RequestsFreed();
        });
    }

    bool RequestsFull() const { return requests_.size() >= kMaxRequests; }
    // A request has been answered: the listeners may take more from the system.
    virtual void RequestsFreed() {}

    Request TakeRequest(int32_t requestID) {
        const auto found = requests_.find(requestID);
        if (found == requests_.end()) throw PlatformError(kNoSuchRequest);
        Request request = std::move(found->second);
        requests_.erase(found);
        return request;
    }

    // Every request still waiting, at the array's end.
    template <typename End>
    void EndRequests(End end) {
        for (auto& [id, request] : requests_) end(request);
        requests_.clear();
    }

    virtual std::string AddressOf(const Request& request) const = 0;
    // Ends a request nobody accepted.
    virtual void Dismiss(Request request) = 0;

private:
    void EndUnanswered(int32_t id) {
        if (requests_.count(id) != 0) Dismiss(TakeRequest(id));
    }

    std::map<int32_t, Request> requests_;
    int32_t nextRequestID_ = 1;
};

}  // namespace ovrin
