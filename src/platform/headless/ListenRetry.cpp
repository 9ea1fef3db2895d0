#include "platform/headless/ListenRetry.h"

#include "serial/SerialPort.h"

namespace ovrin::headless {
namespace {

constexpr int16_t kOffLine = 0;
constexpr int16_t kListen = 1;

}  // namespace

ListenRetry::ListenRetry(frmMain& f, HeadlessDialogs& dialogs) : f_(f), dialogs_(dialogs) {
    timer_.Tick = [this] { Check(); };
}

bool ListenRetry::OffLine() const { return f_.cboConn.ListIndex() == kOffLine; }

void ListenRetry::Check() {
    if (OffLine()) {
        if (seen_ != Seen::OffLine) {
            f_.log.Line(LogLevel::Warning, "Off-line: selecting Listen every " + std::to_string(kIntervalMs / 1000) +
                                               " s until it listens");
            seen_ = Seen::OffLine;
            serialReported_ = false;
        }
        SelectListen();
    }
    if (!OffLine() && seen_ != Seen::Listening) {
        seen_ = Seen::Listening;
        dialogs_.ForgetRepeats();
        std::string port = f_.txtHostPort.Text();
        TryStep([&] { port = std::to_string(f_.tcpServer(0).LocalPort()); });
        f_.log.Line(LogLevel::Info, "Listening on port " + port + " for " + ComPortText());
    }
}

void ListenRetry::SelectListen() {
    const int shownBefore = dialogs_.Shown();
    dialogs_.SetQuietRepeats(true);
    try {
        f_.cboConn.SetListIndex(kListen);
    } catch (const PlatformError&) {
        // The handler has ended Off-line itself; the next tick tries again.
    }
    dialogs_.SetQuietRepeats(false);
    // Listen ends Off-line without a message only when the serial port it must keep
    // open cannot be opened; the window shows that as the Off-line picture alone.
    if (OffLine() && dialogs_.Shown() == shownBefore && f_.chkComPortActiveInListen.Value() == 1 &&
        !serialReported_) {
        f_.log.Line(LogLevel::Warning, ComPortText() +
                                           " cannot be opened, and \"Com Port active in Listen Mode\" needs it open");
        serialReported_ = true;
    }
}

// "COM1 (/dev/ttyUSB0)": the port and the device behind it.
std::string ListenRetry::ComPortText() const {
    std::string text = f_.cboComPort.Text();
    TryStep([&] {
        const std::string device = f_.comPort.DeviceName(PortNumber(f_.cboComPort.Text()));
        if (!device.empty()) text += " (" + device + ")";
    });
    return text;
}

}  // namespace ovrin::headless
