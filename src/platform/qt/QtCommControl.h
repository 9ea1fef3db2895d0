#pragma once
// The serial facility on QSerialPort. COMn is the device that DeviceForPort names
// for the program's folder. Lines that a device does not have (a pseudo-terminal
// has no DTR or RTS) keep the requested state without failing the open. A device
// that disappears while open (a USB adapter pulled) is closed once, quietly; every
// later call reports it as closed.
#include <QObject>
#include <QSerialPort>
#include <set>
#include <string>

#include "platform/CommControl.h"
#include "line/LineSettings.h"

namespace ovrin::qt {

class QtCommControl final : public QObject, public CommControl {
    Q_OBJECT
public:
    explicit QtCommControl(std::string programFolder, QObject* parent = nullptr);
    ~QtCommControl() override;

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
    int32_t DeliveryLatencyMs() const override { return deliveryLatencyMs_; }
    uint8_t ModemLines() override;
    std::string DeviceName(int16_t port) const override;
    bool PortAvailable(int16_t port) const override;
    std::string PortProblem(int16_t port) const override;

private:
    void Open();
    void Close();
    // Closes a device found gone and raises Lost from the event loop.
    void CloseLost();
    void RequireOpen();
    void PullPending();
    bool StageSettings(const LineSettings& s);
    bool SetLine(bool (QSerialPort::*setter)(bool), bool on);
    void OnError(QSerialPort::SerialPortError error);
    void QueueEvent(CommEvent event);
    int32_t ReadDeliveryLatency() const;
    bool DeviceGone() const;
    [[noreturn]] void Fail(const QString& why);

    std::string folder_;
    int16_t port_ = 1;
    std::string settingsText_ = "9600,n,8,1";
    LineSettings settings_;
    bool dtr_ = false;
    bool rts_ = false;

    QSerialPort serial_;
    QString devicePath_;  // as opened, to tell a full buffer from a device that is gone
    // Set when the device stops answering (unplugged); the port is closed at the
    // next chance. openCount_ tells a late queued close from a newer open.
    bool lost_ = false;
    std::set<int16_t> linkedPorts_;  // ports opened through a dosdevices link
    std::string lostWhy_;
    quint64 openCount_ = 0;
    int32_t deliveryLatencyMs_ = 0;
    bool noModemLines_ = false;  // the open device refused to tell its modem lines
    // One waiting event of each kind reports everything that happened before it.
    bool receiveQueued_ = false;
    bool sendQueued_ = false;
    int ownCalls_ = 0;  // our calls into QSerialPort that may report events on the spot
};

// What a device holds back before the system sees it, from what Linux tells about
// it under `sysfs` (normally /sys/class/tty): an FTDI adapter's latency timer, or
// the receive FIFO threshold of an on-board UART in character times. 0 when
// nothing is known, as for a pseudo-terminal.
int32_t DeviceDeliveryLatencyMs(const std::string& sysfs, const std::string& device, const LineSettings& line);

}  // namespace ovrin::qt
