#include "station/Station.h"

#include "station/OptionsText.h"
#include "text/Text.h"

namespace ovrin {
namespace {

constexpr const char* kRefused = "Invalid property value";

// A stored flag as its box would take it.
std::optional<int> Flag(const std::string& field) {
    const int value = FlagValue(field);
    if (value > 2) return std::nullopt;
    return value;
}

}  // namespace

const char* LineName(PttLine line) { return line == PttLine::Dtr ? "DTR" : "RTS"; }

Box LineBox(PttLine line) { return line == PttLine::Dtr ? Box::Dtr : Box::Rts; }

int& StationSettings::operator[](Box box) {
    switch (box) {
        case Box::Dtr: return dtr;
        case Box::Rts: return rts;
        case Box::KeepPortOpen: return keepPortOpen;
        case Box::PttControl: break;
    }
    return pttControl;
}

int StationSettings::operator[](Box box) const { return (*const_cast<StationSettings*>(this))[box]; }

StationSettings InitialSettings() {
    StationSettings s;
    s.hostPort = "50000";
    s.comPort = "COM1";
    s.interbyte = "100 mS";
    s.baud = "9600";
    s.dataBits = "8";
    s.parity = "None";
    s.stopBits = "2";
    s.dtr = s.rts = s.keepPortOpen = 1;
    return s;
}

StationSettings WithDefaultLine(StationSettings s) {
    const StationSettings initial = InitialSettings();
    s.hostPort = initial.hostPort;
    s.interbyte = initial.interbyte;
    s.baud = initial.baud;
    s.dataBits = initial.dataBits;
    s.parity = initial.parity;
    s.stopBits = initial.stopBits;
    return s;
}

StationSettings DefaultSettings(StationSettings s) {
    s = WithDefaultLine(s);
    s.comPort = InitialSettings().comPort;
    s.dtr = s.rts = 0;
    s.bridge = 0;
    s.listenAtStart = true;
    return s;
}

StationSettings WithBox(StationSettings s, Box box, int value) {
    if (s[box] == value) return s;
    s[box] = value;
    if (value != 1) return s;
    const Box line = LineBox(s.options.pttLine);
    if (box == Box::KeepPortOpen) return WithBox(s, line, 1);
    if (box == line) return WithBox(s, Box::PttControl, 0);
    if (box == Box::PttControl) return WithBox(WithBox(s, line, 0), Box::KeepPortOpen, 0);
    return s;
}

StationSettings Normalised(StationSettings s) {
    if (s.pttControl == 1) s[LineBox(s.options.pttLine)] = s.keepPortOpen = 0;
    return s;
}

StationSettings WithPttLine(StationSettings s, PttLine line) {
    if (s.options.pttLine == line) return s;
    s.options.pttLine = line;
    if (s.pttControl == 1) s[LineBox(line)] = 0;
    return s;
}

StationSettings WithGiven(StationSettings s, const GivenSettings& g) {
    ServerOptions options = s.options;
    for (const auto& [name, text] : g.options) SetOption(options, name, text);  // checked when given
    const PttLine line = options.pttLine;
    options.pttLine = s.options.pttLine;
    s.options = options;
    s = WithPttLine(s, line);
    const auto type = [](std::string& text, const std::string& given) {
        if (!given.empty()) text = given;
    };
    type(s.hostPort, g.hostPort);
    type(s.comPort, g.comPort);
    type(s.baud, g.baud);
    type(s.parity, g.parity);
    type(s.dataBits, g.dataBits);
    type(s.stopBits, g.stopBits);
    const std::pair<Box, int> boxes[] = {
        {Box::KeepPortOpen, g.keepPortOpen}, {Box::Rts, g.rts}, {Box::Dtr, g.dtr}, {Box::PttControl, g.pttControl}};
    for (const auto& [box, value] : boxes)
        if (value >= 0) s = WithBox(s, box, value);
    for (const auto& [box, value] : boxes)
        if (value >= 0) s[box] = value;
    return s;
}

std::optional<StationSettings> FromRecord(const SettingsRecordBuffer& r, const StationSettings& base,
                                          std::string& why) {
    StationSettings s = base;
    s.hostPort = Trim(FromField(r.HostPort));
    const std::string port = FromField(r.ComPortName);
    s.comPort = UpperCase(port).rfind("COM", 0) == 0 ? Trim(port) : "COM1";
    s.interbyte = Trim(FromField(r.Interbyte));
    s.baud = Trim(FromField(r.Baud));
    s.dataBits = Trim(FromField(r.DataBits));
    s.parity = Trim(FromField(r.Parity));
    s.stopBits = Trim(FromField(r.StopBits));
    const auto dtr = Flag(r.DTRFlag), rts = Flag(r.RTSFlag), keep = Flag(r.ActiveInListenFlag),
               ptt = Flag(r.PTTControlFlag);
    // Stored Listen (1), or Off-line: also the entry Default (2) and no entry (-1),
    // so that a start-up never asks to reset the settings.
    if (!dtr || !rts || !keep || !ptt || r.ListenAtStart < -1 || r.ListenAtStart > 2) {
        why = kRefused;
        return std::nullopt;
    }
    s.dtr = *dtr;
    s.rts = *rts;
    s.keepPortOpen = *keep;
    s.pttControl = *ptt;
    s.listenAtStart = r.ListenAtStart == 1;
    return s;
}

void ToRecord(const StationSettings& s, SettingsRecordBuffer& r) {
    r.Reserved1 = std::string(20, ' ');
    r.Reserved2 = std::string(20, ' ');
    r.Interbyte = ToField(Trim(s.interbyte), 7);
    r.Baud = ToField(Trim(s.baud), 6);
    r.DataBits = ToField(Trim(s.dataBits), 1);
    r.Parity = ToField(Trim(s.parity), 5);
    r.StopBits = ToField(Trim(s.stopBits), 1);
    r.HostPort = ToField(Trim(s.hostPort), 5);
    r.ListenAtStart = s.listenAtStart ? 1 : 0;
    r.ComPortName = ToField(Trim(s.comPort), 6);
    r.DTRFlag = FlagDigit(s.dtr);
    r.RTSFlag = FlagDigit(s.rts);
    r.ActiveInListenFlag = FlagDigit(s.keepPortOpen);
    r.PTTControlFlag = FlagDigit(s.pttControl);
    r.BridgeFlag = FlagDigit(s.bridge);
}

}  // namespace ovrin
