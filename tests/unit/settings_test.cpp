// The 1033-byte settings record: its layout, what a load makes of any file, what a
// save keeps (ON-LINE as Listen, Bridge as shown, the reserved bytes), and a save
// that never follows a planted link.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include <unistd.h>

#include "platform/std/FileHost.h"
#include "settings/Settings.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::SimApp;
namespace fs = std::filesystem;

// An empty folder of its own under the system's temporary one.
fs::path FreshFolder(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() / (name + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

SettingsRecordBuffer StoredRecord() {
    SettingsRecordBuffer r{.Reserved1 = std::string(20, ' '), .Reserved2 = std::string(20, ' '),
                           .Interbyte = ToField("250 mS", 7), .Baud = ToField("4800", 6), .DataBits = ToField("7", 1),
                           .Parity = ToField("Odd", 5), .StopBits = ToField("1", 1), .HostPort = ToField("4532", 5),
                           .ListenAtStart = 0, .ComPortName = ToField("com3", 6), .DTRFlag = "1", .RTSFlag = "0",
                           .ActiveInListenFlag = "0", .PTTControlFlag = "1", .BridgeFlag = "1"};
    for (std::size_t i = 0; i < r.Reserved3.size(); ++i) r.Reserved3[i] = static_cast<char>(i * 7);
    return r;
}

TEST(SettingsRecord, EveryFieldAtItsOffsetInSingleBytesBlankFilledAndCut) {
    const Bytes b = StoredRecord().Encode();
    ASSERT_EQ(b.size(), 1033u);
    EXPECT_EQ(b.substr(0, 78),
              std::string(40, ' ') + "250 mS 4800  7Odd  14532 " + std::string(2, '\0') + "com3  10011");
    EXPECT_EQ(static_cast<unsigned char>(b[79]), 7u);
    EXPECT_EQ(SettingsRecordBuffer::Decode(b).Encode(), b);
    EXPECT_EQ(ToField("COM123456", 6), "COM123");
    EXPECT_EQ(ToField("\xC3\xA9t\xE2\x82\xAC", 4), "\xE9t? ");  // é kept, € has no single byte
    EXPECT_EQ(FromField("\xE9"), "\xC3\xA9");
    EXPECT_EQ(SettingsRecordBuffer::Decode(SettingsRecordBuffer{.ListenAtStart = -2}.Encode()).ListenAtStart, -2);
}

TEST(LoadSettings, StoredValuesAreAppliedAndWhatNoControlHoldsIsSavedAgain) {
    SimApp app;
    app.host.files[app.SettingsPath()] = StoredRecord().Encode();
    app.Load();
    const frmMain& f = app.f;
    EXPECT_TRUE(app.dialogs.shown.empty());
    EXPECT_EQ(f.txtHostPort.Text() + f.cboComPort.Text() + f.cboInterbyte.Text() + f.cboBaud.Text() +
                  f.cboBits.Text() + f.cboParity.Text() + f.cboStop.Text(),
              "4532com3250 mS48007Odd1");
    // DTR, RTS, RTS control, Bridge (stored but never restored), Off-line, nothing written.
    EXPECT_EQ(std::vector<int>({f.chkDTR.Value(), f.chkRTS.Value(), f.chkCtrlPTT.Value(), f.chkBridge.Value(),
                                f.cboConn.ListIndex(), app.host.writes}),
              std::vector<int>({1, 0, 1, 0, 0, 0}));
    app.com.existing.insert(3);
    app.f.cboConn.SetListIndex(1);
    ASSERT_TRUE(app.sockets.RequestConnection());
    SaveSettings(app.f.station);
    const Bytes saved = app.host.files.at(app.SettingsPath());
    EXPECT_EQ(saved[65], 1);  // ON-LINE is stored as Listen
    EXPECT_EQ(saved.substr(77), "0" + StoredRecord().Reserved3);  // Bridge as shown, the reserved bytes kept
}

// Given settings over stored ones (DTR:, RTS control): the given boxes exactly as
// given, the window's rules acting on the others; the line reaches port and file.
TEST(GivenSettings, TypedOverTheStoredOnesBeforeListenAndSaved) {
    const struct {
        int keep, rts, dtr, ptt;  // given (-1: not)
        std::string saved;        // DTR, RTS, kept open, RTS control
    } rows[] = {{1, 0, 1, 1, "1011"}, {1, -1, -1, -1, "1110"}, {-1, 1, -1, 0, "1100"}, {-1, -1, -1, -1, "1001"}};
    for (const auto& r : rows) {
        SimApp app;
        app.host.files[app.SettingsPath()] = StoredRecord().Encode();
        app.f.station.Given = {"50001", "COM1", "4800", "Mark", "7", "1.5", r.dtr, r.rts, r.ptt, r.keep, {}};
        app.Load();
        app.f.cboConn.SetListIndex(1);
        EXPECT_EQ(app.com.PortOpen(), r.saved[2] == '1');
        if (app.com.PortOpen()) {
            EXPECT_EQ(app.com.Settings(), "4800,m,7,1.5");
            EXPECT_EQ(std::pair(app.com.DTREnable(), app.com.RTSEnable()),
                      std::pair(r.saved[0] == '1', r.saved[1] == '1' && r.saved[3] == '0'));
        }
        SaveSettings(app.f.station);
        const Bytes saved = app.host.files.at(app.SettingsPath());
        EXPECT_EQ(saved.substr(47, 18), "4800  7Mark 150001");  // 1.5 stop bits kept as 1: one character
        EXPECT_EQ(saved.substr(67, 10), "COM1  " + r.saved) << r.keep << r.rts << r.dtr << r.ptt;
    }
}

// Any file that cannot be used gives the defaults, listening, saved at once; all but
// a missing or empty one are reported first, and kept aside as they were.
TEST(LoadSettings, AFileThatCannotBeUsedGivesTheDefaults) {
    const auto stored = [](std::function<void(SettingsRecordBuffer&)> change) {
        SettingsRecordBuffer r = StoredRecord();
        change(r);
        return r.Encode();
    };
    const struct {
        const char* name;
        std::optional<Bytes> file;
        bool reported;
    } rows[] = {
        {"none", std::nullopt, false},
        {"empty", Bytes(), false},
        {"1032 bytes", StoredRecord().Encode().substr(0, 1032), true},
        {"1034 bytes", StoredRecord().Encode() + "x", true},
        {"flag 7", stored([](SettingsRecordBuffer& r) { r.DTRFlag = "7"; }), true},
        {"Listen index 7", stored([](SettingsRecordBuffer& r) { r.ListenAtStart = 7; }), true},
        {"unreadable", StoredRecord().Encode(), true},
    };
    for (const auto& row : rows) {
        SimApp app;
        if (row.file) app.host.files[app.SettingsPath()] = *row.file;
        const bool unreadable = std::string(row.name) == "unreadable";
        app.host.failRead = unreadable;
        app.Load();
        SCOPED_TRACE(row.name);
        EXPECT_EQ(app.dialogs.Titles(), row.reported ? "Open Error;" : "");
        const std::string bad = app.SettingsPath() + ".bad";
        EXPECT_EQ(app.host.files[bad], row.reported && !unreadable ? *row.file : "");
        EXPECT_EQ(app.log.Has({"kept as " + bad}), row.reported);
        EXPECT_EQ(app.f.txtHostPort.Text() + app.f.cboComPort.Text() + app.f.cboBaud.Text(), "50000COM19600");
        EXPECT_EQ(app.sockets.Element(0).State(), sckListening);
        const Bytes& file = app.host.files.at(app.SettingsPath());
        EXPECT_EQ(std::tuple(file.size(), file[65]), std::tuple(1033u, 1));  // Listen
    }
}

TEST(SettingsFile, ALinkPlantedAtTheTemporaryNameIsNotFollowed) {
    const fs::path dir = FreshFolder("ovrin-save");
    std::ofstream(dir / "victim") << "keep";
    std::ofstream(dir / "Ovrin-Bridge.ini") << "old";  // replaced in one step
    std::error_code noLinks;  // Windows builds: a file left by a save cut short instead
    fs::create_symlink(dir / "victim", dir / "Ovrin-Bridge.ini.new", noLinks);
    if (noLinks) std::ofstream(dir / "Ovrin-Bridge.ini.new") << "left";
    FileHost(dir.string(), 1, 10, 1, {}).WriteRecord((dir / "Ovrin-Bridge.ini").string(), Bytes(1033, 'x'));
    EXPECT_EQ(std::tuple(fs::file_size(dir / "victim"), fs::file_size(dir / "Ovrin-Bridge.ini"),
                         fs::is_symlink(dir / "Ovrin-Bridge.ini")),
              std::tuple(4u, 1033u, false));
    fs::remove_all(dir);
}

// A settings file that is a link stays one: the file it leads to is replaced, in
// its own folder, keeping its permissions. A copy kept aside is a plain file.
TEST(SettingsFile, ALinkedFileIsReplacedWhereItLeads) {
    const fs::path dir = FreshFolder("ovrin-link");
    fs::create_directories(dir / "shared");
    std::ofstream(dir / "shared" / "radio.ini") << "old";
    fs::permissions(dir / "shared" / "radio.ini", fs::perms::owner_read);
    std::error_code noLinks;
    fs::create_symlink("shared/radio.ini", dir / "Ovrin-Bridge.ini", noLinks);
    if (noLinks) GTEST_SKIP() << noLinks.message();
    FileHost host(dir.string(), 1, 10, 1, {});
    host.WriteRecord((dir / "Ovrin-Bridge.ini").string(), Bytes(1033, 'x'));
    host.KeepCopy((dir / "Ovrin-Bridge.ini").string(), (dir / "Ovrin-Bridge.ini.bad").string());
    EXPECT_TRUE(fs::is_symlink(dir / "Ovrin-Bridge.ini") && !fs::is_symlink(dir / "Ovrin-Bridge.ini.bad"));
    EXPECT_EQ(fs::file_size(dir / "shared" / "radio.ini") + fs::file_size(dir / "Ovrin-Bridge.ini.bad"), 2066u);
    EXPECT_EQ(fs::status(dir / "shared" / "radio.ini").permissions() & fs::perms::all, fs::perms::owner_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "shared"), {}), 1);  // no temporary file left
    fs::remove_all(dir);
}

}  // namespace
}  // namespace ovrin
