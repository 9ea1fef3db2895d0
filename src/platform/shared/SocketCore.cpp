#include "platform/shared/SocketCore.h"

namespace ovrin {
namespace {

constexpr const char* kWrongState = "Wrong protocol or connection state for the requested transaction or request";
constexpr const char* kInvalidOperation = "Invalid operation at current state";

}  // namespace

SocketElementCore::SocketElementCore(SocketArrayBase& array, int16_t index)
    : array_(array), index_(index), generation_(array.NextGeneration()) {}

void SocketElementCore::SetLocalPort(int32_t port) {
    if (port < 0 || port > 65535) throw PlatformError(kInvalidPropertyValue);
    RequireClosed();
    localPort_ = port;
}

bool SocketElementCore::PeerGone() {
    if (!connection_ || closeQueued_ || state_ != sckConnected) return true;
    return PeerGoneNow();
}

void SocketElementCore::RequireClosed() const {
    if (state_ != sckClosed) throw PlatformError(kInvalidOperation);
}

void SocketElementCore::RequireConnection() const {
    if (!connection_) throw PlatformError(kWrongState);
}

void SocketElementCore::RequireConnected() const {
    if (state_ != sckConnected) throw PlatformError(kWrongState);
}

void SocketElementCore::Listening(int32_t handle, int32_t localPort) {
    generation_ = array_.NextGeneration();
    state_ = sckListening;
    handle_ = handle;
    localPort_ = localPort;
}

void SocketElementCore::Connected(int32_t handle, int32_t localPort, std::string remoteIP) {
    generation_ = array_.NextGeneration();
    state_ = sckConnected;
    handle_ = handle;
    localPort_ = localPort;
    remoteIP_ = std::move(remoteIP);
    connection_ = true;
}

void SocketElementCore::Closed() {
    generation_ = array_.NextGeneration();
    state_ = sckClosed;
    handle_ = -1;
    connection_ = arrivalQueued_ = closeQueued_ = false;
}

void SocketElementCore::QueueArrival() {
    if (arrivalQueued_) return;
    arrivalQueued_ = true;
    array_.PostEvent(index_, generation_, [](SocketElementCore& e) {
        e.arrivalQueued_ = false;
        e.RaiseArrival();
    });
}

void SocketElementCore::RaiseArrival() {
    const int32_t waiting = BytesReceived();
    SocketArray& array = array_;
    if (waiting > 0 && array.DataArrival) array.DataArrival(index_, waiting);
}

void SocketElementCore::PeerClosed() {
    if (closeQueued_) return;
    closeQueued_ = true;
    if (state_ == sckConnected) state_ = sckClosing;
    array_.PostEvent(index_, generation_, [](SocketElementCore& e) {
        if (e.array_.CloseEvent) e.array_.CloseEvent(e.index_);
    });
}

void SocketElementCore::ReportError(int16_t number, std::string description) {
    state_ = sckError;
    array_.PostEvent(index_, generation_, [number, text = std::move(description)](SocketElementCore& e) {
        if (e.array_.Error) e.array_.Error(e.index_, number, text);
    });
}

void SocketElementCore::ReportAcceptFailure(std::string description) {
    array_.PostEvent(index_, generation_, [text = std::move(description)](SocketElementCore& e) {
        if (e.array_.AcceptFailed) e.array_.AcceptFailed(e.index_, text);
    });
}

void SocketElementCore::ListenFailed(const std::string& address, const std::string& why, bool inUse) {
    const std::string text = (address.empty() ? std::string() : address + ": ") + why;
    if (inUse) throw PortInUseError(text);
    throw PlatformError(text);
}

void SocketArrayBase::PostEvent(int16_t index, uint64_t generation, std::function<void(SocketElementCore&)> deliver) {
    Post([this, index, generation, deliver = std::move(deliver)] {
        SocketElementCore* element = elements_.Find(index);
        if (element && element->Generation() == generation) deliver(*element);
    });
}

}  // namespace ovrin
