#include "settings/Settings.h"

#include "station/OptionsText.h"

namespace ovrin {
namespace {

// Without a person at the window the log line says it all: the box would repeat it.
void ShowOpenError(Station& station, const std::string& description, const std::string& why) {
    station.log.Line(LogLevel::Warning, "Settings file " + SettingsFilePath(station) + " unusable: " + why +
                                      "; the defaults are used");
    if (station.dialogs.Attended())
        station.dialogs.MsgBox(description + "\r\r" + "Unable to open " + SettingsFilePath(station) + ", using default settings.",
                         MsgButtons::OK, MsgIcon::Exclamation, "Open Error");
}

// An unusable file is copied aside before the defaults replace it, so that what it
// held can still be looked at or mended by hand. `why` says what is wrong with it.
std::string KeepUnusable(Station& station, const std::string& why, const std::string& path) {
    const std::string kept = path + ".bad";
    try {
        station.host.KeepCopy(path, kept);
        return why + ", kept as " + kept;
    } catch (const PlatformError& e) {
        return why + ", not kept as " + kept + " (" + e.what() + ")";
    }
}

LoadedSettings Defaults(Station& station) {
    ApplyDefaults(station);
    return {true, true};
}

// The stored settings, or the description of why they cannot be used.
std::optional<StationSettings> ReadStored(Station& station, const std::string& path, std::string& why) {
    try {
        station.SettingsRecord = SettingsRecordBuffer::Decode(station.host.ReadRecord(path, SettingsRecordBuffer::kLength));
    } catch (const PlatformError& e) {
        why = e.what();
        return std::nullopt;
    }
    return FromRecord(station.SettingsRecord, station.settings, why);
}

// The whole of a text file, or nothing when it cannot be read or is too long to
// be one (`why` then says so).
std::optional<std::string> ReadText(Station& station, const std::string& path, std::string& why) {
    try {
        const int64_t length = station.host.FileLen(path);
        if (length > static_cast<int64_t>(kMostOptionsBytes)) {
            why = std::to_string(length) + " bytes, more than an options file holds";
            return std::nullopt;
        }
        return station.host.ReadRecord(path, static_cast<std::size_t>(length));
    } catch (const PlatformError& e) {
        why = e.what();
        return std::nullopt;
    }
}

// The options file over the options the window has: a line that cannot be used is
// told and skipped, the others are taken. A missing file is a first start. One
// that cannot be read is left as it is, for the user to mend, and lets no client
// in: its allow-list may be what keeps the transmitter from strangers.
void LoadOptions(Station& station) {
    const std::string path = OptionsFilePath(station);
    try {
        station.host.FileLen(path);
    } catch (const PlatformError&) {
        return;
    }
    std::string why;
    const std::optional<std::string> text = ReadText(station, path, why);
    if (!text) {
        ServerOptions options = station.settings.options;
        options.allow = kAllowUnread;
        station.TakeOptions(options);
        station.log.Line(LogLevel::Error, "Options file " + path + " not read: " + why +
                                        "; no client is let in until it is mended or --allow is given");
        return;
    }
    const ReadOptions read = ReadOptionsFile(*text, station.settings.options);
    for (const std::string& skipped : read.skipped)
        station.log.Line(LogLevel::Warning, "Options file " + path + ", " + skipped + ": skipped");
    if (read.shut)
        station.log.Line(LogLevel::Error, "Options file " + path + ", " + *read.shut +
                                        ": no client is let in until it is mended or --allow is given");
    for (const std::string& doubled : read.doubled)
        station.log.Line(LogLevel::Warning, "Options file " + path + ": " + doubled);
    station.TakeOptions(read.options);
    station.log.Line(LogLevel::Info, "Options read from " + path);
}

// A file that is there but cannot be read is not replaced: what the user wrote in
// it would be lost.
void SaveOptions(Station& station) {
    const std::string path = OptionsFilePath(station);
    bool exists = true;
    try {
        station.host.FileLen(path);
    } catch (const PlatformError&) {
        exists = false;
    }
    std::string why;
    const std::optional<std::string> previous = exists ? ReadText(station, path, why) : std::string();
    if (!previous) {
        station.log.Line(LogLevel::Warning, "Options file " + path + " not written: " + why + "; mend it or remove it");
        return;
    }
    station.host.WriteRecord(path, WriteOptionsFile(station.settings.options, *previous, station.host.PathSeparator() == '\\' ? "\r\n" : "\n"));
}

}  // namespace

std::string SettingsFilePath(const Station& station) {
    return station.host.ProgramFolder() + station.host.PathSeparator() + kSettingsFileName;
}

std::string OptionsFilePath(const Station& station) {
    return station.host.ProgramFolder() + station.host.PathSeparator() + kOptionsFileName;
}

// The record over the options read, with what the command line gives over both.
static LoadedSettings LoadRecord(Station& station) {
    const std::string path = SettingsFilePath(station);
    int64_t length = 0;
    try {
        length = station.host.FileLen(path);
    } catch (const PlatformError& e) {
        station.log.Line(LogLevel::Info, "No settings file " + path + " (" + e.what() + "): the defaults are used");
        return Defaults(station);
    }
    if (length == 0) {
        station.log.Line(LogLevel::Info, "Settings file " + path + " is empty: the defaults are used");
        return Defaults(station);
    }
    if (length != static_cast<int64_t>(SettingsRecordBuffer::kLength)) {
        ShowOpenError(station, "", KeepUnusable(station, std::to_string(length) + " bytes instead of " +
                                                 std::to_string(SettingsRecordBuffer::kLength), path));
        return Defaults(station);
    }
    std::string why;
    const std::optional<StationSettings> stored = ReadStored(station, path, why);
    if (!stored) {
        ShowOpenError(station, why, KeepUnusable(station, why, path));
        return Defaults(station);
    }
    station.log.Line(LogLevel::Info, "Settings read from " + path);
    station.ChangeSettings(WithGiven(Normalised(*stored), station.Given));
    return {stored->listenAtStart, false};
}

LoadedSettings LoadSettings(Station& station) {
    LoadOptions(station);
    const LoadedSettings loaded = LoadRecord(station);
    station.log.Line(LogLevel::Info, "Options in effect: " + OptionsInEffect(station.settings.options));
    return loaded;
}

void ApplyDefaults(Station& station) {
    station.ChangeSettings(WithGiven(DefaultSettings(station.settings), station.Given));
}

void SaveSettings(Station& station) {
    StationSettings s = station.settings;
    s.listenAtStart = !station.state.OffLine();
    // Each file replaced in one step: a failed write leaves the previous file in place.
    std::string path = SettingsFilePath(station);
    try {
        ToRecord(s, station.SettingsRecord);
        station.host.WriteRecord(path, station.SettingsRecord.Encode());
        path = OptionsFilePath(station);
        SaveOptions(station);
        station.log.Line(LogLevel::Info, "Settings saved to " + SettingsFilePath(station) + " and " + kOptionsFileName);
    } catch (const PlatformError& e) {
        station.log.Line(LogLevel::Error, "Settings not saved to " + path + ": " + e.what());
        if (station.dialogs.Attended())
            station.dialogs.MsgBox(std::string(e.what()) + "\r\r" + "Unable to save " + path + ".", MsgButtons::OK,
                             MsgIcon::Exclamation, "Save Initialize File Error");
    }
}

}  // namespace ovrin
