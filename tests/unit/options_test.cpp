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

const std::string kOptionsFile = "/sim/prog/Ovrin-Server.conf";

struct Idle : TimerBackend {
    void Arm(int) override {}
    void Disarm() override {}
};

// Every option away from its default.
ServerOptions Shack() {
    return {.clients = 3, .answerWaitMs = 400, .rfc2217Port = 50001, .statusPort = 8080, .txLimitS = 0,
            .cat = cat::Language::CiV, .allow = "192.168.1.0/24=operate, ::1", .pttLine = PttLine::Dtr,
            .txAllowed = {{14000000, 14350000}, {7000000, 7200000}}, .cacheMs = 0, .radioReports = true};
}

TEST(OptionsFile, ReadBackAsWrittenWithEveryOtherLineKept) {
    for (const ServerOptions& o : {ServerOptions{}, Shack()}) {
        const std::string file = WriteOptionsFile(o, "");
        const ReadOptions read = ReadOptionsFile(file, ServerOptions{});
        EXPECT_TRUE(read.skipped.empty() && read.options == o) << file;
    }
    // A file edited by hand (Notepad's line ends and mark): its comments, a name
    // this version does not know and a line it cannot read stay as they were; of
    // a name given twice, both are told and kept, and the line read (the last)
    // takes the new value.
    const std::string edited =
        "\xEF\xBB\xBF# my shack\r\nclients = 2\r\nfuture-option = yes\r\nnonsense\r\nClients=4\r\n";
    const ReadOptions read = ReadOptionsFile(edited, ServerOptions{});
    EXPECT_EQ(read.options.clients, 4);  // the later line wins
    EXPECT_EQ(read.doubled, std::vector<std::string>{"clients is given on lines 2 and 5: line 5 counts"});
    EXPECT_EQ(WriteOptionsFile(Shack(), edited),
              "\xEF\xBB\xBF# my shack\r\nclients = 2\r\nfuture-option = yes\r\nnonsense\r\nclients = 3\r\n"
              "answer-wait = 400\r\n"
              "rfc2217-port = 50001\r\nstatus-port = 8080\r\ntx-limit = 0\r\ncat = civ\r\n"
              "allow = 192.168.1.0/24=operate, ::1\r\nptt-line = dtr\r\n"
              "tx-allowed = 14000000-14350000, 7000000-7200000\r\ncache-ms = 0\r\nradio-reports = on\r\n");
}

// A line that cannot be used is told (with its number) and skipped; the lines
// around it are taken. Nothing a file can hold stops the read.
TEST(OptionsFile, EveryLineThatCannotBeUsedIsToldAndSkipped) {
    const struct {
        std::string line, told;
    } rows[] = {
        {"clients = 9", "line 2: clients = \"9\": 1 to 5"},
        {"answer-wait = 2 50", "line 2: answer-wait = \"2 50\": 20 to 3000 milliseconds"},
        {"allow = 010.0.0.1", "a leading zero is decimal to some programs and octal to others"},
        {"ptt-line = cts", "line 2: ptt-line = \"cts\": rts or dtr"},
        {"tx-allowed = 14350000-14000000", "\"14350000-14000000\" is not a range LOW-HIGH in Hz"},
        {"tx-allowed = 14000000", "\"14000000\" is not a range LOW-HIGH in Hz"},
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
        ASSERT_EQ(read.skipped.size() + read.shut.has_value(), 1u);
        const std::string told = read.shut.value_or(read.skipped.empty() ? "" : read.skipped[0]);
        EXPECT_NE(told.find(row.told), std::string::npos) << told;
        EXPECT_EQ(std::pair(read.options.clients, read.options.txLimitS), std::pair(2, 60));
    }
    ServerOptions shut = Shack();
    shut.allow = kAllowUnread;
    const ReadOptions huge = ReadOptionsFile(std::string(kMostOptionsBytes + 1, '\n'), Shack());
    EXPECT_EQ(std::tuple(huge.options, huge.skipped.size()), std::tuple(shut, 1u));
}

// An allow-list in the file that cannot be read lets nobody in, at the door and
// on the status page; the log says so; the line stays as the user wrote it, and
// the same option given on the command line replaces it.
TEST(Options, AnAllowListThatCannotBeReadLetsNobodyIn) {
    const std::string big = "allow = 127.0.0.0/8\n" + std::string(kMostOptionsBytes, '#') + "\n";
    const struct {
        std::string file;
        std::string told;
    } rows[] = {
        {"allow = 127.0.0.0/8\nallow = 192.168.1.0/24;10.0.0.0/8\n", "line 2: allow = "},
        {big, "not read: " + std::to_string(big.size()) + " bytes, more than an options file holds"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file.substr(0, 60));
        SimApp app;
        app.host.files[kOptionsFile] = row.file;
        Door door(app.log, [](Timer&) { return std::make_unique<Idle>(); });
        door.Guard(app.f.station);
        app.Load();
        EXPECT_TRUE(app.log.Has({row.told, "no client is let in until it is mended"}) &&
                    app.log.Has({"from no address: the allow-list cannot be read"}));
        ASSERT_TRUE(AllowListFault(app.f.station.settings.options).has_value());
        for (const char* address : {"127.0.0.1", "10.0.0.1", "192.168.1.1", "::1", ""})
            EXPECT_FALSE(app.f.station.Admits(address)) << address;
        app.f.Form.Unload();
        const std::string& saved = app.host.files[kOptionsFile];
        EXPECT_EQ(saved.substr(0, row.file.size()), row.file);  // as written, the rest added after it
        EXPECT_TRUE(AllowListFault(ReadOptionsFile(saved, {}).options).has_value());

        SimApp given;  // --allow over the file: the user's word for this run
        given.host.files[kOptionsFile] = row.file;
        given.f.station.Given.options = {{"allow", "127.0.0.1"}};
        given.Load();
        EXPECT_FALSE(AllowListFault(given.f.station.settings.options).has_value());
    }
}

// What a restart finds: the options as they were saved, the command line's over
// them for that run and saved in turn. (That the restarted program states and acts
// on them, the allow-list at the door and the remote serial port: settings_e2e.)
TEST(Options, KeptAcrossARestartWithTheCommandLineOverThem) {
    SimApp first;
    first.f.station.Given.options = {{"clients", "3"}, {"allow", "10.0.0.0/8"}, {"rfc2217-port", "50001"}, {"ptt-line", "dtr"}};
    first.Load();
    first.f.Form.Unload();
    ASSERT_TRUE(first.host.files.count(kOptionsFile));

    SimApp second;  // started again without options
    second.host.files = first.host.files;
    second.Load();
    const ServerOptions& o = second.f.station.settings.options;
    EXPECT_EQ(std::tuple(o.clients, o.allow, o.rfc2217Port, o.pttLine), std::tuple(3, "10.0.0.0/8", 50001, PttLine::Dtr));
    EXPECT_EQ(second.f.txtRfc2217Port.Text(), "50001");

    SimApp third;  // an option given once more wins for its run, and is kept
    third.host.files = second.host.files;
    third.f.station.Given.options = {{"allow", "any"}, {"clients", "1"}};
    third.Load();
    third.f.Form.Unload();
    const ServerOptions kept = ReadOptionsFile(third.host.files[kOptionsFile], {}).options;
    EXPECT_EQ(std::tuple(kept.allow, kept.clients, kept.rfc2217Port), std::tuple("", 1, 50001));
}

// A damaged options file never stops a start: each line that cannot be used is
// logged, the rest taken, no box; the next save keeps every line the user wrote
// and adds the options the file lacks. An option named twice is told with both
// lines.
TEST(Options, ADamagedFileStartsWithWhatCanBeUsedAndKeepsItsLines) {
    const std::string file = "clients = 7\nanswer-wait == 300\nwhat is this\ntx-limit = 60\nTX-LIMIT = 90\n";
    SimApp app;
    app.host.files[kOptionsFile] = file;
    app.Load();
    EXPECT_TRUE(app.dialogs.shown.empty());
    EXPECT_EQ(app.sockets.Element(0).State(), sckListening);
    EXPECT_EQ(std::pair(app.f.station.settings.options.txLimitS, app.f.station.settings.options.clients), std::pair(90, 1));
    // Each told as the file's reading tells it (OptionsFile.*), with the file's name.
    EXPECT_TRUE(app.log.Has({"Options file " + kOptionsFile + ", line 1: clients = \"7\": 1 to 5: skipped"}));
    EXPECT_TRUE(app.log.Has({"line 3: \"what is this\" is no \"name = value\": skipped"}));
    EXPECT_TRUE(app.log.Has({"Options file " + kOptionsFile + ": tx-limit is given on lines 4 and 5: line 5 counts"}));
    SaveSettings(app.f.station);
    EXPECT_EQ(app.host.files[kOptionsFile].substr(0, file.size() + 13), file + "rfc2217-port ");
    app.f.station.settings.options.clients = 2;  // chosen in the window: the bad line gives way
    app.f.station.settings.options.txLimitS = 30;
    SaveSettings(app.f.station);
    const std::string mended = "clients = 2\nanswer-wait == 300\nwhat is this\ntx-limit = 60\ntx-limit = 30\nrfc";
    EXPECT_EQ(app.host.files[kOptionsFile].substr(0, mended.size()), mended);
}

// The window's fields: what can be taken is taken as it is typed or picked (a new
// PTT line takes PTT control with it); what cannot stays in the field, is said in
// its tool tip, and keeps Listen from starting, with a box naming it (what each
// value may be: OptionsFile.EveryLineThatCannotBeUsedIsToldAndSkipped). Listening,
// the fields are locked.
TEST(OptionFields, TakenWhenGoodRefusedAtListenWhenNotAndLockedWhileListening) {
    const struct {
        const char* field;
        std::string typed;
        std::string refusal;  // the box at Listen; "" when taken
    } rows[] = {
        {"txtAnswerWait", "500", ""},
        {"cboClients", "4", ""},
        {"cboClients", "0", "Clients \"0\": 1 to 5."},
        {"txtAllow", "192.168.1.0/24 10.0.0.5", ""},
        {"txtAllow", "192.168.1.", "Allow \"192.168.1.\": \"192.168.1.\" is not an address"},
        {"txtAllow", "192.168.1.7=transmit 192.168.1.0/24=monitor", ""},
        {"txtTxAllowed", "14000000-14350000, 7000000-7200000", ""},
        {"txtTxAllowed", "14.0-14.35", "TX Allowed Hz \"14.0-14.35\": \"14.0-14.35\" is not a range LOW-HIGH in Hz"},
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
            const std::string saved = app.host.files[kOptionsFile];
            EXPECT_EQ(ReadOptionsFile(saved, {}).options, app.f.station.settings.options);
        }
    }
    // Another PTT line picked: the PTT box names it, and PTT control moves to it,
    // clearing the DTR box (the rules themselves: PttLine.TheBoxRulesActOnTheLineThatKeys).
    SimApp app;
    app.Load();
    app.f.cboConn.SetListIndex(0);
    app.f.chkDTR.SetValue(1);
    app.f.chkCtrlPTT.SetValue(1);
    ASSERT_EQ(app.f.chkDTR.Value(), 1);  // RTS keys: DTR is free
    app.f.cboPttLine.SetListIndex(1);
    EXPECT_EQ(app.f.chkCtrlPTT.caption, "Control DTR as PTT");
    EXPECT_EQ(std::tuple(app.f.chkDTR.Value(), app.f.station.settings.options.pttLine), std::tuple(0, PttLine::Dtr));
}

}  // namespace
}  // namespace ovrin
