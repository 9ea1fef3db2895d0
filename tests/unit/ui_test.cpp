// The connection status control and the port entry.
#include <gtest/gtest.h>

#include "sim/SimPlatform.h"
#include "ui/ConnectionStatus.h"

namespace ovrin {
namespace {

struct Status : sim::SimApp {
    Status() { Load(); }
};

// Listen opens the serial port only when it is kept active, and ends Off-line when
// the port kept active cannot be opened (the reason in the tool tips) or the TCP
// port cannot be listened on (after the message: "another application" only when
// the port is taken, else the system's reason).
TEST(Status, ListenOpensThePortOnlyWhenKeptActiveAndEndsOffLineWhenItCannot) {
    const struct {
        int keptOpen;
        bool device, tcpPortFree;
        const char* listenFailure;
        bool listens, opens;
        const char* boxes;
        const char* boxSays;  // at the window: the way out, by its button
    } rows[] = {
        {0, true, true, "", true, false, "", ""},
        {1, false, true, "", false, false, "", ""},
        {0, true, false, "", false, false, "Host Port Active;", "Select another Local Port then click the Listen button."},
        {0, true, true, "192.0.2.7: The address is not available", false, false, "Listen Error;",
         "192.0.2.7: The address is not available"},
    };
    for (const auto& row : rows) {
        Status app;
        app.f.cboConn.SetListIndex(0);
        app.f.chkComPortActiveInListen.SetValue(row.keptOpen);
        if (!row.device) app.com.existing.clear();
        if (!row.tcpPortFree) app.sockets.busyPorts = {50000};
        app.sockets.listenFailure = row.listenFailure;
        app.f.cboConn.SetListIndex(1);
        SCOPED_TRACE(testing::Message() << row.keptOpen << row.device << row.tcpPortFree);
        EXPECT_EQ(app.sockets.Element(0).State(), row.listens ? sckListening : sckClosed);
        EXPECT_EQ(std::tuple(app.f.cboConn.Text(), app.com.PortOpen(), app.dialogs.Titles()),
                  std::tuple(row.listens ? "Listen" : "Off-line", row.opens, row.boxes));
        EXPECT_NE((app.dialogs.shown.empty() ? "" : app.dialogs.shown.back().text).find(row.boxSays), std::string::npos);
    }
}

// While a client is served, Listen keeps it and Default is refused; Off-line closes
// everything, even twice; Default, answered Yes, resets the line and the TCP port.
TEST(Status, DefaultIsRefusedWhileServingAndYesResetsTheLineAndTheTcpPort) {
    Status app;
    auto& f = app.f;
    ASSERT_TRUE(app.sockets.RequestConnection());
    f.cboConn.SetListIndex(1);
    f.cboConn.SetListIndex(2);
    EXPECT_TRUE(app.sockets.Exists(1));
    for (int i = 0; i < 2; ++i) {
        f.cboConn.SetListIndex(0);
        EXPECT_EQ(std::tuple(f.cboConn.Text(), app.sockets.Count(), app.sockets.Element(0).State(), app.com.PortOpen(),
                             f.txtHostPort.Enabled()),
                  std::tuple("Off-line", 1, sckClosed, false, true));
    }
    for (ComboBox* c : {&f.cboInterbyte, &f.cboBaud, &f.cboBits, &f.cboParity, &f.cboStop, &f.cboComPort})
        c->SetText("x");
    f.txtHostPort.SetText("1");
    f.chkDTR.SetValue(1);
    app.dialogs.Answer(MsgResult::No);
    f.cboConn.SetListIndex(2);
    EXPECT_EQ(f.cboBaud.Text(), "x");
    app.dialogs.Answer(MsgResult::Yes);
    f.cboConn.SetListIndex(2);
    EXPECT_EQ(app.dialogs.Titles(), "Connections Open;Defaults;Defaults;");
    EXPECT_EQ(f.txtHostPort.Text() + f.cboInterbyte.Text() + f.cboBaud.Text() + f.cboBits.Text() +
                  f.cboParity.Text() + f.cboStop.Text() + f.cboComPort.Text(),
              "50000100 mS96008None2x");
    EXPECT_EQ(std::tuple(f.chkDTR.Value(), app.host.files.at(app.SettingsPath()).substr(47, 6), f.cboConn.Text()),
              std::tuple(1, "9600  ", "Off-line"));
}

// A bad entry is refused at once and the box shows the port of the last load or
// save again; a good one is tested, not listened on.
TEST(Status, ThePortEntryIsCheckedAtEveryKeyRelease) {
    Status app;
    app.f.cboConn.SetListIndex(0);
    const std::string low = "The Host Port must be greater than 0.", high = "The Host Port must be less than 65536.";
    const struct {
        std::string typed, says;
    } rows[] = {{"", low},     {"0", low},     {"x12", low}, {"-5", low},
                {"65536", high}, {"7e4", high}, {"65535", ""}, {"1", ""}};
    for (const auto& row : rows) {
        const std::size_t boxes = app.dialogs.shown.size();
        app.f.txtHostPort.SetText(row.typed);
        txtHostPort_KeyUp(app.f);
        SCOPED_TRACE(row.typed);
        EXPECT_EQ(app.dialogs.shown.size() > boxes ? app.dialogs.shown.back().text : "", row.says);
        EXPECT_EQ(app.f.txtHostPort.Text(), row.says.empty() ? row.typed : "50000");
    }
    EXPECT_EQ(std::tuple(app.sockets.Element(0).LocalPort(), app.sockets.Element(0).State()), std::tuple(1, sckClosed));
}

}  // namespace
}  // namespace ovrin
