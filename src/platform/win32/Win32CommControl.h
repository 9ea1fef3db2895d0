#pragma once
// The serial facility on a Win32 COM port. Two threads per open port do the
// waiting: the reader waits for arrivals (WaitCommEvent) and reads what is there,
// the writer sends what Output queued. Both only hand data over and post events to
// the message loop, where the system's handlers run. A drain waits for the
// writer's queue to empty and then for the driver's (ClearCommError), bounded.
// Modem lines: RTS and DTR go with the line settings at open and by
// EscapeCommFunction later. A device without them (Wine on a pseudo-terminal, some
// virtual ports) refuses; that is logged once and the requested state is kept.
// Any other failure throws, the state left as it was.
#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "line/LineSettings.h"
#include "platform/Log.h"
#include "platform/shared/SerialCore.h"
#include "platform/win32/MessageLoop.h"

namespace ovrin::win32 {

class Win32CommControl final : public SerialCore {
public:
    Win32CommControl(MessageLoop& loop, Log& log);
    ~Win32CommControl() override;

    std::string DeviceName(int16_t port) const override;
    std::string PortProblem(int16_t port) const override;

private:
    OVRIN_SERIAL_DEVICE_OPERATIONS

    bool ApplyLine(const LineSettings& s);
    void ReadLoop(uint64_t generation);
    void WriteLoop(uint64_t generation);

    MessageLoop& loop_;
    Log& log_;
    bool linesRefusedTold_ = false;

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE stop_ = nullptr;       // set to end both threads
    HANDLE outReady_ = nullptr;   // output waits for the writer
    std::thread reader_, writer_;

    std::mutex mutex_;  // guards what follows, shared with the threads
    std::condition_variable written_;  // the writer finished a block
    Bytes received_;
    Bytes outgoing_;
    std::size_t inFlight_ = 0;
    bool writing_ = false;  // the writer thread runs
};

}  // namespace ovrin::win32
