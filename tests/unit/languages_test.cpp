// Turns in the radio's command language, on the simulated platform: each answer to
// its asker as soon as it is whole, whatever the radio's pace; a command that gets
// no answer holds the port only while it goes out on the line.
#include <gtest/gtest.h>

#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::SimApp;
using S = SimApp;

using sim::H;

struct Row {
    const char* name;
    std::vector<SimApp::Step> steps;
    int clients = 2;
    int cacheMs = -1;  // the freshness window, when not the default
    bool reports = false;  // --radio-reports on
};

void RunRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SimApp app;
        app.Serve(row.clients);
        if (row.cacheMs >= 0 || row.reports) {
            ServerOptions o = app.f.station.settings.options;
            if (row.cacheMs >= 0) o.cacheMs = row.cacheMs;
            o.radioReports = row.reports;
            app.f.station.TakeOptions(o);
        }
        app.Run(row.steps);
    }
}

const Bytes kFa = "FA00014074000;";

TEST(Languages, KenwoodAnswersGoToTheirAskerAtOnce) {
    RunRows({
        {"a set ends its turn once on the line (14 characters, 17 ms)",
         {S::C(1, kFa), S::C(2, "FA;"), S::T(16), S::W(kFa), S::T(1), S::W(kFa + "FA;"), S::R(kFa), S::G(2, kFa),
          S::G(1, "")}},
        {"a chained write waits for its one answer, and the turn passes with it",
         {S::C(1, "FR0;FT0;ID;"), S::C(2, "FA;"), S::W("FR0;FT0;ID;"), S::T(2000), S::R("ID019;"), S::G(1, "ID019;"),
          S::W("FR0;FT0;ID;FA;")}},
        {"a late answer still reaches its asker, and the other waits for it",
         {S::C(1, "FA;"), S::C(2, "ID;"), S::T(450), S::W("FA;"), S::R(kFa), S::G(1, kFa), S::W("FA;ID;"),
          S::R("ID019;"), S::G(2, "ID019;"), S::G(1, kFa)}},
        {"a report inside a turn is unasked output",
         {S::C(1, "FA;"), S::R("IF00014074000;"), S::G(2, "IF00014074000;"), S::R(kFa),
          S::G(1, "IF00014074000;" + kFa)}},
        {"an error answer ends the turn",
         {S::C(1, "MD;"), S::C(2, "FA;"), S::R("?;"), S::G(1, "?;"), S::W("MD;FA;")}},
        {"a command split over reads goes whole",
         {S::C(1, "FA"), S::T(60), S::W(""), S::C(1, "00014074000;"), S::W(kFa)}},
        {"a command whose rest never comes goes as it is",
         {S::C(1, "FA000"), S::T(99), S::W(""), S::T(1), S::W("FA000")}},
        {"the answer to a client that left reaches nobody, and the next goes at once",
         {S::C(1, "FA;"), S::C(2, "ID;"), S::L(1), S::W("FA;ID;"), S::R(kFa + "ID019;"), S::G(2, "ID019;")}},
        {"a command the tables cannot place ends at the answer wait",
         {S::C(1, "ZZ;"), S::C(2, "FA;"), S::T(253), S::W("ZZ;"), S::T(1), S::W("ZZ;FA;")}},
    });
}

// Each client's own auto-information: the radio reports while anyone wants it, and
// only to those that want it or never said.
TEST(Languages, AutoInformationIsEachClientsOwn) {
    RunRows({
        {"per client",
         {S::C(1, "AI1;"), S::W("AI1;"), S::C(2, "AI0;"), S::C(3, "FA;"), S::T(10), S::W("AI1;FA;"), S::R(kFa),
          S::R("IF00014074000;"), S::G(1, "IF00014074000;"), S::G(2, ""), S::G(3, kFa + "IF00014074000;"),
          S::C(2, "AI;"), S::G(2, "AI0;"), S::W("AI1;FA;"), S::L(1), S::T(20), S::W("AI1;FA;")},
         3},
        {"off once nobody wants it and everyone said",
         {S::C(1, "AI2;"), S::C(2, "AI0;"), S::T(20), S::W("AI2;"), S::L(1), S::T(20), S::W("AI2;AI0;")}},
        {"a client that never said is never cut off",
         {S::C(1, "FA;"), S::R(kFa), S::C(2, "AI0;"), S::T(20), S::W("FA;"), S::R("IF1;"), S::G(1, kFa + "IF1;"),
          S::G(2, "")}},
    });
}

TEST(Languages, CivFramesGoToTheirSenderWithTheBusEchoDropped) {
    const Bytes readFreq = H({0xFE, 0xFE, 0x94, 0xE0, 0x03, 0xFD});
    const Bytes freq = H({0xFE, 0xFE, 0xE0, 0x94, 0x03, 0x00, 0x40, 0x07, 0x14, 0x00, 0xFD});
    const Bytes readMode = H({0xFE, 0xFE, 0x94, 0xE0, 0x04, 0xFD});
    const Bytes mode = H({0xFE, 0xFE, 0xE0, 0x94, 0x04, 0x01, 0x01, 0xFD});
    const Bytes report = H({0xFE, 0xFE, 0x00, 0x94, 0x00, 0x00, 0x40, 0x07, 0x14, 0x00, 0xFD});
    RunRows({
        {"echo, then the answer to its sender; the next frame goes at once",
         {S::C(1, readFreq), S::C(2, readMode), S::R(readFreq), S::W(readFreq), S::R(freq), S::G(1, freq),
          S::W(readFreq + readMode), S::R(readMode + mode), S::G(2, mode)}},
        {"a transceive report inside a turn reaches everyone",
         {S::C(1, readFreq), S::R(readFreq + report), S::G(1, report), S::G(2, report), S::R(freq),
          S::G(1, report + freq)}},
        {"a frame written before the line went quiet after the last answer still has its echo dropped",
         {S::C(1, readFreq), S::R(readFreq + freq), S::G(1, freq), S::C(1, readMode), S::T(5), S::R(readMode),
          S::R(mode), S::G(1, freq + mode), S::G(2, "")}},
        {"a frame in pieces",
         {S::C(1, readFreq.substr(0, 3)), S::T(5), S::C(1, readFreq.substr(3)), S::W(readFreq),
          S::R(readFreq + freq.substr(0, 5)), S::G(1, ""), S::T(2), S::R(freq.substr(5)), S::G(1, freq)}},
    });
}

TEST(Languages, YaesuAnswersAreCountedByOpcode) {
    const Bytes readFreq = H({0, 0, 0, 0, 0x03});
    const Bytes setFreq = H({0x01, 0x40, 0x74, 0x00, 0x01});
    RunRows({
        {"five bytes answer a read, one acknowledges a set",
         {S::C(1, readFreq), S::C(2, setFreq), S::R(H({0x01, 0x40})), S::G(1, ""), S::T(1), S::R(H({0x74, 0, 1})),
          S::G(1, H({0x01, 0x40, 0x74, 0, 1})), S::W(readFreq + setFreq), S::R(H({0})), S::G(2, H({0}))}},
        {"once the radio is seen not to echo, an acknowledgement goes at once",
         {S::C(1, readFreq), S::R(H({0x01, 0x40, 0x74, 0, 1})), S::C(1, H({0, 0, 0, 0, 0x88})), S::R(H({0})),
          S::G(1, H({0x01, 0x40, 0x74, 0, 1, 0}))},
         1},
        {"written byte by byte, a command goes whole",
         {S::C(1, H({0})), S::T(1), S::C(1, H({0})), S::T(1), S::C(1, H({0, 0})), S::T(1), S::W(""),
          S::C(1, H({0x03})), S::W(readFreq)}},
    });
}

// Reads shared among the clients: one read on its way serves every asker, each in
// its own form and in its own order; a read answered within the window is answered
// again without the radio; whatever may change it sends the next read to the radio.
// Which command drops which read, the meters' shorter window and what the radio's
// reports refresh are SharedReads' own tables; here, that the data path acts on them.
TEST(Languages, ReadsAreSharedAmongTheClientsInEachFamily) {
    const Bytes fa2 = "FA00014074120;";
    const Bytes civRead1 = H({0xFE, 0xFE, 0x94, 0xE0, 0x03, 0xFD}), civRead2 = H({0xFE, 0xFE, 0x94, 0xE1, 0x03, 0xFD});
    const Bytes civFreq1 = H({0xFE, 0xFE, 0xE0, 0x94, 0x03, 0x00, 0x40, 0x07, 0x14, 0x00, 0xFD});
    const Bytes civFreq2 = H({0xFE, 0xFE, 0xE1, 0x94, 0x03, 0x00, 0x40, 0x07, 0x14, 0x00, 0xFD});
    const Bytes ftRead = H({0, 0, 0, 0, 0x03}), ftFreq = H({0x01, 0x40, 0x74, 0x00, 0x01});
    const Bytes ftSet = H({0x01, 0x40, 0x74, 0x12, 0x01}), ftRounded = H({0x01, 0x40, 0x74, 0x10, 0x01});
    const Bytes ftEeprom = H({0x00, 0x55, 0, 0, 0xBB});
    RunRows({
        {"Kenwood: within the window from the answer, after it from the radio",
         {S::C(1, "FA;"), S::R(kFa), S::T(249), S::C(2, "FA;"), S::G(2, kFa), S::T(1), S::C(2, "FA;"), S::T(5),
          S::W("FA;FA;"), S::R(fa2), S::G(2, kFa + fa2)}},
        {"Kenwood: a client awaiting its own answers asks the radio itself, in order",
         {S::C(1, "FA;"), S::R(kFa), S::C(2, "ID;FA;"), S::G(2, ""), S::W("FA;ID;FA;"), S::R("ID019;"),
          S::G(2, "ID019;"), S::R(kFa), S::G(2, "ID019;" + kFa)}},
        {"Kenwood: an answer after one the radio passed over goes out before the report behind it",
         {S::C(1, "FA;FB;"), S::R("FB00014100000;PS1;"), S::G(1, "FB00014100000;PS1;")}},
        {"Kenwood: a read behind its client's own set joins none (written again when its writer left, it went first)",
         {S::C(1, "FA;"), S::R(kFa), S::C(1, "FA;"), S::C(2, "AG0100;FA;"), S::L(1), S::T(5), S::W("FA;FA;AG0100;FA;")},
         2, 0},
        {"Kenwood: a read whose answer has begun is joined by none (they would get bytes said before they asked)",
         {S::C(1, "FA;"), S::R("FA000140"), S::C(2, "FA;"), S::R("74000;"), S::G(1, kFa), S::G(2, ""), S::T(5),
          S::W("FA;FA;")},
         2, 0},
        {"Kenwood: a set, then the radio's rounded value",
         {S::C(1, "FA;"), S::R(kFa), S::C(2, "FA00014074123;"), S::T(20), S::C(1, "FA;"), S::T(5),
          S::W("FA;FA00014074123;FA;"), S::R(fa2), S::G(1, kFa + fa2)}},
        {"Kenwood: a read whose writer left is written again for the next asker, whose answer is the second",
         {S::C(1, "FA;"), S::T(5), S::W("FA;"), S::L(1), S::C(2, "FA;"), S::T(5), S::W("FA;FA;"),
          S::R(kFa + fa2), S::G(2, fa2)}},
        {"Kenwood: a key goes ahead of the reads parked before it (awaited: the dialect is not known)",
         {S::C(1, "FA;"), S::C(2, "MD;"), S::C(3, "TX;"), S::R(kFa), S::T(10), S::W("FA;TX;"), S::T(260),
          S::W("FA;TX;MD;")},
         3},
        {"Kenwood: a window of 0 passes every read, merged while in flight",
         {S::C(1, "FA;"), S::C(2, "FA;"), S::R(kFa), S::G(2, kFa), S::C(2, "FA;"), S::T(5), S::W("FA;FA;")},
         2, 0},
        {"Kenwood, --radio-reports on: AI2 first; its reports reach no client that never said AI, and answer reads",
         {S::C(1, "FA;"), S::C(2, "MD;"), S::T(10), S::W("AI2;FA;"), S::R(kFa), S::G(1, kFa), S::R("MD2;"),
          S::G(2, "MD2;"), S::R("FA00014074100;"), S::T(1000), S::C(2, "FA;"), S::G(2, "MD2;FA00014074100;"),
          S::G(1, kFa), S::T(10), S::W("AI2;FA;MD;")},
         2, -1, true},
        {"CI-V: each asker's answer to its own address; within the window from it",
         {S::C(1, civRead1), S::C(2, civRead2), S::R(civRead1), S::W(civRead1), S::R(civFreq1), S::G(1, civFreq1),
          S::G(2, civFreq2), S::T(100), S::C(2, civRead2), S::G(2, civFreq2 + civFreq2), S::W(civRead1)}},
        {"5-byte: two askers of the frequency, one command; a set, then the rounded value",
         {S::C(1, ftRead), S::C(2, ftRead), S::R(ftFreq), S::G(2, ftFreq), S::C(2, ftSet), S::R(H({0})),
          S::C(1, ftRead), S::T(5), S::W(ftRead + ftSet + ftRead), S::R(ftRounded), S::G(1, ftFreq + ftRounded)}},
        {"5-byte: EEPROM reads are never shared",
         {S::C(1, ftEeprom), S::C(2, ftEeprom), S::R(H({0x12, 0x34})), S::T(5), S::W(ftEeprom + ftEeprom)}},
    });
}

// Bytes in no known language: framed by the line, as for any byte stream.
TEST(Languages, AnUnknownLanguageIsFramedByTheLine) {
    RunRows({
        {"the answer wait ends a turn without an answer",
         {S::C(1, H({0x12, 0x34, 0x56, 0x78, 0x9A})), S::C(2, H({0x11})), S::T(99), S::W(H({0x12, 0x34, 0x56, 0x78, 0x9A})),
          S::T(160), S::W(H({0x12, 0x34, 0x56, 0x78, 0x9A, 0x11}))}},
        {"an answer goes once the line is quiet",
         {S::C(1, H({0x12, 0x34, 0x56, 0x78, 0x9A})), S::T(100), S::R(H({0x01})), S::G(1, ""), S::T(3), S::G(1, H({0x01}))},
         1},
    });
}

}  // namespace
}  // namespace ovrin
