#include <gtest/gtest.h>

#include "app/Lifecycle.h"
#include "app/Numbers.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::SimApp;

TEST(VersionText, PadsMinorAndRevisionToTwoDigitsOnly) {
    EXPECT_EQ(BuildVersionText(1, 10, 1), "1.10.01");
    EXPECT_EQ(BuildVersionText(1, 5, 3), "1.05.03");
    EXPECT_EQ(BuildVersionText(2, 5, 3), "2.05.03");
    EXPECT_EQ(BuildVersionText(1, 10, 123), "1.10.123");
    SimApp app;
    app.host.minor = 5;
    app.host.revision = 3;
    app.Load();
    EXPECT_EQ(app.f.Form.Caption(), "Ovrin-Server v1.05.03");
    EXPECT_TRUE(app.f.Form.Shown());
}

TEST(ControlEvents, ComboClickOnEverySelectionNeverOnText) {
    SimApp app;
    int clicks = 0;
    app.f.cboBaud.Click = [&] { ++clicks; };
    app.f.cboBaud.SetListIndex(2);
    app.f.cboBaud.SetListIndex(2);
    EXPECT_EQ(clicks, 2);
    app.f.cboBaud.SetText("300");
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(app.f.cboBaud.ListIndex(), 0);  // the index follows a text that names an entry
    app.f.cboBaud.SetText("ON-LINE");
    EXPECT_EQ(app.f.cboBaud.ListIndex(), -1);
    EXPECT_THROW(app.f.cboBaud.SetListIndex(9), PlatformError);
    EXPECT_EQ(clicks, 2);
}

TEST(ControlEvents, CheckBoxClickOnChangeAndRefusesOutOfRange) {
    SimApp app;
    int clicks = 0;
    app.f.chkBridge.Click = [&] { ++clicks; };
    app.f.chkBridge.SetValue(0);
    app.f.chkBridge.SetValue(1);
    app.f.chkBridge.SetValue(2);
    EXPECT_EQ(clicks, 2);
    EXPECT_THROW(app.f.chkBridge.SetValue(3), PlatformError);
    EXPECT_THROW(app.f.chkBridge.SetValue(-1), PlatformError);
    EXPECT_EQ(app.f.chkBridge.Value(), 2);
    app.f.txtHostPort.SetText("1234567");
    EXPECT_EQ(app.f.txtHostPort.Text(), "12345");
    app.f.txtHostPort.SetText("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");  // counted in characters
    EXPECT_EQ(app.f.txtHostPort.Text(), "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");
}

TEST(Timers, StartDoesNotRestartARunningCountButStopStartDoes) {
    sim::SimClock clock;
    Timer t("t", 3000, false);
    clock.Bind(t);
    int ticks = 0;
    t.Tick = [&] { ++ticks; };
    t.Start();
    clock.Advance(2000);
    t.Start();
    clock.Advance(1000);
    EXPECT_EQ(ticks, 1);
    clock.Advance(2000);
    t.Stop();
    t.Start();
    clock.Advance(2999);
    EXPECT_EQ(ticks, 1);
    clock.Advance(1);
    EXPECT_EQ(ticks, 2);
}

TEST(Shutdown, ListeningSavesAndClosesNothingOffLineClosesAll) {
    {
        SimApp app;
        app.Load();
        ASSERT_TRUE(app.sockets.RequestConnection());
        app.f.Form.Unload();
        EXPECT_TRUE(app.host.ended);
        EXPECT_EQ(app.host.files.at(app.SettingsPath())[65], 1);  // ON-LINE stored as Listen
        EXPECT_TRUE(app.sockets.Exists(1));                       // released by the process end
    }
    {
        SimApp app;
        app.Load();
        app.f.cboConn.SetListIndex(0);
        app.sockets.Element(0).state = sckError;  // not listening: everything is closed
        app.sockets.Load(2);
        app.f.Form.Unload();
        EXPECT_EQ(app.host.files.at(app.SettingsPath())[65], 0);
        EXPECT_FALSE(app.sockets.Exists(2));
        EXPECT_TRUE(app.host.ended);
    }
}

TEST(Numbers, WholeAndLeadingNumbers) {
    EXPECT_EQ(ToInt32(" 50000 "), 50000);
    EXPECT_EQ(ToInt32("2.5"), 2);
    EXPECT_EQ(ToInt32("3.5"), 4);
    EXPECT_EQ(ToInt32("-7"), -7);
    for (const char* bad : {"", "abc", "12abc", "1.2.3", "99999999999"}) EXPECT_THROW(ToInt32(bad), PlatformError) << bad;
    EXPECT_THROW(ToInt16("40000"), PlatformError);
    EXPECT_EQ(LeadingNumber("5001x"), 5001);
    EXPECT_EQ(LeadingNumber(" 1 2"), 12);
    EXPECT_EQ(LeadingNumber("1.5"), 1.5);
    EXPECT_EQ(LeadingNumber("-3"), -3);
    EXPECT_EQ(LeadingNumber("x1"), 0);
    EXPECT_EQ(LeadingNumber(""), 0);
    EXPECT_EQ(LeadingNumber("7e4"), 70000);
}

}  // namespace
}  // namespace ovrin
