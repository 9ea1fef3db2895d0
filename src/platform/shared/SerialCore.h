#pragma once
// What the Qt, Win32 and simulated serial ports keep alike, so that the rules exist
// once: the port number, line settings and modem-line requests with the checks and
// the errors the handlers were written against; what may be done open or closed;
// the events, one waiting of each kind, raised from the event loop and never for
// a port closed or reopened since; a device found gone, closed and told once; and
// the close, which always lets what was written go to the line first (bounded in
// time), then drops RTS. A realisation adds only the device's own operations.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "line/LineSettings.h"
#include "platform/CommControl.h"

namespace ovrin {

class SerialCore : public CommControl {
public:
    // The longest a close waits for what was written to leave: a CAT key's
    // release written just before is on the line well within it.
    static constexpr int kCloseDrainMs = 500;

    int16_t CommPort() const override { return port_; }
    void SetCommPort(int16_t port) override;
    const std::string& Settings() const override { return settingsText_; }
    void SetSettings(const std::string& settings) override;
    bool DTREnable() const override { return dtr_; }
    void SetDTREnable(bool on) override;
    bool RTSEnable() const override { return rts_; }
    void SetRTSEnable(bool on) override;
    bool PortOpen() const override;
    void SetPortOpen(bool open) override;
    int32_t InBufferCount() override;
    Bytes Input() override;
    void Output(const Bytes& data) override;
    int32_t OutBufferCount() override;
    void Drain(int timeoutMs) override;
    int32_t DeliveryLatencyMs() const override { return PortOpen() ? latencyMs_ : 0; }
    uint8_t ModemLines() override;
    // Told by the realisation's PortProblem, so the two never disagree.
    bool PortAvailable(int16_t port) const final { return PortProblem(port).empty(); }
    std::string PortProblem(int16_t port) const override = 0;

protected:
    enum class Line { Dtr, Rts };

    SerialCore();
    // A realisation's destructor calls this: the device operations are its own.
    void CloseAtEnd() noexcept;

    const LineSettings& LineSetting() const { return settings_; }
    // The open's number, which events from other threads carry; any thread.
    uint64_t Generation() const { return generation_; }
    // The device was reported gone and is not closed yet.
    bool FoundGone() const { return open_ && lostFor_ == generation_; }

    // What the device reports, from any thread: bytes came or left
    // (comEvReceive/comEvSend), or it stopped answering. Each is raised from the
    // event loop if the port is still the open of `generation`; one waiting event
    // of a kind stands for all that came before it, and a loss is told once.
    void QueueEvent(CommEvent event, uint64_t generation);
    void ReportLost(uint64_t generation, std::string why);

    // The device's operations; each failure throws PlatformError with the system's
    // reason. OpenDevice opens port CommPort() with LineSetting(), DTREnable() and
    // RTSEnable(), leaving nothing open when it fails; CloseDevice never fails.
    virtual void OpenDevice() = 0;
    virtual void CloseDevice() noexcept = 0;
    virtual void ApplySettings(const LineSettings& s) = 0;
    // A device without such a line keeps quiet: the requested state is kept.
    virtual void SetDeviceLine(Line line, bool on) = 0;
    virtual int32_t Waiting() = 0;
    virtual Bytes Read() = 0;
    virtual void Write(const Bytes& data) = 0;
    virtual int32_t Unsent() = 0;
    // Returns once what was written has left, or after timeoutMs.
    virtual void WaitSent(int timeoutMs) = 0;
    // Nothing when the device has no modem lines (it is not asked again while open).
    virtual std::optional<uint8_t> DeviceModemLines() { return std::nullopt; }
    // Read at open and when the settings change.
    virtual int32_t DeviceLatencyMs() { return 0; }
    // Runs `work` from the event loop, later, in order; `mayRunNow`: the work may
    // run at once if nothing of the system's is running (an event reported by
    // the event loop itself), which saves the loop a pass.
    virtual void Post(std::function<void()> work, bool mayRunNow) = 0;

private:
    void Open();
    void Close();
    // The device found gone, closed without waiting for what waits to leave.
    void CloseGone() noexcept;
    void RequireOpen();
    // Runs a device operation; one that found the device gone closes it.
    template <typename Op>
    auto Guarded(Op op) -> decltype(op());
    void Raise(CommEvent event, uint64_t generation);

    int16_t port_ = 1;
    std::string settingsText_ = "9600,n,8,1";
    LineSettings settings_;
    bool dtr_ = false;
    bool rts_ = false;
    bool open_ = false;
    bool noModemLines_ = false;
    int32_t latencyMs_ = 0;
    // One per open and per close, so that what an earlier open queued is dropped.
    std::atomic<uint64_t> generation_{0};
    // The generation found gone, and the generation each kind of event waits for (0: none).
    std::atomic<uint64_t> lostFor_{0};
    std::atomic<uint64_t> receiveFor_{0}, sendFor_{0};
};

// What a device holds back before the system sees a byte: a USB adapter hands
// bytes on once a 1 ms frame, or when its latency timer runs out; a UART raises
// its receive interrupt at its FIFO threshold, or 4 character times after the last
// byte, so a stream comes in pieces up to threshold + 3 characters apart.
int32_t UsbLatencyMs(int latencyTimerMs);
int32_t FifoLatencyMs(int thresholdBytes, const LineSettings& line);

// The device operations as a realisation of the system's serial port declares
// them (the simulated one defines a few of its own): the list is kept here, once.
#define OVRIN_SERIAL_DEVICE_OPERATIONS                                     \
    void OpenDevice() override;                                            \
    void CloseDevice() noexcept override;                                  \
    void ApplySettings(const LineSettings& s) override;                    \
    void SetDeviceLine(Line line, bool on) override;                       \
    int32_t Waiting() override;                                            \
    Bytes Read() override;                                                 \
    void Write(const Bytes& data) override;                                \
    int32_t Unsent() override;                                             \
    void WaitSent(int timeoutMs) override;                                 \
    std::optional<uint8_t> DeviceModemLines() override;                    \
    int32_t DeviceLatencyMs() override;                                    \
    void Post(std::function<void()> work, bool mayRunNow) override;

}  // namespace ovrin
