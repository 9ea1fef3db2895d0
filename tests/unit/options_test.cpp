// The options beyond the record: their text file (read back as written, every line
// that cannot be used told and skipped, nothing else of the file lost), kept
// across a restart with the command line over them, and their fields in the
// window (taken when good, refused at Listen when not, locked while listening).
#include <gtest/gtest.h>

#include "net/Admission.h"
#include "net/ComPortClient.h"
#include "settings/Settings.h"
#include "station/OptionsText.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::SimApp;

ServerOptions Shack() {
    ServerOptions o;
    o.clients = 3;
    o.answerWaitMs = 400;
    o.rfc2217Port = 50001;
    o.statusPort = 8080;
    o.txLimitS = 0;
    o.cat = cat::Language::CiV;
    o.allow = "192.168.1.0/24, ::1";
    o.pttLine = PttLine::Dtr;
    return o;
}

TEST(OptionsFile, ReadBackAsWrittenWithEveryOtherLineKept) {
    for (const ServerOptions& o : {ServerOptions{}, Shack()}) {
        const std::string file = WriteOptionsFile(o, "");
        const ReadOptions read = ReadOptionsFile(file, ServerOptions{});
        EXPECT_TRUE(read.skipped.empty()) << file;
        EXPECT_EQ(read.options, o) << file;
    }
    // A file edited by hand (Notepad's line ends and mark): its comments, a name
    // this version does not know and a line it cannot read stay as they were; a
    // name given twice is written once, where it first stood.
    const std::string edited =
        "\xEF\xBB\xBF# my shack\r\nclients = 2\r\nfuture-option = yes\r\nnonsense\r\nClients=4\r\n";
    const ReadOptions read = ReadOptionsFile(edited, ServerOptions{});
    EXPECT_EQ(read.options.clients, 4);  // the later line wins
    EXPECT_EQ(WriteOptionsFile(Shack(), edited),
              "\xEF\xBB\xBF# my shack\r\nclients = 3\r\nfuture-option = yes\r\nnonsense\r\nanswer-wait = 400\r\n"
              "rfc2217-port = 50001\r\nstatus-port = 8080\r\ntx-limit = 0\r\ncat = civ\r\n"
              "allow = 192.168.1.0/24, ::1\r\nptt-line = dtr\r\n");
}

// A line that cannot be used is told (with its number) and skipped; the lines
// around it are taken. Nothing a file can hold stops the read.
TEST(OptionsFile, EveryLineThatCannotBeUsedIsToldAndSkipped) {
    const struct {
        std::string line, told;
    } rows[] = {
        {"clients = 9", "line 2: clients = \"9\": 1 to 5"},
        {"answer-wait = 2 50", "line 2: answer-wait = \"2 50\": 20 to 3000 milliseconds"},
        {"allow = 10.1", "line 2: allow = \"10.1\": \"10.1\" is not an address"},
        {"allow = 010.0.0.1", "a leading zero is decimal to some programs and octal to others"},
        {"ptt-line = cts", "line 2: ptt-line = \"cts\": rts or dtr"},
        {"rfc2217-port = -1", "line 2: rfc2217-port = \"-1\": 0 to 65535 (a TCP port; 0 or off: none)"},
        {"colour = red", "line 2: no option is called \"colour\""},
        {"= 5", "line 2: no option is called \"\""},
        {"tx-limit 60", "line 2: \"tx-limit 60\" is no \"name = value\""},
        {std::string("cat\0= \xFF\xFE", 8), "line 2: no option is called \"cat"},
        {"allow = " + std::string(300, 'x'), "\"" + std::string(60, 'x') + "...\""},
    };
    for (const auto& row : rows) {
        const ReadOptions read = ReadOptionsFile("clients = 2\n" + row.line + "\ntx-limit = 60", ServerOptions{});
        SCOPED_TRACE(row.line);
        ASSERT_EQ(read.skipped.size(), 1u);
        EXPECT_NE(read.skipped[0].find(row.told), std::string::npos) << read.skipped[0];
        EXPECT_EQ(read.options.clients, 2);
        EXPECT_EQ(read.options.txLimitS, 60);
    }
    const ReadOptions huge = ReadOptionsFile(std::string(kMostOptionsBytes + 1, '\n'), Shack());
    EXPECT_EQ(huge.options, Shack());
    EXPECT_EQ(huge.skipped.size(), 1u);
}

// What a restart finds: the options as they were saved, the command line's over
// them for that run and saved in turn; the allow-list at the door is the loaded
// one; the start-up log says what is in effect.
TEST(Options, KeptAcrossARestartWithTheCommandLineOverThem) {
    SimApp first;
    first.f.Given.options = {{"clients", "3"}, {"allow", "10.0.0.0/8"}, {"rfc2217-port", "50001"}, {"ptt-line", "dtr"}};
    first.Load();
    first.f.Form.Unload();
    const std::string options = "/sim/prog/Ovrin-Server.conf";
    ASSERT_TRUE(first.host.files.count(options));

    SimApp second;  // started again without options
    second.host.files = first.host.files;
    struct Idle : TimerBackend {
        void Arm(int) override {}
        void Disarm() override {}
    };
    Door door(second.log, [](Timer&) { return std::make_unique<Idle>(); });
    door.Guard(second.f);
    second.Load();
    EXPECT_EQ(second.f.options.clients, 3);
    EXPECT_EQ(second.f.options.allow, "10.0.0.0/8");
    EXPECT_EQ(second.f.options.rfc2217Port, 50001);
    EXPECT_EQ(second.f.chkCtrlPTT.caption, "Control DTR as PTT");
    EXPECT_EQ(second.f.txtRfc2217Port.Text(), "50001");
    EXPECT_TRUE(second.log.Has({"Options in effect: up to 3 clients, from 10.0.0.0/8 only;",
                                "remote serial port (RFC 2217) on TCP port 50001", "PTT on DTR"}));
    EXPECT_TRUE(second.log.Has({"Listening on TCP port 50000; clients connect to 192.0.2.10; up to 3 clients"}));
    EXPECT_EQ(second.sockets.Element(kComPortListener).State(), sckListening);
    EXPECT_FALSE(second.sockets.RequestConnection("192.0.2.99"));
    EXPECT_TRUE(second.log.Has({"Client 192.0.2.99 refused: not on the allow-list"}));
    EXPECT_TRUE(second.sockets.RequestConnection("10.1.2.3"));

    SimApp third;  // an option given once more wins for its run, and is kept
    third.host.files = second.host.files;
    third.f.Given.options = {{"allow", "any"}, {"clients", "1"}};
    third.Load();
    third.f.Form.Unload();
    const ServerOptions kept = ReadOptionsFile(third.host.files[options], {}).options;
    EXPECT_EQ(kept.allow, "");
    EXPECT_EQ(kept.clients, 1);
    EXPECT_EQ(kept.rfc2217Port, 50001);
}

// A damaged options file never stops a start: each line that cannot be used is
// logged, the rest taken, no box; the next save mends the known names and keeps
// the lines it cannot place. One that cannot be read is kept aside.
TEST(Options, ADamagedFileStartsWithWhatCanBeUsed) {
    SimApp app;
    const std::string options = "/sim/prog/Ovrin-Server.conf";
    app.host.files[options] = "clients = 7\nanswer-wait = 300\nwhat is this\n";
    app.Load();
    EXPECT_TRUE(app.dialogs.shown.empty());
    EXPECT_EQ(app.sockets.Element(0).State(), sckListening);
    EXPECT_EQ(app.f.options.answerWaitMs, 300);
    EXPECT_EQ(app.f.options.clients, 1);
    EXPECT_TRUE(app.log.Has({"Options file " + options + ", line 1: clients = \"7\": 1 to 5: skipped"}));
    EXPECT_TRUE(app.log.Has({"line 3: \"what is this\" is no \"name = value\": skipped"}));
    SaveSettings(app.f);
    const std::string saved = app.host.files[options];
    EXPECT_EQ(saved.substr(0, 46), "clients = 1\nanswer-wait = 300\nwhat is this\nrfc");

    SimApp unreadable;
    unreadable.host.files[options] = std::string(kMostOptionsBytes + 1, '#');
    unreadable.Load();
    EXPECT_TRUE(unreadable.log.Has({"more than an options file holds, kept as " + options + ".bad"}));
    EXPECT_EQ(unreadable.host.files[options + ".bad"].size(), kMostOptionsBytes + 1);
}

// The window's fields: what can be taken is taken as it is typed or picked (a new
// PTT line takes PTT control with it); what cannot stays in the field, is said in
// its tool tip, and keeps Listen from starting, with a box naming it. Listening,
// the fields are locked.
TEST(OptionFields, TakenWhenGoodRefusedAtListenWhenNotAndLockedWhileListening) {
    const struct {
        const char* field;
        std::string typed;
        std::string refusal;  // the box at Listen; "" when taken
    } rows[] = {
        {"txtAnswerWait", "500", ""},
        {"txtAnswerWait", "5", "Answer Wait ms \"5\": 20 to 3000 milliseconds."},
        {"cboClients", "4", ""},
        {"cboClients", "0", "Clients \"0\": 1 to 5."},
        {"txtAllow", "192.168.1.0/24 10.0.0.5", ""},
        {"txtAllow", "192.168.1.", "Allow \"192.168.1.\": \"192.168.1.\" is not an address"},
        {"txtRfc2217Port", "50000", "RFC 2217 Port 50000 is the Host IP Port as well: give each its own TCP port."},
        {"txtStatusPort", "off", ""},
        {"cboCat", "KENWOOD", ""},
        {"txtTxLimit", "3601", "TX Limit s \"3601\": 0 to 3600 seconds (0: no limit)."},
    };
    for (const auto& row : rows) {
        SimApp app;
        app.Load();
        app.f.cboConn.SetListIndex(0);
        Control* field = app.f.ControlsByName().at(row.field);
        const std::string tip = field->ToolTip();
        if (auto* text = dynamic_cast<TextBox*>(field)) text->UserEdit(row.typed);
        else dynamic_cast<ComboBox*>(field)->UserEdit(row.typed);
        SCOPED_TRACE(std::string(row.field) + " " + row.typed);
        const bool taken = row.refusal.empty() || row.refusal.find(" as well") != std::string::npos;
        EXPECT_EQ(field->ToolTip() == tip, taken);
        app.f.cboConn.SetListIndex(1);
        EXPECT_EQ(app.f.cboConn.Text(), row.refusal.empty() ? "Listen" : "Off-line");
        EXPECT_EQ(app.dialogs.shown.empty() ? "" : app.dialogs.shown[0].text.substr(0, row.refusal.size()),
                  row.refusal);
        if (row.refusal.empty()) {
            EXPECT_FALSE(field->Enabled());
            app.f.Form.Unload();
            const std::string saved = app.host.files["/sim/prog/Ovrin-Server.conf"];
            EXPECT_EQ(ReadOptionsFile(saved, {}).options, app.f.options);
        }
    }
    // Another PTT line: the PTT box names it, and PTT control moves to it.
    SimApp app;
    app.Load();
    app.f.cboConn.SetListIndex(0);
    app.f.chkCtrlPTT.SetValue(1);
    app.f.chkDTR.SetValue(1);
    app.f.chkCtrlPTT.SetValue(1);
    EXPECT_EQ(app.f.chkDTR.Value(), 1);  // RTS keys: DTR is free
    app.f.cboPttLine.SetListIndex(1);
    EXPECT_EQ(app.f.chkCtrlPTT.caption, "Control DTR as PTT");
    EXPECT_EQ(app.f.chkDTR.Value(), 0);
    EXPECT_EQ(app.f.options.pttLine, PttLine::Dtr);
}

}  // namespace
}  // namespace ovrin
