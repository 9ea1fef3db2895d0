#include "settings/Settings.h"

#include "platform/Controls.h"

namespace ovrin {
namespace {

// `why` is for the log when the box has no description of its own.
void ShowOpenError(frmMain& f, const std::string& description, const std::string& why = {}) {
    f.log.Line(LogLevel::Warning,
               "Settings file " + SettingsFilePath(f) + " unusable: " + (why.empty() ? description : why) +
                   "; the defaults are used");
    f.dialogs.MsgBox(description + "\r\r" + "Unable to open " + SettingsFilePath(f) + ", using default settings.",
                     MsgButtons::OK, MsgIcon::Exclamation, "Open Error");
}

// An unusable file is copied aside before the defaults replace it, so that what it
// held can still be looked at or mended by hand. `why` says what is wrong with it.
std::string KeepUnusable(frmMain& f, const std::string& why) {
    const std::string path = SettingsFilePath(f);
    const std::string kept = path + ".bad";
    try {
        f.host.KeepCopy(path, kept);
        return why + ", kept as " + kept;
    } catch (const PlatformError& e) {
        return why + ", not kept as " + kept + " (" + e.what() + ")";
    }
}

void ApplyRecord(frmMain& f) {
    const SettingsRecordBuffer& r = f.SettingsRecord;
    f.txtHostPort.SetText(Trim(FromField(r.HostPort)));
    const std::string port = FromField(r.ComPortName);
    f.cboComPort.SetText(UpperCase(port).rfind("COM", 0) == 0 ? Trim(port) : "COM1");
    f.cboInterbyte.SetText(Trim(FromField(r.Interbyte)));
    f.cboBaud.SetText(Trim(FromField(r.Baud)));
    f.cboBits.SetText(Trim(FromField(r.DataBits)));
    f.cboParity.SetText(Trim(FromField(r.Parity)));
    f.cboStop.SetText(Trim(FromField(r.StopBits)));
    f.chkDTR.SetValue(FlagValue(r.DTRFlag));
    f.chkRTS.SetValue(FlagValue(r.RTSFlag));
    // RTS control last: its rule then clears "RTS:" and the kept-open port. Applied
    // before them, a stored kept-open port would check "RTS:", whose rule clears RTS
    // control, and the port would open with RTS raised: a keyed transmitter.
    f.chkComPortActiveInListen.SetValue(FlagValue(r.ActiveInListenFlag));
    f.chkCtrlPTT.SetValue(FlagValue(r.PTTControlFlag));
    TypeGivenSettings(f);
    f.cboConn.SetListIndex(r.ListenAtStart);
}

}  // namespace

std::string SettingsFilePath(const frmMain& f) {
    return f.host.ProgramFolder() + f.host.PathSeparator() + kSettingsFileName;
}

void LoadSettings(frmMain& f) {
    const std::string path = SettingsFilePath(f);
    int64_t length = 0;
    try {
        length = f.host.FileLen(path);
    } catch (const PlatformError& e) {
        f.log.Line(LogLevel::Info, "No settings file " + path + " (" + e.what() + "): the defaults are used");
        ApplyDefaults(f);
        return;
    }
    if (length == 0) {
        f.log.Line(LogLevel::Info, "Settings file " + path + " is empty: the defaults are used");
        ApplyDefaults(f);
        return;
    }
    if (length != static_cast<int64_t>(SettingsRecordBuffer::kLength)) {
        ShowOpenError(f, "", KeepUnusable(f, std::to_string(length) + " bytes instead of " +
                                                 std::to_string(SettingsRecordBuffer::kLength)));
        ApplyDefaults(f);
        return;
    }
    try {
        f.SettingsRecord = SettingsRecordBuffer::Decode(f.host.ReadRecord(path, SettingsRecordBuffer::kLength));
        f.log.Line(LogLevel::Info, "Settings read from " + path);
        ApplyRecord(f);
    } catch (const PlatformError& e) {
        ShowOpenError(f, e.what(), KeepUnusable(f, e.what()));
        ApplyDefaults(f);
    }
}

void ApplyDefaults(frmMain& f) {
    f.txtHostPort.SetText("50000");
    f.OnLine = false;
    f.cboComPort.SetText("COM1");
    f.cboInterbyte.SetText("100 mS");
    f.cboBaud.SetText("9600");
    f.cboBits.SetText("8");
    f.cboParity.SetText("None");
    f.cboStop.SetText("2");
    f.chkDTR.SetValue(0);
    f.chkRTS.SetValue(0);
    TypeGivenSettings(f);
    f.cboConn.SetListIndex(1);
    f.chkBridge.SetValue(0);
    SaveSettings(f);
}

void SaveSettings(frmMain& f) {
    SettingsRecordBuffer& r = f.SettingsRecord;
    try {
        r.Reserved1 = std::string(20, ' ');
        r.Reserved2 = std::string(20, ' ');
        r.Interbyte = ToField(Trim(f.cboInterbyte.Text()), 7);
        r.Baud = ToField(Trim(f.cboBaud.Text()), 6);
        r.DataBits = ToField(Trim(f.cboBits.Text()), 1);
        r.Parity = ToField(Trim(f.cboParity.Text()), 5);
        r.StopBits = ToField(Trim(f.cboStop.Text()), 1);
        r.HostPort = ToField(Trim(f.txtHostPort.Text()), 5);
        r.ListenAtStart = (f.cboConn.ListIndex() == 1 || f.Status == ConnectionState::Serving) ? 1 : 0;
        r.ComPortName = ToField(Trim(f.cboComPort.Text()), 6);
        r.DTRFlag = FlagDigit(f.chkDTR.Value());
        r.RTSFlag = FlagDigit(f.chkRTS.Value());
        r.ActiveInListenFlag = FlagDigit(f.chkComPortActiveInListen.Value());
        r.PTTControlFlag = FlagDigit(f.chkCtrlPTT.Value());
        r.BridgeFlag = FlagDigit(f.chkBridge.Value());
        // Replaced in one step: a failed write leaves the previous file in place.
        f.host.WriteRecord(SettingsFilePath(f), r.Encode());
        f.log.Line(LogLevel::Info, "Settings saved to " + SettingsFilePath(f));
    } catch (const PlatformError& e) {
        f.log.Line(LogLevel::Error, "Settings not saved to " + SettingsFilePath(f) + ": " + e.what());
        f.dialogs.MsgBox(std::string(e.what()) + "\r\r" + "Unable to save " + SettingsFilePath(f) + ".",
                         MsgButtons::OK, MsgIcon::Exclamation, "Save Initialize File Error");
    }
}

}  // namespace ovrin
