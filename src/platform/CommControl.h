#pragma once
// The serial facility `comPort`. Every operation that fails throws PlatformError.
//  - CommPort can be set only while the port is closed.
//  - Settings is checked when set ("9600,n,8,2": baud, parity n/e/o/m/s, data bits
//    4..8, stop bits 1, 1.5 or 2); a text it cannot honour is refused. Applied at
//    open and, while open, at once.
//  - DTREnable/RTSEnable are kept while closed and applied at open; set while open
//    they change the line at once. A device without modem-control lines keeps and
//    reports the requested state; any other failure throws and the state stays as
//    the line is.
//  - PortOpen(true) on an open port fails ("Port already open"). PortOpen(false)
//    first lets what was written go to the line (bounded), then drops RTS, then
//    closes: a last command written before it is not cut off.
//  - Input returns and removes every waiting byte; Output writes all bytes.
//  - No flow control; every byte value passes unchanged.
//  - OnComm is raised from the event loop, one event at a time, never inside a call
//    the system's code made into the facility. Events of one kind are coalesced:
//    one comEvReceive may stand for several reads, so the handler reads what waits.
#include <cstdint>
#include <functional>
#include <string>

#include "base/Errors.h"

namespace ovrin {

// The facility's events, numbered as the serial control the handlers were written for.
enum CommEvent : int16_t {
    comEvSend = 1,     // queued output went to the line; the backlog is smaller
    comEvReceive = 2,  // bytes arrived from the line
};

// Input lines of the port, as bits (the values a remote serial port reports).
enum ModemLine : uint8_t { kLineCTS = 0x10, kLineDSR = 0x20, kLineRI = 0x40, kLineCD = 0x80 };

class CommControl {
public:
    virtual ~CommControl() = default;

    virtual int16_t CommPort() const = 0;
    virtual void SetCommPort(int16_t port) = 0;
    virtual const std::string& Settings() const = 0;
    virtual void SetSettings(const std::string& settings) = 0;
    virtual bool DTREnable() const = 0;
    virtual void SetDTREnable(bool on) = 0;
    virtual bool RTSEnable() const = 0;
    virtual void SetRTSEnable(bool on) = 0;
    virtual bool PortOpen() const = 0;
    virtual void SetPortOpen(bool open) = 0;
    virtual int32_t InBufferCount() = 0;
    virtual Bytes Input() = 0;
    virtual void Output(const Bytes& data) = 0;
    // Bytes written but not yet sent on the line (0 when closed).
    virtual int32_t OutBufferCount() = 0;
    // Waits, at most this long, until what was written has gone to the line: a
    // last command before the port closes.
    virtual void Drain(int /*timeoutMs*/) {}

    // How long the open device may hold bytes that came on the line before it hands
    // them on (a USB adapter's latency timer, a UART's receive FIFO threshold);
    // 0 when every byte is passed on as it comes.
    virtual int32_t DeliveryLatencyMs() const { return 0; }

    // The modem lines the device reports now, as ModemLine bits; 0 when closed or
    // when the device has no such lines.
    virtual uint8_t ModemLines() { return 0; }

    // The device behind a port number, for the port list's tool tips ("" if none).
    virtual std::string DeviceName(int16_t port) const = 0;
    // The port's device exists and this user may open it for reading and writing.
    // Told without opening it, so no modem line moves.
    virtual bool PortAvailable(int16_t port) const = 0;
    // Why the port cannot be opened, told the same way ("No such file or
    // directory"); "" when it can.
    virtual std::string PortProblem(int16_t port) const { return PortAvailable(port) ? "" : "not available"; }

    // The open device stopped answering (unplugged, switched off) and has been
    // closed; delivered from the event loop with the system's reason.
    std::function<void(const std::string& why)> Lost;

    std::function<void(CommEvent Event)> OnComm;
};

}  // namespace ovrin
