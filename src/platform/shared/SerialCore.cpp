#include "platform/shared/SerialCore.h"

#include <algorithm>
#include <utility>

namespace ovrin {
namespace {

constexpr const char* kPortAlreadyOpen = "Port already open";
constexpr const char* kPortNotOpen = "The device is not open";

}  // namespace

SerialCore::SerialCore() : settings_(*ParseLineSettings(settingsText_)) {}

void SerialCore::CloseAtEnd() noexcept {
    try {
        Close();
    } catch (...) {  // the program is ending: nothing is left to tell
    }
}

bool SerialCore::PortOpen() const { return open_ && !FoundGone(); }

void SerialCore::SetCommPort(int16_t port) {
    if (PortOpen()) throw PlatformError(kPortAlreadyOpen);
    if (port < 1) throw PlatformError(kInvalidPropertyValue);
    port_ = port;
}

void SerialCore::SetSettings(const std::string& settings) {
    const auto parsed = ParseLineSettings(settings);
    // Neither QSerialPort nor a Windows driver takes 4-bit characters.
    if (!parsed || parsed->dataBits < 5) throw PlatformError(kInvalidPropertyValue);
    if (PortOpen()) {
        Guarded([&] {
            try {
                ApplySettings(*parsed);
            } catch (const PlatformError&) {
                try {
                    ApplySettings(settings_);  // put back what the line had
                } catch (const PlatformError&) {
                }
                throw;
            }
        });
    }
    settings_ = *parsed;
    settingsText_ = settings;
    if (PortOpen()) latencyMs_ = DeviceLatencyMs();
}

void SerialCore::SetDTREnable(bool on) {
    if (PortOpen()) Guarded([&] { SetDeviceLine(Line::Dtr, on); });
    dtr_ = on;
}

void SerialCore::SetRTSEnable(bool on) {
    if (PortOpen()) Guarded([&] { SetDeviceLine(Line::Rts, on); });
    rts_ = on;
}

void SerialCore::SetPortOpen(bool open) {
    if (open) Open();
    else Close();
}

int32_t SerialCore::InBufferCount() {
    RequireOpen();
    return Guarded([&] { return Waiting(); });
}

Bytes SerialCore::Input() {
    RequireOpen();
    return Guarded([&] { return Read(); });
}

void SerialCore::Output(const Bytes& data) {
    RequireOpen();
    if (!data.empty()) Guarded([&] { Write(data); });
}

int32_t SerialCore::OutBufferCount() { return PortOpen() ? Unsent() : 0; }

void SerialCore::Drain(int timeoutMs) {
    if (PortOpen()) WaitSent(timeoutMs);
}

uint8_t SerialCore::ModemLines() {
    if (!PortOpen() || noModemLines_) return 0;
    const std::optional<uint8_t> lines = DeviceModemLines();
    noModemLines_ = !lines;
    return lines.value_or(0);
}

void SerialCore::Open() {
    if (PortOpen()) throw PlatformError(kPortAlreadyOpen);
    if (open_) CloseGone();  // a device lost earlier, not yet closed
    ++generation_;
    OpenDevice();
    open_ = true;
    noModemLines_ = false;
    latencyMs_ = DeviceLatencyMs();
}

void SerialCore::Close() {
    if (FoundGone()) {
        CloseGone();
    } else if (open_) {
        // What was written (a CAT key's release) goes to the line before the close
        // that would cancel it.
        WaitSent(kCloseDrainMs);
        // RTS goes down before the close: a driver that keeps the modem lines at
        // close would leave a transmitter keyed.
        try {
            SetDeviceLine(Line::Rts, false);
        } catch (const PlatformError&) {
        }
        CloseDevice();
        open_ = false;
    }
    ++generation_;  // nothing queued before is told, not even a loss
}

void SerialCore::CloseGone() noexcept {
    try {
        SetDeviceLine(Line::Rts, false);  // as on every close, if the device still takes it
    } catch (...) {
    }
    CloseDevice();
    open_ = false;
}

void SerialCore::RequireOpen() {
    if (FoundGone()) CloseGone();
    if (!open_) throw PlatformError(kPortNotOpen);
}

template <typename Op>
auto SerialCore::Guarded(Op op) -> decltype(op()) {
    try {
        return op();
    } catch (const PlatformError&) {
        if (FoundGone()) CloseGone();
        throw;
    }
}

void SerialCore::QueueEvent(CommEvent event, uint64_t generation) {
    std::atomic<uint64_t>& waiting = event == comEvReceive ? receiveFor_ : sendFor_;
    if (generation != generation_ || waiting.exchange(generation) == generation) return;
    Post(
        [this, event, generation, &waiting] {
            uint64_t expected = generation;
            waiting.compare_exchange_strong(expected, 0);
            Raise(event, generation);
        },
        true);
}

void SerialCore::Raise(CommEvent event, uint64_t generation) {
    if (generation == generation_ && PortOpen() && OnComm) OnComm(event);
}

void SerialCore::ReportLost(uint64_t generation, std::string why) {
    if (generation != generation_ || lostFor_.exchange(generation) == generation) return;
    Post(
        [this, generation, why = std::move(why)] {
            if (generation != generation_) return;  // closed or reopened meanwhile
            if (open_) CloseGone();
            if (Lost) Lost(why);
        },
        false);
}

int32_t UsbLatencyMs(int latencyTimerMs) { return 1 + std::max(latencyTimerMs, 0); }

int32_t FifoLatencyMs(int thresholdBytes, const LineSettings& line) {
    if (thresholdBytes <= 1) return 0;
    return static_cast<int32_t>((static_cast<long>(thresholdBytes + 3) * CharacterMicroseconds(line) + 999) / 1000);
}

}  // namespace ovrin
