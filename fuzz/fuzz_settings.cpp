// Fuzz target: the settings files. The input is the whole record file as start-up
// finds it, and the whole options file too. Whatever it holds, start-up must end
// either with the record's values or, after one "Open Error" message, with the
// defaults written back as a 1033-byte record; the options taken are each within
// their range, and a bad options line raises no message.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "sim/SimPlatform.h"

namespace {

using namespace ovrin;
using fuzz::Escaped;
using fuzz::Require;

constexpr std::size_t kRecordLength = 1033;

// Field offsets in the record.
struct Field {
    std::size_t offset, width;
};
constexpr Field kInterbyte{40, 7}, kBaud{47, 6}, kDataBits{53, 1}, kParity{54, 5}, kStopBits{59, 1},
    kHostPort{60, 5}, kComPort{67, 6};
constexpr std::size_t kListenAtStart = 65, kDtr = 73, kRts = 74, kActiveInListen = 75, kCtrlPtt = 76,
                      kReserved3 = 78;

// The stored single-byte text as the window holds it (UTF-8).
std::string Latin1ToUtf8(const std::string& field) {
    std::string text;
    for (char ch : field) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            text += ch;
        } else {
            text += static_cast<char>(0xC0 | c >> 6);
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

std::string Blanks(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string StoredText(const std::string& file, Field field) {
    return Blanks(Latin1ToUtf8(file.substr(field.offset, field.width)));
}

int StoredFlag(const std::string& file, std::size_t offset) {
    const char c = file[offset];
    return c >= '0' && c <= '9' ? c - '0' : 0;
}

void RequireText(const std::string& actual, const std::string& expected, const char* property) {
    Require(actual == expected, property, "window \"" + Escaped(actual) + "\", expected \"" + Escaped(expected) + "\"");
}

int CountTitled(const sim::SimDialogs& dialogs, const std::string& title) {
    int n = 0;
    for (const auto& box : dialogs.shown) n += box.title == title ? 1 : 0;
    return n;
}

void CheckDefaults(sim::SimApp& app, const std::string& input, std::size_t messages) {
    frmMain& f = app.f;
    Require(app.dialogs.shown.size() == messages, "defaults come with no message but the Open Error",
            std::to_string(app.dialogs.shown.size()) + " messages");
    RequireText(f.txtHostPort.Text(), "50000", "default host port");
    RequireText(f.cboComPort.Text(), "COM1", "default port");
    RequireText(f.cboInterbyte.Text(), "100 mS", "default interbyte time-out");
    RequireText(f.cboBaud.Text(), "9600", "default baud");
    RequireText(f.cboBits.Text(), "8", "default data bits");
    RequireText(f.cboParity.Text(), "None", "default parity");
    RequireText(f.cboStop.Text(), "2", "default stop bits");
    Require(f.chkDTR.Value() == 0 && f.chkRTS.Value() == 0 && f.chkBridge.Value() == 0, "default lines off");
    Require(!f.station.state.OffLine() && app.sockets.Element(0).State() == sckListening, "defaults listen");

    const auto file = app.host.files.find(app.SettingsPath());
    Require(file != app.host.files.end(), "defaults are saved");
    const std::string& saved = file->second;
    Require(saved.size() == kRecordLength, "the saved file is one record", std::to_string(saved.size()) + " bytes");
    const std::string expected = std::string(40, ' ') + "100 mS 9600  8None 250000" + std::string("\x01\x00", 2) +
                                 "COM1  00" + std::to_string(f.chkComPortActiveInListen.Value()) +
                                 std::to_string(f.chkCtrlPTT.Value()) + "0";
    Require(saved.compare(0, kReserved3, expected) == 0, "the saved record holds the defaults",
            Escaped(saved.substr(0, kReserved3)));
    // The reserved tail is carried over from a record that was read, zero otherwise.
    const std::string tail = input.size() == kRecordLength ? input.substr(kReserved3)
                                                           : std::string(kRecordLength - kReserved3, '\0');
    Require(saved.compare(kReserved3, std::string::npos, tail) == 0, "the reserved tail is kept");
}

void CheckStoredValues(sim::SimApp& app, const std::string& input) {
    frmMain& f = app.f;
    RequireText(f.txtHostPort.Text(), StoredText(input, kHostPort), "stored host port");
    const std::string port = Latin1ToUtf8(input.substr(kComPort.offset, kComPort.width));
    const bool comName = port.size() >= 3 && (port[0] | 0x20) == 'c' && (port[1] | 0x20) == 'o' &&
                         (port[2] | 0x20) == 'm';
    RequireText(f.cboComPort.Text(), comName ? Blanks(port) : "COM1", "stored port, or COM1 for another name");
    RequireText(f.cboInterbyte.Text(), StoredText(input, kInterbyte), "stored interbyte time-out");
    RequireText(f.cboBaud.Text(), StoredText(input, kBaud), "stored baud");
    RequireText(f.cboBits.Text(), StoredText(input, kDataBits), "stored data bits");
    RequireText(f.cboParity.Text(), StoredText(input, kParity), "stored parity");
    RequireText(f.cboStop.Text(), StoredText(input, kStopBits), "stored stop bits");

    // The boxes are taken as stored, PTT control last: stored on, it clears the box
    // of its line (RTS unless the options say DTR) and the keep-open box, so the
    // port never opens with that line raised.
    const bool dtrKeys = f.station.settings.options.pttLine == PttLine::Dtr;
    const int rts = StoredFlag(input, kRts), dtr = StoredFlag(input, kDtr), ptt = StoredFlag(input, kCtrlPtt),
              keepOpen = StoredFlag(input, kActiveInListen);
    const CheckBox& keyBox = dtrKeys ? f.chkDTR : f.chkRTS;
    const CheckBox& freeBox = dtrKeys ? f.chkRTS : f.chkDTR;
    Require(freeBox.Value() == (dtrKeys ? rts : dtr), "the stored box of the line that does not key");
    Require(f.chkCtrlPTT.Value() == ptt, "stored PTT control");
    if (ptt == 1) {
        Require(keyBox.Value() == 0 && f.chkComPortActiveInListen.Value() == 0,
                "PTT control on comes back with its line low and the port not kept open");
    } else {
        Require(keyBox.Value() == (dtrKeys ? dtr : rts), "the stored box of the line that keys");
        Require(f.chkComPortActiveInListen.Value() == keepOpen, "stored keep-open box");
    }
    Require(f.chkBridge.Value() == 0, "bridge is never restored");

    // The stored status: Listen listens unless the port or the serial line cannot be
    // used; anything else (Off-line, Default, no entry) starts Off-line and asks
    // nothing.
    const auto listen = static_cast<int16_t>(static_cast<unsigned char>(input[kListenAtStart]) |
                                             static_cast<unsigned char>(input[kListenAtStart + 1]) << 8);
    const bool listening = app.sockets.Element(0).State() == sckListening;
    Require(listening == !f.station.state.OffLine(), "listening exactly when the state says so");
    Require(f.cboConn.Text() == (listening ? "Listen" : "Off-line"), "the status list shows the state",
            f.cboConn.Text());
    if (listen != 1) Require(!listening, "stored Off-line, Default or no entry starts Off-line");
    // A stored port that cannot be listened on is told as a port in use only when it is.
    const int expectedBoxes = CountTitled(app.dialogs, "Listen Error");
    Require(static_cast<int>(app.dialogs.shown.size()) == expectedBoxes, "no other message",
            app.dialogs.shown.empty() ? "" : app.dialogs.shown.back().title);

    // A good file is left as it is.
    const auto file = app.host.files.find(app.SettingsPath());
    Require(file != app.host.files.end() && file->second == input, "a good file is not rewritten");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    sim::SimApp app;
    app.host.files[app.SettingsPath()] = input;
    app.host.files["/sim/prog/Ovrin-Server.conf"] = input;
    app.dialogs.answers.assign(8, MsgResult::No);
    app.Load();

    const ServerOptions& o = app.f.station.settings.options;
    Require(o.clients >= 1 && o.clients <= kMostClients && o.answerWaitMs >= 20 && o.answerWaitMs <= 3000 &&
                o.rfc2217Port >= 0 && o.rfc2217Port <= 65535 && o.statusPort >= 0 && o.statusPort <= 65535 &&
                o.txLimitS >= 0 && o.txLimitS <= 3600,
            "the options taken are within their ranges");
    const int openErrors = CountTitled(app.dialogs, "Open Error");
    Require(openErrors <= 1, "at most one Open Error message", std::to_string(openErrors));
    if (size == 0) {
        CheckDefaults(app, input, 0);
    } else if (size != kRecordLength) {
        Require(openErrors == 1, "a file of the wrong length is reported");
        Require(app.dialogs.shown[0].text.rfind("\r\rUnable to open ", 0) == 0, "the report names no cause",
                Escaped(app.dialogs.shown[0].text));
        CheckDefaults(app, input, 1);
    } else if (openErrors == 1) {
        CheckDefaults(app, input, 1);
    } else {
        CheckStoredValues(app, input);
    }
    return 0;
}
