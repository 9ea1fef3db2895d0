#include <gtest/gtest.h>

#include "settings/Settings.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::SimApp;

SettingsRecordBuffer StoredRecord() {
    SettingsRecordBuffer r;
    r.Reserved1 = r.Reserved2 = std::string(20, ' ');
    r.Interbyte = ToField("250 mS", 7);
    r.Baud = ToField("4800", 6);
    r.DataBits = ToField("7", 1);
    r.Parity = ToField("Odd", 5);
    r.StopBits = ToField("1", 1);
    r.HostPort = ToField("4532", 5);
    r.ListenAtStart = 0;
    r.ComPortName = ToField("com3", 6);
    r.DTRFlag = "1";
    r.RTSFlag = "0";
    r.ActiveInListenFlag = "0";
    r.PTTControlFlag = "1";
    r.BridgeFlag = "1";
    for (std::size_t i = 0; i < r.Reserved3.size(); ++i) r.Reserved3[i] = static_cast<char>(i * 7);
    return r;
}

TEST(SettingsRecord, EncodesEveryFieldAtItsOffset) {
    const Bytes b = StoredRecord().Encode();
    ASSERT_EQ(b.size(), 1033u);
    EXPECT_EQ(b.substr(0, 40), std::string(40, ' '));
    EXPECT_EQ(b.substr(40, 7), "250 mS ");
    EXPECT_EQ(b.substr(47, 6), "4800  ");
    EXPECT_EQ(b.substr(53, 1), "7");
    EXPECT_EQ(b.substr(54, 5), "Odd  ");
    EXPECT_EQ(b.substr(59, 1), "1");
    EXPECT_EQ(b.substr(60, 5), "4532 ");
    EXPECT_EQ(b.substr(65, 2), std::string("\0\0", 2));
    EXPECT_EQ(b.substr(67, 6), "com3  ");
    EXPECT_EQ(b.substr(73, 5), "10011");
    EXPECT_EQ(static_cast<unsigned char>(b[78 + 1]), 7u);
    EXPECT_EQ(SettingsRecordBuffer::Decode(b).Encode(), b);
}

TEST(SettingsRecord, FieldsAreBlankFilledCutAtWidthAndSingleByte) {
    EXPECT_EQ(ToField("COM123456", 6), "COM123");
    EXPECT_EQ(ToField("115200", 6), "115200");
    EXPECT_EQ(ToField("", 3), "   ");
    EXPECT_EQ(ToField("\xC3\xA9t\xE2\x82\xAC", 4), "\xE9t? ");  // é kept, € has no single byte
    EXPECT_EQ(FromField("\xE9"), "\xC3\xA9");
    SettingsRecordBuffer r;
    r.ListenAtStart = -2;
    EXPECT_EQ(SettingsRecordBuffer::Decode(r.Encode()).ListenAtStart, -2);
    EXPECT_EQ(FlagValue("7"), 7);
    EXPECT_EQ(FlagValue(" "), 0);
    EXPECT_EQ(FlagValue(std::string(1, '\0')), 0);
    EXPECT_EQ(FlagValue("x"), 0);
}

TEST(LoadSettings, FirstRunAppliesDefaultsListensAndWritesTheFile) {
    SimApp app;
    app.Load();
    auto& f = app.f;
    EXPECT_EQ(f.Form.Caption(), "Ovrin-Server v1.10.01");
    EXPECT_TRUE(app.dialogs.shown.empty());
    EXPECT_EQ(f.cboConn.Text(), "Listen");
    EXPECT_EQ(app.sockets.Element(0).State(), sckListening);
    EXPECT_EQ(app.sockets.Element(0).LocalPort(), 50000);
    EXPECT_EQ(f.cboComPort.Text(), "COM1");
    EXPECT_EQ(f.cboBaud.Text() + f.cboBits.Text() + f.cboParity.Text() + f.cboStop.Text() + f.cboInterbyte.Text(),
              "96008None2100 mS");
    EXPECT_EQ(f.chkDTR.Value() + f.chkRTS.Value(), 0);
    // The box keeps its initial value and, checked, opens the port with Listen.
    EXPECT_EQ(f.chkComPortActiveInListen.Value(), 1);
    EXPECT_TRUE(app.com.PortOpen());
    const Bytes& file = app.host.files.at(app.SettingsPath());
    ASSERT_EQ(file.size(), 1033u);
    EXPECT_EQ(file[65], 1);
    EXPECT_EQ(file.substr(78), Bytes(955, '\0'));
}

TEST(LoadSettings, StoredValuesAreApplied) {
    SimApp app;
    app.host.files[app.SettingsPath()] = StoredRecord().Encode();
    app.Load();
    auto& f = app.f;
    EXPECT_TRUE(app.dialogs.shown.empty());
    EXPECT_EQ(f.txtHostPort.Text(), "4532");
    EXPECT_EQ(f.cboComPort.Text(), "com3");  // stored case kept
    EXPECT_EQ(f.cboInterbyte.Text(), "250 mS");
    EXPECT_EQ(f.cboBaud.Text(), "4800");
    EXPECT_EQ(f.cboParity.Text(), "Odd");
    EXPECT_EQ(f.chkDTR.Value(), 1);
    EXPECT_EQ(f.chkCtrlPTT.Value(), 1);
    EXPECT_EQ(f.chkBridge.Value(), 0);  // stored but never restored
    EXPECT_EQ(f.cboConn.ListIndex(), 0);
    EXPECT_EQ(app.sockets.Element(0).State(), sckClosed);
    EXPECT_EQ(app.host.writes, 0);  // a good file is not rewritten
}

TEST(LoadSettings, PortNamesThatDoNotBeginWithComGiveCom1) {
    for (const char* stored : {"USB1", "XCOM1", "      "}) {
        SimApp app;
        auto r = StoredRecord();
        r.ComPortName = ToField(stored, 6);
        app.host.files[app.SettingsPath()] = r.Encode();
        app.Load();
        EXPECT_EQ(app.f.cboComPort.Text(), "COM1") << stored;
    }
}

TEST(LoadSettings, WrongLengthIsDeletedReportedAndReplaced) {
    for (std::size_t length : {1032u, 1034u}) {
        SimApp app;
        app.host.files[app.SettingsPath()] = Bytes(length, 'x');
        app.Load();
        ASSERT_EQ(app.dialogs.shown.size(), 1u);
        const auto& box = app.dialogs.shown[0];
        EXPECT_EQ(box.title, "Open Error");
        EXPECT_EQ(box.icon, MsgIcon::Exclamation);
        EXPECT_EQ(box.text, "\r\rUnable to open /sim/prog/Ovrin-Bridge.ini, using default settings.");
        EXPECT_EQ(app.host.files.at(app.SettingsPath()).size(), 1033u);
        EXPECT_EQ(app.f.cboConn.Text(), "Listen");
    }
}

TEST(LoadSettings, MissingOrEmptyFileGivesDefaultsSilently) {
    SimApp app;
    app.host.files[app.SettingsPath()] = "";
    app.Load();
    EXPECT_TRUE(app.dialogs.shown.empty());
    EXPECT_EQ(app.host.files.at(app.SettingsPath()).size(), 1033u);
}

TEST(LoadSettings, RefusedFlagAppliesDefaultsOverWhatWasLoaded) {
    SimApp app;
    app.f.chkCtrlPTT.SetValue(1);
    app.f.chkComPortActiveInListen.SetValue(0);
    auto r = StoredRecord();
    r.DTRFlag = "7";
    app.host.files[app.SettingsPath()] = r.Encode();
    app.Load();
    ASSERT_EQ(app.dialogs.shown.size(), 1u);
    EXPECT_EQ(app.dialogs.shown[0].text.rfind("Invalid property value\r\rUnable to open ", 0), 0u);
    EXPECT_EQ(app.f.txtHostPort.Text(), "50000");
    EXPECT_EQ(app.f.cboComPort.Text(), "COM1");
    EXPECT_EQ(app.f.cboBaud.Text(), "9600");
    EXPECT_EQ(app.f.chkCtrlPTT.Value(), 1);  // not reached, not reset by the defaults
    EXPECT_EQ(app.f.cboConn.Text(), "Listen");
}

TEST(LoadSettings, OutOfRangeListIndexAndUnreadableFileFallBackToDefaults) {
    {
        SimApp app;
        auto r = StoredRecord();
        r.ListenAtStart = 7;
        app.host.files[app.SettingsPath()] = r.Encode();
        app.Load();
        ASSERT_EQ(app.dialogs.shown.size(), 1u);
        EXPECT_EQ(app.f.cboConn.Text(), "Listen");
        EXPECT_EQ(app.f.cboBaud.Text(), "9600");
    }
    {
        SimApp app;
        app.host.files[app.SettingsPath()] = StoredRecord().Encode();
        app.host.failRead = true;
        app.Load();
        ASSERT_EQ(app.dialogs.shown.size(), 1u);
        EXPECT_EQ(app.dialogs.shown[0].text.rfind("Permission denied\r\r", 0), 0u);
    }
}

TEST(LoadSettings, ArbitraryBytesNeverCrashAndEndInValuesOrDefaults) {
    uint32_t seed = 12345;
    for (int round = 0; round < 200; ++round) {
        Bytes junk(1033, '\0');
        for (char& c : junk) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
        SimApp app;
        app.dialogs.answers.assign(4, MsgResult::No);
        app.host.files[app.SettingsPath()] = junk;
        app.Load();
        const bool defaults = !app.dialogs.shown.empty() && app.dialogs.shown[0].title == "Open Error";
        if (defaults) EXPECT_EQ(app.f.cboBaud.Text(), "9600");
        else EXPECT_EQ(app.f.cboBaud.Text(), Trim(FromField(junk.substr(47, 6))));
    }
}

TEST(SaveSettings, KeepsReserved3AndStoresOnLineAsListen) {
    SimApp app;
    auto r = StoredRecord();
    app.host.files[app.SettingsPath()] = r.Encode();
    app.Load();
    app.f.cboConn.SetText("ON-LINE");
    SaveSettings(app.f);
    SaveSettings(app.f);
    const Bytes file = app.host.files.at(app.SettingsPath());
    EXPECT_EQ(file.substr(78), r.Reserved3);
    EXPECT_EQ(file[65], 1);
    EXPECT_EQ(file.substr(77, 1), "0");  // Bridge as the window holds it
    app.f.cboConn.SetText("on-line");  // the stored state compares exactly
    SaveSettings(app.f);
    EXPECT_EQ(app.host.files.at(app.SettingsPath())[65], 0);
}

TEST(SaveSettings, FailureIsReportedAndTheOldFileStays) {
    SimApp app;
    app.host.files[app.SettingsPath()] = StoredRecord().Encode();
    app.Load();
    app.host.failWrite = true;
    app.f.cboBaud.SetText("19200");
    SaveSettings(app.f);
    ASSERT_EQ(app.dialogs.shown.size(), 1u);
    EXPECT_EQ(app.dialogs.shown[0].title, "Save Initialize File Error");
    EXPECT_EQ(app.dialogs.shown[0].text, "Disk full\r\rUnable to save /sim/prog/Ovrin-Bridge.ini.");
    EXPECT_EQ(app.host.files.at(app.SettingsPath()), StoredRecord().Encode());
}

TEST(LoadSettings, SettingsGivenForTheRunAreTypedInBeforeListenIsSelected) {
    SettingsRecordBuffer listening = StoredRecord();
    listening.ListenAtStart = 1;
    for (const bool stored : {false, true}) {
        SimApp app;
        if (stored) app.host.files[app.SettingsPath()] = listening.Encode();
        app.sockets.busyPorts = {50000, 4532};  // the default and the stored port: never tested
        app.com.existing.insert(2);
        app.f.GivenHostPort = "50123";
        app.f.GivenComPort = "COM2";
        app.Load();
        EXPECT_TRUE(app.dialogs.shown.empty()) << stored;
        EXPECT_EQ(app.sockets.Element(0).LocalPort(), 50123) << stored;
        if (!stored) {
            EXPECT_EQ(app.com.CommPort(), 2);  // opened with Listen: "Com Port active in Listen Mode"
        }
        SaveSettings(app.f);
        const auto saved = SettingsRecordBuffer::Decode(app.host.files.at(app.SettingsPath()));
        EXPECT_EQ(saved.HostPort + saved.ComPortName, "50123COM2  ") << stored;
    }
}

}  // namespace
}  // namespace ovrin
