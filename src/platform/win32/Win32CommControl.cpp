#include "platform/win32/Win32CommControl.h"

#include <algorithm>
#include <vector>

#include "platform/std/PortNames.h"
#include "platform/win32/Win32Text.h"

namespace ovrin::win32 {
namespace {

constexpr const char* kPortAlreadyOpen = "Port already open";
constexpr const char* kPortNotOpen = "The device is not open";
constexpr const char* kInvalidPortNumber = "Invalid port number";

BYTE ParityOf(char letter) {
    switch (letter) {
        case 'e': return EVENPARITY;
        case 'o': return ODDPARITY;
        case 'm': return MARKPARITY;
        case 's': return SPACEPARITY;
        default: return NOPARITY;
    }
}

BYTE StopBitsOf(int stopBitsX10) {
    return stopBitsX10 == 20 ? TWOSTOPBITS : stopBitsX10 == 15 ? ONE5STOPBITS : ONESTOPBIT;
}

// The device Windows lists as COMn among its serial ports (the registry's
// HARDWARE\DEVICEMAP\SERIALCOMM, where drivers of USB adapters enter theirs:
// "\Device\Serial19" for COM20), or "".
std::string ListedDevice(int16_t port) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return {};
    const std::wstring wanted = L"COM" + std::to_wstring(port);
    std::string device;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256], data[64];
        DWORD nameSize = 256, dataSize = sizeof data, type = 0;
        const LONG r = RegEnumValueW(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        data[std::min<DWORD>(dataSize / sizeof(wchar_t), 63)] = L'\0';
        if (_wcsicmp(data, wanted.c_str()) == 0) {
            device = Utf8(name);
            break;
        }
    }
    RegCloseKey(key);
    return device;
}

// The name COMn has in the DOS device table ("\Device\Serial0"), or "": a port a
// driver made without listing it.
std::string DosTarget(int16_t port) {
    wchar_t target[512];
    const std::wstring name = L"COM" + std::to_wstring(port);
    if (!QueryDosDeviceW(name.c_str(), target, 512)) return {};
    return Utf8(target);
}

// Waits for an overlapped operation, or for the stop event; false when stopped or failed.
bool Finish(HANDLE h, OVERLAPPED& ov, HANDLE stop, DWORD& done, DWORD& error) {
    error = 0;
    if (GetLastError() != ERROR_IO_PENDING) {
        error = GetLastError();
        return false;
    }
    const HANDLE waits[2] = {ov.hEvent, stop};
    const auto stopped = [&] {
        CancelIoEx(h, &ov);
        GetOverlappedResult(h, &ov, &done, TRUE);
        return false;
    };
    for (;;) {
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return stopped();
        if (GetOverlappedResult(h, &ov, &done, FALSE)) return true;
        if (GetLastError() != ERROR_IO_INCOMPLETE) {
            error = GetLastError();
            return false;
        }
        // The event was set before the operation ended (Wine does so at times): it
        // is still under way, not failed. Looked at again each millisecond.
        if (WaitForSingleObject(stop, 1) == WAIT_OBJECT_0) return stopped();
    }
}

}  // namespace

Win32CommControl::Win32CommControl(MessageLoop& loop, Log& log)
    : loop_(loop), log_(log), settings_(*ParseLineSettings(settingsText_)) {}

Win32CommControl::~Win32CommControl() { Close(); }

void Win32CommControl::SetCommPort(int16_t port) {
    if (PortOpen()) throw PlatformError(kPortAlreadyOpen);
    if (port < 1) throw PlatformError(kInvalidPropertyValue);
    port_ = port;
}

void Win32CommControl::SetSettings(const std::string& settings) {
    const auto parsed = ParseLineSettings(settings);
    if (!parsed || parsed->dataBits < 5) throw PlatformError(kInvalidPropertyValue);
    if (PortOpen() && !ApplyLine(*parsed)) {
        const DWORD error = GetLastError();
        ApplyLine(settings_);  // put back what the line had
        throw PlatformError(ErrorText(error));
    }
    settings_ = *parsed;
    settingsText_ = settings;
}

void Win32CommControl::SetDTREnable(bool on) {
    if (PortOpen()) SetModemLine(on, SETDTR, CLRDTR, "DTR");
    dtr_ = on;
}

void Win32CommControl::SetRTSEnable(bool on) {
    if (PortOpen()) SetModemLine(on, SETRTS, CLRRTS, "RTS");
    rts_ = on;
}

void Win32CommControl::SetModemLine(bool on, DWORD set, DWORD clear, const char* name) {
    if (EscapeCommFunction(handle_, on ? set : clear)) return;
    const DWORD error = GetLastError();
    // Only a driver that knows no such request has no such line; any other failure
    // (the device gone) is one, and the state stays as the line is.
    if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION && error != ERROR_INVALID_PARAMETER)
        throw PlatformError(ErrorText(error));
    if (linesRefusedTold_) return;
    linesRefusedTold_ = true;
    log_.Line(LogLevel::Warning, std::string("COM") + std::to_string(port_) + ": the device does not set " + name +
                                     " (" + ErrorText(error) + "); the requested state is kept");
}

void Win32CommControl::SetPortOpen(bool open) {
    if (open) Open();
    else Close();
}

bool Win32CommControl::ApplyLine(const LineSettings& s) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle_, &dcb)) return false;
    dcb.BaudRate = static_cast<DWORD>(s.baud);
    dcb.ByteSize = static_cast<BYTE>(s.dataBits);
    dcb.Parity = ParityOf(s.parity);
    dcb.StopBits = StopBitsOf(s.stopBitsX10);
    dcb.fBinary = TRUE;
    dcb.fParity = s.parity != 'n';
    // No flow control of any kind; every byte value passes.
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = dcb.fInX = dcb.fErrorChar = dcb.fNull = dcb.fAbortOnError = FALSE;
    dcb.fDtrControl = dtr_ ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = rts_ ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    return SetCommState(handle_, &dcb) != 0;
}

void Win32CommControl::Open() {
    if (PortOpen()) throw PlatformError(kPortAlreadyOpen);
    const std::string device = DeviceForPort(port_, {});
    if (device.empty()) throw PlatformError(kInvalidPortNumber);
    const HANDLE h = CreateFileW(Wide(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        std::string why = "COM" + std::to_string(port_) + ": " + ErrorText(error);
        if (error == ERROR_ACCESS_DENIED) why += " (another program has the port open)";
        throw PlatformError(why);
    }
    handle_ = h;
    SetupComm(h, 16384, 16384);
    // Reads take exactly what ClearCommError said is waiting: no time-outs needed.
    COMMTIMEOUTS none{};
    SetCommTimeouts(h, &none);
    if (!ApplyLine(settings_) || !SetCommMask(h, EV_RXCHAR | EV_ERR)) {
        const DWORD error = GetLastError();
        CloseHandle(h);
        handle_ = INVALID_HANDLE_VALUE;
        throw PlatformError("COM" + std::to_string(port_) + ": " + ErrorText(error));
    }
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        received_.clear();
        outgoing_.clear();
        inFlight_ = 0;
    }
    receiveQueued_ = sendQueued_ = lostQueued_ = false;
    const uint64_t generation = ++generation_;
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    outReady_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    reader_ = std::thread([this, generation] { ReadLoop(generation); });
    writer_ = std::thread([this, generation] { WriteLoop(generation); });
}

void Win32CommControl::Close() {
    if (!PortOpen()) return;
    // RTS goes down before the close, so a driver that keeps the lines at close
    // does not leave a transmitter keyed.
    EscapeCommFunction(handle_, CLRRTS);
    SetEvent(stop_);
    SetCommMask(handle_, 0);  // ends a pending WaitCommEvent
    if (reader_.joinable()) reader_.join();
    if (writer_.joinable()) writer_.join();
    CloseHandle(handle_);
    CloseHandle(stop_);
    CloseHandle(outReady_);
    handle_ = INVALID_HANDLE_VALUE;
    stop_ = outReady_ = nullptr;
    ++generation_;
    const std::lock_guard<std::mutex> lock(mutex_);
    received_.clear();
    outgoing_.clear();
    inFlight_ = 0;
}

void Win32CommControl::RequireOpen() const {
    if (!PortOpen()) throw PlatformError(kPortNotOpen);
}

int32_t Win32CommControl::InBufferCount() {
    RequireOpen();
    const std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int32_t>(received_.size());
}

Bytes Win32CommControl::Input() {
    RequireOpen();
    const std::lock_guard<std::mutex> lock(mutex_);
    Bytes out;
    out.swap(received_);
    return out;
}

void Win32CommControl::Output(const Bytes& data) {
    RequireOpen();
    if (data.empty()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        outgoing_ += data;
    }
    SetEvent(outReady_);
}

int32_t Win32CommControl::OutBufferCount() {
    if (!PortOpen()) return 0;
    std::size_t pending;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        pending = outgoing_.size() + inFlight_;
    }
    return static_cast<int32_t>(pending > 0x7FFFFFFF ? 0x7FFFFFFF : pending);
}

std::string Win32CommControl::DeviceName(int16_t port) const {
    const std::string listed = ListedDevice(port);
    return listed.empty() ? DosTarget(port) : listed;
}

bool Win32CommControl::PortAvailable(int16_t port) const { return !DeviceName(port).empty(); }

std::string Win32CommControl::PortProblem(int16_t port) const {
    return PortAvailable(port) ? std::string() : "Windows has no port of that name";
}

void Win32CommControl::ReadLoop(uint64_t generation) {
    // The wait for arrivals and the read each have their own OVERLAPPED: a wait
    // that ends late can never be taken for the read's end.
    OVERLAPPED wait{}, read{};
    wait.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE waits[2] = {wait.hEvent, stop_};
    DWORD mask = 0, done = 0, error = 0;
    bool waiting = false;  // a wait is under way
    // A failure while the port is being closed is no lost device.
    const auto lost = [&](DWORD why) {
        if (WaitForSingleObject(stop_, 0) != WAIT_OBJECT_0) ReportLost(generation, ErrorText(why));
    };
    std::vector<char> buffer;
    for (;;) {
        // Wine ends a wait at once on a pseudo-terminal, and when the port is
        // written to; the queue is looked at anyway.
        bool lookAgain = false;
        if (!waiting) {
            ResetEvent(wait.hEvent);
            if (!WaitCommEvent(handle_, &mask, &wait)) {
                error = GetLastError();
                waiting = error == ERROR_IO_PENDING;
                lookAgain = error == ERROR_OPERATION_ABORTED;
                if (!waiting && !lookAgain) {
                    lost(error);
                    break;
                }
            }
        }
        if (waiting) {
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) break;
            if (GetOverlappedResult(handle_, &wait, &done, FALSE)) {
                waiting = false;
            } else if ((error = GetLastError()) == ERROR_IO_INCOMPLETE) {
                // Wine at times sets the event of a wait that never ends: the queue
                // is looked at every millisecond while it lasts, not never again.
                lookAgain = true;
            } else {
                waiting = false;
                lookAgain = error == ERROR_OPERATION_ABORTED;
                if (!lookAgain) {
                    lost(error);
                    break;
                }
            }
        }
        if (WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0) break;
        COMSTAT status{};
        DWORD errors = 0;
        if (!ClearCommError(handle_, &errors, &status)) {
            lost(GetLastError());
            break;
        }
        if (status.cbInQue == 0) {
            if (lookAgain) Sleep(1);  // no busy loop should the waits keep ending so
            continue;
        }
        // Exactly what waits: the read completes at once, whatever Wine or the driver
        // make of read time-outs.
        buffer.resize(status.cbInQue);
        ResetEvent(read.hEvent);
        done = 0;
        if (!ReadFile(handle_, buffer.data(), status.cbInQue, &done, &read) && !Finish(handle_, read, stop_, done, error)) {
            if (error) lost(error);
            break;
        }
        if (done == 0) continue;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            received_.append(buffer.data(), done);
        }
        QueueEvent(comEvReceive, generation);
    }
    if (waiting) {
        CancelIoEx(handle_, &wait);
        GetOverlappedResult(handle_, &wait, &done, TRUE);
    }
    CloseHandle(wait.hEvent);
    CloseHandle(read.hEvent);
}

void Win32CommControl::WriteLoop(uint64_t generation) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE waits[2] = {outReady_, stop_};
    for (;;) {
        Bytes block;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            block.swap(outgoing_);
            inFlight_ = block.size();
        }
        if (block.empty()) {
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) break;
            continue;
        }
        DWORD done = 0, error = 0;
        ResetEvent(ov.hEvent);
        const bool written = WriteFile(handle_, block.data(), static_cast<DWORD>(block.size()), &done, &ov) ||
                             Finish(handle_, ov, stop_, done, error);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            inFlight_ = 0;
            // A write cut short (time-outs) leaves its rest for the next pass, first.
            if (written && done < block.size()) outgoing_.insert(0, block, done, Bytes::npos);
        }
        if (!written) {
            if (error) ReportLost(generation, ErrorText(error));
            break;
        }
        QueueEvent(comEvSend, generation);
    }
    CloseHandle(ov.hEvent);
}

void Win32CommControl::QueueEvent(CommEvent event, uint64_t generation) {
    std::atomic<bool>& queued = event == comEvReceive ? receiveQueued_ : sendQueued_;
    if (queued.exchange(true)) return;  // one waiting event reports all before it
    loop_.Post([this, event, generation, &queued] {
        queued = false;
        if (generation != generation_ || !PortOpen() || !OnComm) return;
        OnComm(event);
    });
}

void Win32CommControl::ReportLost(uint64_t generation, const std::string& why) {
    if (lostQueued_.exchange(true)) return;
    loop_.Post([this, generation, why] {
        if (generation != generation_ || !PortOpen()) return;
        Close();
        if (Lost) Lost(why);
    });
}

}  // namespace ovrin::win32
