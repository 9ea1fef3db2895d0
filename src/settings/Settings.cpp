#include "settings/Settings.h"

namespace ovrin {
namespace {

void ShowOpenError(frmMain& f, const std::string& description, const std::string& why) {
    f.log.Line(LogLevel::Warning, "Settings file " + SettingsFilePath(f) + " unusable: " + why +
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

LoadedSettings Defaults(frmMain& f) {
    ApplyDefaults(f);
    return {true, true};
}

// The stored settings, or the description of why they cannot be used.
std::optional<StationSettings> ReadStored(frmMain& f, const std::string& path, std::string& why) {
    try {
        f.SettingsRecord = SettingsRecordBuffer::Decode(f.host.ReadRecord(path, SettingsRecordBuffer::kLength));
    } catch (const PlatformError& e) {
        why = e.what();
        return std::nullopt;
    }
    return FromRecord(f.SettingsRecord, f.Settings(), why);
}

}  // namespace

std::string SettingsFilePath(const frmMain& f) {
    return f.host.ProgramFolder() + f.host.PathSeparator() + kSettingsFileName;
}

LoadedSettings LoadSettings(frmMain& f) {
    const std::string path = SettingsFilePath(f);
    int64_t length = 0;
    try {
        length = f.host.FileLen(path);
    } catch (const PlatformError& e) {
        f.log.Line(LogLevel::Info, "No settings file " + path + " (" + e.what() + "): the defaults are used");
        return Defaults(f);
    }
    if (length == 0) {
        f.log.Line(LogLevel::Info, "Settings file " + path + " is empty: the defaults are used");
        return Defaults(f);
    }
    if (length != static_cast<int64_t>(SettingsRecordBuffer::kLength)) {
        ShowOpenError(f, "", KeepUnusable(f, std::to_string(length) + " bytes instead of " +
                                                 std::to_string(SettingsRecordBuffer::kLength)));
        return Defaults(f);
    }
    std::string why;
    const std::optional<StationSettings> stored = ReadStored(f, path, why);
    if (!stored) {
        ShowOpenError(f, why, KeepUnusable(f, why));
        return Defaults(f);
    }
    f.log.Line(LogLevel::Info, "Settings read from " + path);
    f.ShowSettings(WithGiven(Normalised(*stored), f.Given));
    return {stored->listenAtStart, false};
}

void ApplyDefaults(frmMain& f) {
    f.ShowSettings(WithGiven(DefaultSettings(f.Settings()), f.Given));
}

void SaveSettings(frmMain& f) {
    StationSettings s = f.Settings();
    s.listenAtStart = !f.state.OffLine();
    try {
        ToRecord(s, f.SettingsRecord);
        // Replaced in one step: a failed write leaves the previous file in place.
        f.host.WriteRecord(SettingsFilePath(f), f.SettingsRecord.Encode());
        f.log.Line(LogLevel::Info, "Settings saved to " + SettingsFilePath(f));
    } catch (const PlatformError& e) {
        f.log.Line(LogLevel::Error, "Settings not saved to " + SettingsFilePath(f) + ": " + e.what());
        f.dialogs.MsgBox(std::string(e.what()) + "\r\r" + "Unable to save " + SettingsFilePath(f) + ".",
                         MsgButtons::OK, MsgIcon::Exclamation, "Save Initialize File Error");
    }
}

}  // namespace ovrin
