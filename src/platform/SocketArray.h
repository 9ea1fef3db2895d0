#pragma once
// The socket facility `tcpServer`: a control array of TCP sockets. Element 0 exists
// from the start and listens; elements 1..5 (the client slots) and 6 (the remote
// serial port's listener, kComPortListener) are created by Load and destroyed by
// Unload. Reaching an element that does not exist, and every operation that fails,
// throws PlatformError.
//
// Events are delivered from the event loop, one at a time, never inside a call the
// system's code made into the facility. A connection request that the handler has
// not accepted by the time it returns is closed at once by the facility. Only a few
// requests wait for their handler at a time (kMaxRequests); the rest wait in the
// system's queue, so a flood of connections holds no more descriptors than that.
#include <cstdint>
#include <functional>
#include <string>

#include "base/Errors.h"

namespace ovrin {

// Socket states as the handlers read them.
enum SocketState : int16_t {
    sckClosed = 0,
    sckOpen = 1,
    sckListening = 2,
    sckConnectionPending = 3,
    sckResolvingHost = 4,
    sckHostResolved = 5,
    sckConnecting = 6,
    sckConnected = 7,
    sckClosing = 8,
    sckError = 9,
};

class SocketElement {
public:
    virtual ~SocketElement() = default;
    virtual int16_t State() const = 0;
    virtual int32_t SocketHandle() const = 0;  // negative without a socket
    virtual std::string RemoteHostIP() const = 0;  // dotted IPv4
    virtual int32_t LocalPort() const = 0;
    virtual void SetLocalPort(int32_t port) = 0;  // 0..65535, only while closed
    virtual void Listen() = 0;
    virtual void Accept(int32_t requestID) = 0;
    virtual void Close() = 0;  // raises no event
    virtual int32_t BytesReceived() const = 0;
    virtual Bytes GetData() = 0;  // every waiting byte
    virtual void SendData(const Bytes& data) = 0;
    // What the program still holds to send to the peer, once the system's own
    // buffer for the connection is full: it grows while the peer reads nothing.
    virtual int32_t BytesToSend() const = 0;
    // The peer has closed or the connection has failed, whether or not that event
    // has been delivered yet. Takes in what waits, without blocking.
    virtual bool PeerGone() = 0;
    virtual std::string LocalHostName() const = 0;
    virtual std::string LocalIP() const = 0;
    // While a client keeps the transmitter keyed, a peer that vanished must be
    // found within seconds, not minutes.
    virtual void SetFastDeadPeerCheck(bool /*on*/) {}
};

class SocketArray {
public:
    virtual ~SocketArray() = default;

    virtual int16_t Count() const = 0;  // elements that exist, element 0 included
    virtual void Load(int16_t index) = 0;    // fails if it exists
    virtual void Unload(int16_t index) = 0;  // fails if missing, or for element 0
    virtual SocketElement& operator()(int16_t index) = 0;  // fails if missing
    virtual bool Exists(int16_t index) const = 0;
    // The address of the client behind a connection request not yet answered.
    virtual std::string RequestRemoteIP(int32_t requestID) const = 0;

    std::function<void(int16_t Index, int32_t requestID)> ConnectionRequest;
    std::function<void(int16_t Index, int32_t bytesTotal)> DataArrival;
    std::function<void(int16_t Index)> CloseEvent;
    std::function<void(int16_t Index, int16_t Number, const std::string& Description)> Error;
    // The listener at Index could not take a connection (the system's descriptors
    // or memory used up). It is no element's failure: the listener goes on
    // listening, refuses what it cannot take, and tries again by itself.
    std::function<void(int16_t Index, const std::string& Description)> AcceptFailed;
};

}  // namespace ovrin
