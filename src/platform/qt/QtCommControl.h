#pragma once
// The serial facility on QSerialPort. COMn is the device that DeviceForPort names
// for the program's folder. Lines that a device does not have (a pseudo-terminal
// has no DTR or RTS) keep the requested state without failing the open. A device
// that disappears while open (a USB adapter pulled) is closed once, quietly; every
// later call reports it as closed.
#include <QObject>
#include <QSerialPort>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "line/LineSettings.h"
#include "platform/shared/SerialCore.h"

namespace ovrin::qt {

class QtCommControl final : public QObject, public SerialCore {
    Q_OBJECT
public:
    explicit QtCommControl(std::string programFolder, QObject* parent = nullptr);
    ~QtCommControl() override;

    std::string DeviceName(int16_t port) const override;
    std::string PortProblem(int16_t port) const override;

private:
    OVRIN_SERIAL_DEVICE_OPERATIONS

    void PullPending();
    bool StageSettings(const LineSettings& s);
    bool SetLine(bool (QSerialPort::*setter)(bool), bool on);
    void OnError(QSerialPort::SerialPortError error);
    bool DeviceGone() const;
    // The failure QSerialPort reports, cleared, as an exception.
    [[noreturn]] void Fail();

    std::string folder_;
    QSerialPort serial_;
    QString devicePath_;  // as opened, to tell a full buffer from a device that is gone
    std::set<int16_t> linkedPorts_;  // ports opened through a dosdevices link
    int ownCalls_ = 0;  // our calls into QSerialPort that may report events on the spot
};

// What a device holds back before the system sees it, from what Linux tells about
// it under `sysfs` (normally /sys/class/tty): an FTDI adapter's latency timer, or
// the receive FIFO threshold of an on-board UART in character times. 0 when
// nothing is known, as for a pseudo-terminal.
int32_t DeviceDeliveryLatencyMs(const std::string& sysfs, const std::string& device, const LineSettings& line);

}  // namespace ovrin::qt
