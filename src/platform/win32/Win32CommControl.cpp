#include "platform/win32/Win32CommControl.h"

#include <setupapi.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/std/PortNames.h"
#include "platform/win32/Win32Text.h"

namespace ovrin::win32 {
namespace {

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

// Windows' class of serial and parallel ports, whose devices name their COM port.
constexpr GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

DWORD NumberValue(HKEY key, const wchar_t* name, DWORD otherwise) {
    DWORD value = 0, size = sizeof value, type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return otherwise;
    return value;
}

// What the driver of COMn holds back, from its device's parameters: an FTDI
// adapter's latency timer (16 ms unless lowered), any other USB adapter's 1 ms
// frame, or the receive FIFO threshold of a UART driven by serial.sys (14 unless
// set lower). 0 when the port is none of these, as a virtual port is.
int32_t DriverLatencyMs(int16_t port, const LineSettings& line) {
    const HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return 0;
    const std::wstring wanted = L"COM" + std::to_wstring(port);
    int32_t latency = 0;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        const HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        if (key == INVALID_HANDLE_VALUE) continue;
        wchar_t name[64] = {};
        DWORD size = sizeof name - sizeof(wchar_t), type = 0;
        const bool found = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) ==
                               ERROR_SUCCESS &&
                           type == REG_SZ && _wcsicmp(name, wanted.c_str()) == 0;
        wchar_t instance[256] = {};
        if (found && SetupDiGetDeviceInstanceIdW(set, &info, instance, 256, nullptr)) {
            const std::wstring id(instance);
            const std::wstring bus = id.substr(0, id.find(L'\\'));
            if (_wcsicmp(bus.c_str(), L"FTDIBUS") == 0)
                latency = UsbLatencyMs(static_cast<int>(NumberValue(key, L"LatencyTimer", 16)));
            else if (_wcsicmp(bus.c_str(), L"USB") == 0)
                latency = UsbLatencyMs(0);
            else if (_wcsicmp(bus.c_str(), L"ACPI") == 0 || _wcsicmp(bus.c_str(), L"PNP") == 0 ||
                     _wcsicmp(bus.c_str(), L"ROOT") == 0)
                latency = FifoLatencyMs(static_cast<int>(NumberValue(key, L"RxFIFO", 14)), line);
        }
        RegCloseKey(key);
        if (found) break;
    }
    SetupDiDestroyDeviceInfoList(set);
    return latency;
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

Win32CommControl::Win32CommControl(MessageLoop& loop, Log& log) : loop_(loop), log_(log) {}

Win32CommControl::~Win32CommControl() { CloseAtEnd(); }

void Win32CommControl::ApplySettings(const LineSettings& s) {
    if (!ApplyLine(s)) throw PlatformError(ErrorText(GetLastError()));
}

void Win32CommControl::SetDeviceLine(Line line, bool on) {
    const bool dtr = line == Line::Dtr;
    if (EscapeCommFunction(handle_, dtr ? (on ? SETDTR : CLRDTR) : (on ? SETRTS : CLRRTS))) return;
    const DWORD error = GetLastError();
    // Only a driver that knows no such request has no such line; any other failure
    // (the device gone) is one, and the state stays as the line is.
    if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION && error != ERROR_INVALID_PARAMETER)
        throw PlatformError(ErrorText(error));
    if (linesRefusedTold_) return;
    linesRefusedTold_ = true;
    log_.Line(LogLevel::Warning, std::string("COM") + std::to_string(CommPort()) + ": the device does not set " +
                                     (dtr ? "DTR" : "RTS") + " (" + ErrorText(error) + "); the requested state is kept");
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
    dcb.fDtrControl = DTREnable() ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTSEnable() ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    return SetCommState(handle_, &dcb) != 0;
}

void Win32CommControl::OpenDevice() {
    const std::string device = DeviceForPort(CommPort(), {});
    if (device.empty()) throw PlatformError(kInvalidPortNumber);
    const HANDLE h = CreateFileW(Wide(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
    const std::string label = "COM" + std::to_string(CommPort()) + ": ";
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        std::string why = label + ErrorText(error);
        if (error == ERROR_ACCESS_DENIED) why += " (another program has the port open)";
        throw PlatformError(why);
    }
    handle_ = h;
    SetupComm(h, 16384, 16384);
    // Reads take exactly what ClearCommError said is waiting: no time-outs needed.
    COMMTIMEOUTS none{};
    SetCommTimeouts(h, &none);
    if (!ApplyLine(LineSetting()) || !SetCommMask(h, EV_RXCHAR | EV_ERR)) {
        const DWORD error = GetLastError();
        CloseHandle(h);
        handle_ = INVALID_HANDLE_VALUE;
        throw PlatformError(label + ErrorText(error));
    }
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        received_.clear();
        outgoing_.clear();
        inFlight_ = 0;
        writing_ = true;
    }
    const uint64_t generation = Generation();
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    outReady_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    reader_ = std::thread([this, generation] { ReadLoop(generation); });
    writer_ = std::thread([this, generation] { WriteLoop(generation); });
}

void Win32CommControl::CloseDevice() noexcept {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    SetEvent(stop_);
    SetCommMask(handle_, 0);  // ends a pending WaitCommEvent
    if (reader_.joinable()) reader_.join();
    if (writer_.joinable()) writer_.join();
    CloseHandle(handle_);
    CloseHandle(stop_);
    CloseHandle(outReady_);
    handle_ = INVALID_HANDLE_VALUE;
    stop_ = outReady_ = nullptr;
    const std::lock_guard<std::mutex> lock(mutex_);
    received_.clear();
    outgoing_.clear();
    inFlight_ = 0;
}

int32_t Win32CommControl::Waiting() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int32_t>(std::min<std::size_t>(received_.size(), 0x7FFFFFFF));
}

Bytes Win32CommControl::Read() {
    const std::lock_guard<std::mutex> lock(mutex_);
    Bytes out;
    out.swap(received_);
    return out;
}

void Win32CommControl::Write(const Bytes& data) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        outgoing_ += data;
    }
    SetEvent(outReady_);
}

int32_t Win32CommControl::Unsent() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int32_t>(std::min<std::size_t>(outgoing_.size() + inFlight_, 0x7FFFFFFF));
}

void Win32CommControl::WaitSent(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    {
        // The writer thread first (it stops only when the port closes or the
        // device is gone, and then nothing more leaves).
        std::unique_lock<std::mutex> lock(mutex_);
        if (!written_.wait_until(lock, deadline, [this] { return !writing_ || (outgoing_.empty() && inFlight_ == 0); }))
            return;
    }
    // Then what the driver still holds leaves at the line's pace.
    COMSTAT status{};
    DWORD errors = 0;
    while (std::chrono::steady_clock::now() < deadline && ClearCommError(handle_, &errors, &status) &&
           status.cbOutQue > 0)
        Sleep(1);
}

std::optional<uint8_t> Win32CommControl::DeviceModemLines() {
    DWORD status = 0;
    if (!GetCommModemStatus(handle_, &status)) return std::nullopt;
    uint8_t lines = 0;
    if (status & MS_CTS_ON) lines |= kLineCTS;
    if (status & MS_DSR_ON) lines |= kLineDSR;
    if (status & MS_RING_ON) lines |= kLineRI;
    if (status & MS_RLSD_ON) lines |= kLineCD;
    return lines;
}

int32_t Win32CommControl::DeviceLatencyMs() { return DriverLatencyMs(CommPort(), LineSetting()); }

void Win32CommControl::Post(std::function<void()> work, bool) { loop_.Post(std::move(work)); }

std::string Win32CommControl::DeviceName(int16_t port) const {
    const std::string listed = ListedDevice(port);
    return listed.empty() ? DosTarget(port) : listed;
}

std::string Win32CommControl::PortProblem(int16_t port) const {
    return DeviceName(port).empty() ? "Windows has no port of that name" : std::string();
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
        written_.notify_all();
        if (!written) {
            if (error) ReportLost(generation, ErrorText(error));
            break;
        }
        QueueEvent(comEvSend, generation);
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        writing_ = false;
    }
    written_.notify_all();
    CloseHandle(ov.hEvent);
}

}  // namespace ovrin::win32
