#pragma once
// The serial facility on a Win32 COM port. Two threads per open port do the
// waiting: the reader waits for arrivals (WaitCommEvent) and reads what is there,
// the writer sends what Output queued. Both only hand data over and post events to
// the message loop, where the system's handlers run.
// Modem lines: RTS and DTR go with the line settings at open and by
// EscapeCommFunction later. A device without them (Wine on a pseudo-terminal, some
// virtual ports) refuses; that is logged once and the requested state is kept.
// Any other failure throws, the state left as it was.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/CommControl.h"
#include "platform/Log.h"
#include "line/LineSettings.h"
#include "platform/win32/MessageLoop.h"

namespace ovrin::win32 {

class Win32CommControl final : public CommControl {
public:
    Win32CommControl(MessageLoop& loop, Log& log);
    ~Win32CommControl() override;

    int16_t CommPort() const override { return port_; }
    void SetCommPort(int16_t port) override;
    const std::string& Settings() const override { return settingsText_; }
    void SetSettings(const std::string& settings) override;
    bool DTREnable() const override { return dtr_; }
    void SetDTREnable(bool on) override;
    bool RTSEnable() const override { return rts_; }
    void SetRTSEnable(bool on) override;
    bool PortOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }
    void SetPortOpen(bool open) override;
    int32_t InBufferCount() override;
    Bytes Input() override;
    void Output(const Bytes& data) override;
    int32_t OutBufferCount() override;
    std::string DeviceName(int16_t port) const override;
    bool PortAvailable(int16_t port) const override;
    std::string PortProblem(int16_t port) const override;

private:
    void Open();
    void Close();
    void RequireOpen() const;
    bool ApplyLine(const LineSettings& s);
    void SetModemLine(bool on, DWORD set, DWORD clear, const char* name);
    void ReadLoop(uint64_t generation);
    void WriteLoop(uint64_t generation);
    // From either thread: the device stopped answering; closed from the loop.
    void ReportLost(uint64_t generation, const std::string& why);
    void QueueEvent(CommEvent event, uint64_t generation);

    MessageLoop& loop_;
    Log& log_;
    int16_t port_ = 1;
    std::string settingsText_ = "9600,n,8,1";
    LineSettings settings_;
    bool dtr_ = false;
    bool rts_ = false;
    bool linesRefusedTold_ = false;

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE stop_ = nullptr;       // set to end both threads
    HANDLE outReady_ = nullptr;   // output waits for the writer
    std::thread reader_, writer_;
    uint64_t generation_ = 0;     // one per open: late events of an earlier open are dropped

    std::mutex mutex_;  // guards what follows, shared with the threads
    Bytes received_;
    Bytes outgoing_;
    std::size_t inFlight_ = 0;
    std::atomic<bool> receiveQueued_{false}, sendQueued_{false}, lostQueued_{false};
};

}  // namespace ovrin::win32
