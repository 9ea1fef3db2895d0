// Keying by CAT command obeys the transmitter's rules as RTS keying does: one owner
// whatever the way, a refused key never reaches the radio, the owner's leaving,
// vanishing, the transmit limit, Off-line and the program's end release it, and
// every transmission is logged when it starts and ends.
#include <gtest/gtest.h>

#include "app/Lifecycle.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::H, sim::kInBandKey, sim::kInBandRelease, sim::SimApp;
using S = SimApp;

struct Keyed : SimApp {
    explicit Keyed(int txLimitS = 180) {
        f.station.settings.options.txLimitS = txLimitS;
        Serve(2);
        f.chkCtrlPTT.SetValue(1);
        com.rtsHistory.clear();
    }
    bool Red() { return f.chkCtrlPTT.BackColor() == kColourRed; }
};

TEST(Keying, EachFamilysKeyAndReleaseGoThroughTheTransmitter) {
    const Bytes civKey = H({0xFE, 0xFE, 0x94, 0xE0, 0x1C, 0x00, 0x01, 0xFD});
    const Bytes civRelease = H({0xFE, 0xFE, 0x94, 0xE0, 0x1C, 0x00, 0x00, 0xFD});
    const Bytes civOk = H({0xFE, 0xFE, 0xE0, 0x94, 0xFB, 0xFD});
    const Bytes civNg = H({0xFE, 0xFE, 0xE0, 0x94, 0xFA, 0xFD});
    const struct {
        const char* family;
        Bytes key, release, keyAnswer, refusal;
        const char* how;
    } rows[] = {
        {"Kenwood", "TX;", "RX;", "", "?;", "CAT (Kenwood TX;)"},
        {"CI-V", civKey, civRelease, civOk, civNg, "CAT (CI-V 1C 00 01)"},
        {"Yaesu", H({0, 0, 0, 0, 0x08}), H({0, 0, 0, 0, 0x88}), H({0}), H({0xF0}), "CAT (Yaesu 08)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.family);
        Keyed app;
        app.Run({S::C(1, row.key), S::R(row.keyAnswer), S::T(20), S::W(row.key)});
        EXPECT_TRUE(app.Red() && app.com.rtsHistory.empty());  // RTS is not touched by a CAT key
        EXPECT_TRUE(app.log.Has({"PTT keyed: Client 198.51.100.1 (slot 1, connection 1) by", row.how}));
        // A second client's key is refused and never reaches the radio; its release
        // is ignored.
        app.Run({S::C(2, row.key), S::G(2, row.refusal), S::C(2, row.release), S::T(20), S::W(row.key)});
        EXPECT_TRUE(app.log.Has({"PTT key refused: Client 198.51.100.1 (slot 2, connection 2)", row.how,
                                 "(slot 1, connection 1) has the transmitter keyed"}));
        app.clock.Advance(1000);  // a client's lines come at most one a second
        EXPECT_TRUE(app.log.Has({"PTT release ignored", "(slot 2", "1 more line like it"}));
        EXPECT_TRUE(app.Red());
        app.Run({S::C(1, row.release), S::R(row.keyAnswer), S::T(20), S::W(row.key + row.release)});
        EXPECT_FALSE(app.Red());
        app.clock.Advance(1000);
        EXPECT_TRUE(app.log.Has({"PTT released: Client 198.51.100.1 (slot 1, connection 1), keyed by", row.how,
                                 "for 1.0 s: released by CAT"}));
        app.Run({S::C(2, row.key), S::T(300), S::W(row.key + row.release + row.key)});  // now it may
    }
}

// However the owner's key ends, the radio is told: the family's release is written
// for it and reaches the radio (drained before the port closes: a simulated port's
// writes take time, and a close that does not wait cuts them off), and the record
// says why.
TEST(Keying, ACatKeyIsReleasedWhenItsOwnerCannot) {
    const struct {
        const char* name;
        std::function<void(Keyed&)> end;
        const char* why;
        bool portOpen;
    } rows[] = {
        {"owner leaves", [](Keyed& a) { a.sockets.PeerCloses(1); }, "its client left", true},
        {"owner vanishes", [](Keyed& a) { a.sockets.RaiseError(1); }, "its connection was lost", true},
        {"transmit limit", [](Keyed& a) { a.clock.Advance(4000); }, "the transmit limit of 5 s was reached", true},
        {"Off-line", [](Keyed& a) { a.f.cboConn.SetListIndex(0); }, "Off-line", false},
        {"program end", [](Keyed& a) { Form_Unload(a.f); }, "the program ended", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Keyed app(5);
        app.f.chkComPortActiveInListen.SetValue(1);
        app.Run({S::C(1, "TX;"), S::T(10), S::W("TX;")});
        app.clock.Advance(1000);
        row.end(app);
        app.clock.Advance(20);
        EXPECT_EQ(std::pair(app.com.Heard(), app.com.cutOff), std::pair(Bytes("TX;RX;"), Bytes()));
        EXPECT_EQ(std::tuple(app.com.PortOpen(), app.Red()), std::tuple(row.portOpen, false));
        EXPECT_TRUE(app.log.Has({"PTT released:", "CAT (Kenwood TX;)", row.why}));
    }
}

// One transmitter whatever the way: a client keyed by RTS holds it against a CAT
// key, and its own release ends both.
TEST(Keying, RtsAndCatKeyingShareOneOwner) {
    Keyed app;
    app.Run({S::C(1, kInBandKey), S::C(2, "TX;"), S::G(2, "?;"), S::C(1, "TX;"), S::T(10), S::W("TX;")});
    EXPECT_EQ(app.com.rtsHistory, std::vector<bool>{true});
    // (TX; may be a read on some radios: it holds the port for the answer wait.)
    app.Run({S::C(1, kInBandRelease), S::T(300), S::W("TX;RX;")});
    EXPECT_EQ(std::tuple(app.com.rtsHistory, app.Red()), std::tuple(std::vector<bool>{true, false}, false));
    // The question that enables RTS control defaults to No.
    Keyed asked;
    asked.f.chkCtrlPTT.SetValue(0);
    asked.dialogs.Answer(MsgResult::No);
    asked.Send(1, kInBandKey);
    EXPECT_EQ(asked.dialogs.shown.at(0).buttons, MsgButtons::YesNoDefaultNo);
}

// The start of an in-band command waits for its rest (Wi-Fi, the Internet) on its
// own client's clock: no other client's bytes, nor its own earlier hold, cut it short.
TEST(Keying, ASplitInBandCommandIsObeyedAtAnyInterleaving) {
    const struct {
        const char* name;
        std::vector<SimApp::Step> steps;
        std::vector<bool> rts;
    } rows[] = {
        {"another client's hold runs out in the middle",
         {S::C(2, kInBandKey), S::C(1, "FE\x1B"), S::T(80), S::C(2, "\x1B\x1B" "ATH"), S::T(20), S::W("FE\x1B"),
          S::T(30), S::C(2, "0"), S::T(200), S::W("FE\x1B")},
         {true, false}},
        {"a split refresh, then a split release 90 ms later",
         {S::C(1, kInBandKey), S::C(1, "\x1B\x1B" "AT"), S::T(50), S::C(1, "H1"), S::T(90), S::C(1, "\x1B\x1B" "A"),
          S::T(50), S::C(1, "TH0"), S::T(200), S::W("")},
         {true, true, false}},
        {"a rest 60 ms later; the start a closing client leaves is data, written before the close",
         {S::C(1, "FA;\x1B\x1B" "AT"), S::T(60), S::C(1, "H1"), S::C(1, "ID;\x1B"), S::L(1), S::W("FA;ID;\x1B")},
         {true, false}},
        {"a start whose rest never comes is data after its own 100 ms",
         {S::C(1, "\x1B\x1B" "AT"), S::T(60), S::C(2, "FA1;"), S::T(39), S::W("FA1;"), S::T(1), S::W("FA1;\x1B\x1B" "AT")},
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Keyed app;
        app.Run(row.steps);
        EXPECT_EQ(app.com.rtsHistory, row.rts);
    }
}

}  // namespace
}  // namespace ovrin
