#include "platform/qt/QtCommControl.h"

#include <QElapsedTimer>
#include <QThread>

#include <QFile>
#include <QFileInfo>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <limits>

#include "platform/std/PortNames.h"
#include "platform/qt/QtText.h"
#include "platform/qt/Shield.h"

#if defined(Q_OS_UNIX)
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#else
#include <QSerialPortInfo>
#endif

namespace ovrin::qt {
namespace {

constexpr const char* kInvalidPortNumber = "Invalid port number";

// The most a single poll pulls from the device; a radio answers in far less.
constexpr int kMaxReadPasses = 64;
constexpr qint64 kReadBufferBytes = 64 * 1024;

QSerialPort::Parity ParityOf(char letter) {
    switch (letter) {
        case 'e': return QSerialPort::EvenParity;
        case 'o': return QSerialPort::OddParity;
        case 'm': return QSerialPort::MarkParity;
        case 's': return QSerialPort::SpaceParity;
        default: return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits StopBitsOf(int stopBitsX10) {
    if (stopBitsX10 == 20) return QSerialPort::TwoStop;
#if defined(Q_OS_WIN)
    if (stopBitsX10 == 15) return QSerialPort::OneAndHalfStop;
#else
    // termios has no 1.5; with two stop bits selected a UART sends 1.5 for 5-bit
    // characters, the only size where 1.5 is used.
    if (stopBitsX10 == 15) return QSerialPort::TwoStop;
#endif
    return QSerialPort::OneStop;
}

int32_t ClampCount(qint64 n) {
    return n > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                   : static_cast<int32_t>(n);
}

// A small whole number kept in a file, or -1.
int NumberInFile(const std::string& path) {
    std::ifstream in(path);
    int n = -1;
    if (!(in >> n) || n < 0 || n > 10000) return -1;
    return n;
}

#if defined(Q_OS_UNIX)
// The name a device has under /sys/class/tty: that of the node a path leads to.
std::string TtyName(const QString& path) {
    return QFile::encodeName(QFileInfo(QFileInfo(path).canonicalFilePath()).fileName()).toStdString();
}

// The kernel keeps nodes for the standard serial ports whether or not a UART is
// there; its port type 0 means there is none. Told by sysfs, not by opening it.
bool UartPresent(const std::string& device) {
    return NumberInFile("/sys/class/tty/" + TtyName(QFile::decodeName(device.c_str())) + "/type") != 0;
}
#endif

}  // namespace

int32_t DeviceDeliveryLatencyMs(const std::string& sysfs, const std::string& device, const LineSettings& line) {
    if (device.empty() || device.find('/') != std::string::npos) return 0;
    const std::string dir = sysfs + "/" + device;
    // An FTDI chip tells its latency timer (16 ms unless lowered); other USB
    // adapters pass bytes on each frame.
    if (device.rfind("ttyUSB", 0) == 0 || device.rfind("ttyACM", 0) == 0)
        return UsbLatencyMs(NumberInFile(dir + "/device/latency_timer"));
    return FifoLatencyMs(NumberInFile(dir + "/rx_trig_bytes"), line);
}

QtCommControl::QtCommControl(std::string programFolder, QObject* parent)
    : QObject(parent), folder_(std::move(programFolder)) {
    // What comes from the device is read at least every 50 ms; a device that says
    // more than this meanwhile (none that a radio drives, a pseudo-terminal can)
    // waits in the driver rather than in this process's memory.
    serial_.setReadBufferSize(kReadBufferBytes);
    connect(&serial_, &QSerialPort::errorOccurred, this, &QtCommControl::OnError);
    connect(&serial_, &QSerialPort::readyRead, this, [this] { QueueEvent(comEvReceive, Generation()); });
    connect(&serial_, &QSerialPort::bytesWritten, this, [this] { QueueEvent(comEvSend, Generation()); });
}

QtCommControl::~QtCommControl() { CloseAtEnd(); }

void QtCommControl::ApplySettings(const LineSettings& s) {
    if (!StageSettings(s)) Fail();
}

void QtCommControl::SetDeviceLine(Line line, bool on) {
    if (!SetLine(line == Line::Dtr ? &QSerialPort::setDataTerminalReady : &QSerialPort::setRequestToSend, on)) Fail();
}

int32_t QtCommControl::Waiting() {
    PullPending();
    return ClampCount(serial_.bytesAvailable());
}

Bytes QtCommControl::Read() {
    PullPending();
    return FromBytes(serial_.readAll());
}

void QtCommControl::Write(const Bytes& data) {
    const qint64 queued = serial_.write(data.data(), static_cast<qint64>(data.size()));
#if !defined(Q_OS_WIN)
    {
        const OwnCall call(ownCalls_);
        serial_.flush();  // hand the bytes to the driver now, without blocking
    }
#endif
    if (queued != static_cast<qint64>(data.size()) || FoundGone()) Fail();
}

void QtCommControl::WaitSent(int timeoutMs) {
    const OwnCall call(ownCalls_);
    QElapsedTimer elapsed;
    elapsed.start();
    while (serial_.bytesToWrite() > 0 && elapsed.elapsed() < timeoutMs)
        if (!serial_.waitForBytesWritten(static_cast<int>(timeoutMs - elapsed.elapsed()))) break;
    serial_.clearError();  // a wait that timed out is no error
#if defined(TIOCOUTQ)
    // What the driver still holds leaves at the line's pace.
    int queued = 0;
    while (elapsed.elapsed() < timeoutMs && ::ioctl(serial_.handle(), TIOCOUTQ, &queued) == 0 && queued > 0)
        QThread::msleep(1);
#endif
}

int32_t QtCommControl::Unsent() {
    qint64 pending = serial_.bytesToWrite();
#if defined(TIOCOUTQ)
    int queued = 0;
    if (::ioctl(serial_.handle(), TIOCOUTQ, &queued) == 0 && queued > 0) pending += queued;
#endif
    return ClampCount(pending);
}

std::string QtCommControl::DeviceName(int16_t port) const {
    const std::string device = DeviceForPort(port, folder_);
    if (device.empty()) return {};
    const QFileInfo info(QFile::decodeName(device.c_str()));
    if (info.isSymLink()) return QFile::encodeName(info.symLinkTarget()).toStdString();
    return device;
}

std::string QtCommControl::PortProblem(int16_t port) const {
    const std::string device = DeviceForPort(port, folder_);
    if (device.empty()) return "no device is linked to it";
#if defined(Q_OS_UNIX)
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISCHR(st.st_mode)) return "not a serial device";
    if (::access(device.c_str(), R_OK | W_OK) != 0) {
        const int error = errno;
        return std::string(std::strerror(error)) +
               (error == EACCES ? " (add this user to the dialout group: sudo adduser $USER dialout, then log in again)"
                                : "");
    }
    if (!UartPresent(device)) return "no serial port hardware behind it";
    return {};
#else
    const QString name = QStringLiteral("COM%1").arg(port);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        if (info.portName().compare(name, Qt::CaseInsensitive) == 0) return {};
    return "no such port";
#endif
}

void QtCommControl::OpenDevice() {
    const int16_t port = CommPort();
    const std::string device = DeviceForPort(port, folder_);
    if (device.empty()) throw PlatformError(kInvalidPortNumber);
    // A port once opened through its dosdevices link is that link's device: with the
    // link gone (a radio's device removed with it), the fixed table would name
    // another device, and a lost radio would be "reopened" on the wrong port.
    const std::string link = PortLink(port, folder_);
    const bool viaLink = !link.empty() && device == link;
    if (!viaLink && linkedPorts_.count(port) != 0)
        throw PlatformError((std::filesystem::path(folder_) / "dosdevices" / ("com" + std::to_string(port))).string() +
                            ": the link to the device is gone");
    // Opened by the device's own path, not the link's: the port's lock file is named
    // after the path opened, and only the device's name keeps other programs off it.
    std::error_code unresolved;
    const std::filesystem::path resolved = std::filesystem::canonical(device, unresolved);
    devicePath_ = QFile::decodeName(unresolved ? device.c_str() : resolved.c_str());
    serial_.setPortName(devicePath_);
    StageSettings(LineSetting());  // applied by open(), which fails and closes if they are refused
    if (!serial_.open(QIODevice::ReadWrite)) {
        QString why = ToQ(DeviceName(port)) + QStringLiteral(": ") + serial_.errorString();
        serial_.clearError();
#if defined(Q_OS_UNIX)
        if (::access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES)
            why += QStringLiteral(" (add this user to the dialout group: sudo adduser $USER dialout, then log in again)");
#endif
        throw PlatformError(FromQ(why));
    }
    if (viaLink) linkedPorts_.insert(port);
    if (!SetLine(&QSerialPort::setDataTerminalReady, DTREnable()) ||
        !SetLine(&QSerialPort::setRequestToSend, RTSEnable())) {
        const QString why = serial_.errorString();
        serial_.setRequestToSend(false);
        CloseDevice();
        throw PlatformError(FromQ(why));
    }
}

void QtCommControl::CloseDevice() noexcept {
    serial_.close();
    serial_.clearError();
}

// Qt reads the device only when the event loop runs; a poll must also see what
// waits in the driver, so read whatever is there now, without waiting.
void QtCommControl::PullPending() {
    {
        const OwnCall call(ownCalls_);
        for (int pass = 0; pass < kMaxReadPasses && serial_.waitForReadyRead(0); ++pass) {
        }
    }
    if (FoundGone()) Fail();
    serial_.clearError();  // the timeout that ends the passes is no error
}

bool QtCommControl::StageSettings(const LineSettings& s) {
    return serial_.setBaudRate(s.baud) && serial_.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits)) &&
           serial_.setParity(ParityOf(s.parity)) && serial_.setStopBits(StopBitsOf(s.stopBitsX10)) &&
           serial_.setFlowControl(QSerialPort::NoFlowControl);
}

bool QtCommControl::SetLine(bool (QSerialPort::*setter)(bool), bool on) {
    if ((serial_.*setter)(on)) return true;
    // A device without modem-control lines keeps the requested state.
    if (serial_.error() == QSerialPort::UnsupportedOperationError) {
        serial_.clearError();
        return true;
    }
    return false;
}

// A full driver buffer (EAGAIN on write) is reported as the same ResourceError as
// an unplugged device; only a device that no longer answers, or whose node is
// gone, is taken for lost. Closing on a full buffer would drop the port mid-session.
bool QtCommControl::DeviceGone() const {
#if defined(Q_OS_UNIX)
    termios attributes{};
    if (::tcgetattr(static_cast<int>(serial_.handle()), &attributes) != 0) return true;
#endif
    return !QFileInfo::exists(devicePath_);
}

void QtCommControl::OnError(QSerialPort::SerialPortError error) {
    // A device that is gone answers every read with an error; it is closed once,
    // from the event loop, not inside QSerialPort's own notification.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError) return;
    if (!serial_.isOpen() || FoundGone()) return;
    // A read that found nothing (the bytes were taken by a read of our own a moment
    // before) is reported with whatever the last failed call left in errno: only a
    // device that no longer answers is lost.
    if (!DeviceGone()) {
        serial_.clearError();  // the unwritten bytes stay queued and go when the line drains
        return;
    }
    ReportLost(Generation(),
               QFileInfo::exists(devicePath_) ? FromQ(serial_.errorString()) : std::string("the device is gone"));
}

void QtCommControl::Post(std::function<void()> work, bool mayRunNow) {
    // Straight from the event loop the handler runs at once: a posted event would
    // cost the loop another pass for every answer.
    if (mayRunNow && !InHandler() && ownCalls_ == 0) {
        Shielded("comPort", work);
        return;
    }
    QMetaObject::invokeMethod(
        this, [work = std::move(work)] { Shielded("comPort", work); }, Qt::QueuedConnection);
}

int32_t QtCommControl::DeviceLatencyMs() {
#if defined(Q_OS_LINUX)
    return DeviceDeliveryLatencyMs("/sys/class/tty", TtyName(devicePath_), LineSetting());
#else
    return 0;
#endif
}

void QtCommControl::Fail() {
    const QString why = serial_.errorString();
    serial_.clearError();
    throw PlatformError(FromQ(why));
}

std::optional<uint8_t> QtCommControl::DeviceModemLines() {
    // A device without modem lines (a pseudo-terminal) refuses; every refusal
    // leaves an error behind.
    const QSerialPort::PinoutSignals pins = serial_.pinoutSignals();
    if (serial_.error() == QSerialPort::UnsupportedOperationError) {
        serial_.clearError();
        return std::nullopt;
    }
    uint8_t lines = 0;
    if (pins & QSerialPort::ClearToSendSignal) lines |= kLineCTS;
    if (pins & QSerialPort::DataSetReadySignal) lines |= kLineDSR;
    if (pins & QSerialPort::RingIndicatorSignal) lines |= kLineRI;
    if (pins & QSerialPort::DataCarrierDetectSignal) lines |= kLineCD;
    return lines;
}

}  // namespace ovrin::qt
