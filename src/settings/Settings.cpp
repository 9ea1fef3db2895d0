#include "settings/Settings.h"

#include "station/OptionsText.h"

namespace ovrin {
namespace {

// Without a person at the window the log line says it all: the box would repeat it.
void ShowOpenError(frmMain& f, const std::string& description, const std::string& why) {
    f.station.log.Line(LogLevel::Warning, "Settings file " + SettingsFilePath(f) + " unusable: " + why +
                                      "; the defaults are used");
    if (f.station.dialogs.Attended())
        f.station.dialogs.MsgBox(description + "\r\r" + "Unable to open " + SettingsFilePath(f) + ", using default settings.",
                         MsgButtons::OK, MsgIcon::Exclamation, "Open Error");
}

// An unusable file is copied aside before the defaults replace it, so that what it
// held can still be looked at or mended by hand. `why` says what is wrong with it.
std::string KeepUnusable(frmMain& f, const std::string& why, const std::string& path) {
    const std::string kept = path + ".bad";
    try {
        f.station.host.KeepCopy(path, kept);
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
        f.station.SettingsRecord = SettingsRecordBuffer::Decode(f.station.host.ReadRecord(path, SettingsRecordBuffer::kLength));
    } catch (const PlatformError& e) {
        why = e.what();
        return std::nullopt;
    }
    return FromRecord(f.station.SettingsRecord, f.station.settings, why);
}

// The whole of a text file, or nothing when it cannot be read or is too long to
// be one (`why` then says so).
std::optional<std::string> ReadText(frmMain& f, const std::string& path, std::string& why) {
    try {
        const int64_t length = f.station.host.FileLen(path);
        if (length > static_cast<int64_t>(kMostOptionsBytes)) {
            why = std::to_string(length) + " bytes, more than an options file holds";
            return std::nullopt;
        }
        return f.station.host.ReadRecord(path, static_cast<std::size_t>(length));
    } catch (const PlatformError& e) {
        why = e.what();
        return std::nullopt;
    }
}

// The options file over the options the window has: a line that cannot be used is
// told and skipped, the others are taken. A missing file is a first start. One
// that cannot be read is left as it is, for the user to mend, and lets no client
// in: its allow-list may be what keeps the transmitter from strangers.
void LoadOptions(frmMain& f) {
    const std::string path = OptionsFilePath(f);
    try {
        f.station.host.FileLen(path);
    } catch (const PlatformError&) {
        return;
    }
    std::string why;
    const std::optional<std::string> text = ReadText(f, path, why);
    if (!text) {
        ServerOptions options = f.station.settings.options;
        options.allow = kAllowUnread;
        f.station.TakeOptions(options);
        f.station.log.Line(LogLevel::Error, "Options file " + path + " not read: " + why +
                                        "; no client is let in until it is mended or --allow is given");
        return;
    }
    const ReadOptions read = ReadOptionsFile(*text, f.station.settings.options);
    for (const std::string& skipped : read.skipped)
        f.station.log.Line(LogLevel::Warning, "Options file " + path + ", " + skipped + ": skipped");
    if (read.shut)
        f.station.log.Line(LogLevel::Error, "Options file " + path + ", " + *read.shut +
                                        ": no client is let in until it is mended or --allow is given");
    for (const std::string& doubled : read.doubled)
        f.station.log.Line(LogLevel::Warning, "Options file " + path + ": " + doubled);
    f.station.TakeOptions(read.options);
    f.station.log.Line(LogLevel::Info, "Options read from " + path);
}

// A file that is there but cannot be read is not replaced: what the user wrote in
// it would be lost.
void SaveOptions(frmMain& f) {
    const std::string path = OptionsFilePath(f);
    bool exists = true;
    try {
        f.station.host.FileLen(path);
    } catch (const PlatformError&) {
        exists = false;
    }
    std::string why;
    const std::optional<std::string> previous = exists ? ReadText(f, path, why) : std::string();
    if (!previous) {
        f.station.log.Line(LogLevel::Warning, "Options file " + path + " not written: " + why + "; mend it or remove it");
        return;
    }
    f.station.host.WriteRecord(path, WriteOptionsFile(f.station.settings.options, *previous, f.station.host.PathSeparator() == '\\' ? "\r\n" : "\n"));
}

}  // namespace

std::string SettingsFilePath(const frmMain& f) {
    return f.station.host.ProgramFolder() + f.station.host.PathSeparator() + kSettingsFileName;
}

std::string OptionsFilePath(const frmMain& f) {
    return f.station.host.ProgramFolder() + f.station.host.PathSeparator() + kOptionsFileName;
}

// The record over the options read, with what the command line gives over both.
static LoadedSettings LoadRecord(frmMain& f) {
    const std::string path = SettingsFilePath(f);
    int64_t length = 0;
    try {
        length = f.station.host.FileLen(path);
    } catch (const PlatformError& e) {
        f.station.log.Line(LogLevel::Info, "No settings file " + path + " (" + e.what() + "): the defaults are used");
        return Defaults(f);
    }
    if (length == 0) {
        f.station.log.Line(LogLevel::Info, "Settings file " + path + " is empty: the defaults are used");
        return Defaults(f);
    }
    if (length != static_cast<int64_t>(SettingsRecordBuffer::kLength)) {
        ShowOpenError(f, "", KeepUnusable(f, std::to_string(length) + " bytes instead of " +
                                                 std::to_string(SettingsRecordBuffer::kLength), path));
        return Defaults(f);
    }
    std::string why;
    const std::optional<StationSettings> stored = ReadStored(f, path, why);
    if (!stored) {
        ShowOpenError(f, why, KeepUnusable(f, why, path));
        return Defaults(f);
    }
    f.station.log.Line(LogLevel::Info, "Settings read from " + path);
    f.station.ChangeSettings(WithGiven(Normalised(*stored), f.station.Given));
    return {stored->listenAtStart, false};
}

LoadedSettings LoadSettings(frmMain& f) {
    LoadOptions(f);
    const LoadedSettings loaded = LoadRecord(f);
    f.station.log.Line(LogLevel::Info, "Options in effect: " + OptionsInEffect(f.station.settings.options));
    return loaded;
}

void ApplyDefaults(frmMain& f) {
    f.station.ChangeSettings(WithGiven(DefaultSettings(f.station.settings), f.station.Given));
}

void SaveSettings(frmMain& f) {
    StationSettings s = f.station.settings;
    s.listenAtStart = !f.station.state.OffLine();
    // Each file replaced in one step: a failed write leaves the previous file in place.
    std::string path = SettingsFilePath(f);
    try {
        ToRecord(s, f.station.SettingsRecord);
        f.station.host.WriteRecord(path, f.station.SettingsRecord.Encode());
        path = OptionsFilePath(f);
        SaveOptions(f);
        f.station.log.Line(LogLevel::Info, "Settings saved to " + SettingsFilePath(f) + " and " + kOptionsFileName);
    } catch (const PlatformError& e) {
        f.station.log.Line(LogLevel::Error, "Settings not saved to " + path + ": " + e.what());
        if (f.station.dialogs.Attended())
            f.station.dialogs.MsgBox(std::string(e.what()) + "\r\r" + "Unable to save " + path + ".", MsgButtons::OK,
                             MsgIcon::Exclamation, "Save Initialize File Error");
    }
}

}  // namespace ovrin
