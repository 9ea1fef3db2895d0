// The RFC 2217 codec alone: negotiation, the data path both ways, com-port
// requests and answers, and streams that must end the connection.
#include <gtest/gtest.h>

#include "net/Rfc2217.h"

namespace ovrin::rfc2217 {
using namespace std::string_literals;

namespace {

Bytes Sb(const Bytes& body) { return "\xff\xfa\x2c" + body + "\xff\xf0"; }
Bytes Answer(const Bytes& body) { return Sb(body); }  // the server's side looks the same on the wire
Input Feed(Session& s, const Bytes& bytes) {
    Input in;
    s.Receive(bytes, in);
    return in;
}
Bytes AllBytes() {
    Bytes all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    return all;
}

// What pyserial 3.5 (python3-serial) sent on rfc2217://, captured on a socket:
// opening at 9600 8N2, then `baudrate = 4800`, `rts = True`, `rts = False`.
const Bytes kPyserialOpen =
    "\xff\xfd\x01\xff\xfb\x03\xff\xfd\x03\xff\xfd\x2c\xff\xfb\x2c\xff\xfd\x00\xff\xfb\x00"s +
    Sb(Bytes("\x01\x00\x00\x25\x80", 5)) + Sb("\x02\x08") + Sb("\x03\x01") + Sb("\x04\x02") + Sb("\x05\x01") +
    Sb("\x05\x08") + Sb("\x05\x0b") + Sb("\x0c\x01") + Sb("\x0c\x02");
const Bytes kPyserialLater = Sb(Bytes("\x01\x00\x00\x12\xc0", 5)) + Sb("\x02\x08") + Sb("\x03\x01") +
                             Sb("\x04\x02") + Sb("\x05\x0b") + Sb("\x05\x0c");

TEST(Rfc2217, GreetingThenPyserialsOpenAndChangesAnsweredWithTheValuesItChecks) {
    Session s;
    EXPECT_EQ(s.Greeting(modem::kCts | modem::kDsr | 0x0F),
              "\xff\xfb\x00\xff\xfd\x00\xff\xfb\x03\xff\xfd\x03\xff\xfd\x2c"s + Answer("\x6b\x30"));
    const Input in = Feed(s, kPyserialOpen + kPyserialLater);
    EXPECT_EQ(in.reply, "\xff\xfc\x01\xff\xfb\x2c");  // no ECHO; WILL COM-PORT once; the rest was asked already
    EXPECT_TRUE(in.data.empty());
    const std::vector<std::pair<Command, std::uint32_t>> want = {
        {Command::SetBaudRate, 9600}, {Command::SetDataSize, 8}, {Command::SetParity, 1},
        {Command::SetStopSize, 2},    {Command::SetControl, 1},  {Command::SetControl, 8},
        {Command::SetControl, 11},    {Command::PurgeData, 1},   {Command::PurgeData, 2},
        {Command::SetBaudRate, 4800}, {Command::SetDataSize, 8}, {Command::SetParity, 1},
        {Command::SetStopSize, 2},    {Command::SetControl, 11}, {Command::SetControl, 12}};
    ASSERT_EQ(in.requests.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(in.requests[i].command, want[i].first) << i;
        EXPECT_EQ(in.requests[i].value, want[i].second) << i;
    }
    EXPECT_EQ(s.Answer(Command::SetBaudRate, 4800), Answer(Bytes("\x65\x00\x00\x12\xc0", 5)));
    EXPECT_EQ(s.Answer(Command::SetControl, control::kRtsOn), Answer("\x69\x0b"));
}

TEST(Rfc2217, EveryByteValuePassesBothWaysInAnySplitAroundARequest) {
    const Bytes all = AllBytes();
    EXPECT_EQ(Session::Escape(all), all + "\xff");
    const Bytes stream = Session::Escape(all.substr(0, 128)) + Sb(Bytes("\x01\x00\x00\xff\xff\xff\xff", 7)) +
                         Session::Escape(all.substr(128));
    for (std::size_t cut = 0; cut <= stream.size() + 1; ++cut) {
        Session s;
        Input in;
        if (cut <= stream.size()) {
            s.Receive(stream.substr(0, cut), in);
            s.Receive(stream.substr(cut), in);
        } else {
            for (char c : stream) s.Receive(Bytes(1, c), in);  // byte by byte
        }
        ASSERT_EQ(in.data, all) << cut;
        ASSERT_EQ(in.requests.size(), 1u) << cut;
        EXPECT_EQ(in.requests[0].value, 0xFFFFu) << cut;
        EXPECT_EQ(in.requests[0].at, 128u) << cut;
        EXPECT_TRUE(in.reply.empty() && in.log.empty() && !in.close) << cut;
    }
}

TEST(Rfc2217, OptionsAnsweredOnlyWhenTheirStateChanges) {
    const struct {
        Bytes input, reply;
        bool comPort;
    } cases[] = {
        {"\xff\xfb\x00\xff\xfb\x00\xff\xfd\x03\xff\xfd\x03"s, "", false},  // answers to our own requests
        {"\xff\xfb\x2c\xff\xfb\x2c", "", true},
        {"\xff\xfd\x2c\xff\xfd\x2c", "\xff\xfb\x2c", false},
        {"\xff\xfb\x01\xff\xfd\x01\xff\xfc\x01\xff\xfe\x01", "\xff\xfe\x01\xff\xfc\x01", false},  // refused
        {"\xff\xfb\x03\xff\xfc\x03\xff\xfc\x03\xff\xfb\x03", "\xff\xfe\x03\xff\xfd\x03", false},
        {"\xff\xfe\x00\xff\xfd\x00\xff\xfe\x00"s, "\xff\xfb\x00\xff\xfc\x00"s, false},
        {"\xff\xfc\x2c" + Sb("\x05\x0a"), "", true},  // no WILL: its first request switches it on
    };
    for (const auto& c : cases) {
        Session s;
        s.Greeting(0);
        const Input in = Feed(s, c.input);
        EXPECT_EQ(in.reply, c.reply) << testing::PrintToString(c.input);
        EXPECT_EQ(s.ComPortActive(), c.comPort) << testing::PrintToString(c.input);
    }
}

TEST(Rfc2217, EachRequestWithItsValueAndMalformedOnesLogged) {
    const struct {
        Bytes body;
        Command command;
        std::uint32_t value;
        Bytes text;
    } cases[] = {
        {Bytes("\x00", 1), Command::Signature, 0, ""},
        {Bytes("\x00WSJT\xff\xff", 7), Command::Signature, 0, "WSJT\xff"},
        {Bytes("\x01\x00\x01\xc2\x00", 5), Command::SetBaudRate, 115200, ""},
        {Bytes("\x01\x00\x00\x00\x00", 5), Command::SetBaudRate, 0, ""},
        {Bytes("\x02\x00", 2), Command::SetDataSize, 0, ""},
        {"\x03\x03", Command::SetParity, 3, ""},
        {"\x04\x03", Command::SetStopSize, 3, ""},
        {Bytes("\x05\x00", 2), Command::SetControl, control::kFlowQuery, ""},
        {"\x05\x05", Command::SetControl, control::kBreakOn, ""},
        {"\x05\x0d", Command::SetControl, control::kInFlowQuery, ""},
        {"\x06", Command::NotifyLineState, 0, ""},
        {"\x07", Command::NotifyModemState, 0, ""},
        {"\x08", Command::FlowControlSuspend, 0, ""},
        {"\x09", Command::FlowControlResume, 0, ""},
        {"\x0a\xff\xff", Command::SetLineStateMask, 0xFF, ""},
        {"\x0b\x30", Command::SetModemStateMask, 0x30, ""},
        {"\x0c\x03", Command::PurgeData, purge::kBoth, ""},
    };
    for (const auto& c : cases) {
        Session s;
        const Input in = Feed(s, Sb(c.body));
        ASSERT_EQ(in.requests.size(), 1u) << testing::PrintToString(c.body);
        EXPECT_EQ(in.requests[0].command, c.command);
        EXPECT_EQ(in.requests[0].value, c.value);
        EXPECT_EQ(in.requests[0].text, c.text);
        EXPECT_TRUE(s.ComPortActive());
    }
    for (const Bytes& ignored : {Sb(Bytes("\x01\x00\x25\x80", 4)), Sb("\x02"), Sb("\x63\x01"), Sb("\x65\x08"),
                                 Bytes("\xff\xfa\x18\x01\xff\xf0"), Bytes("\xff\xfa\xff\xf0"), Bytes("\xff\xf3")}) {
        Session s;
        const Input in = Feed(s, ignored + "A");
        EXPECT_TRUE(in.requests.empty());
        EXPECT_EQ(in.log.size(), 1u) << testing::PrintToString(ignored);
        EXPECT_EQ(in.data, "A");  // still in step
    }
}

TEST(Rfc2217, AnswersAndNotificationsEncodedWithIacDoubledAndMasksHonoured) {
    Session s;
    s.Greeting(modem::kCts | modem::kDsr);
    const struct {
        Command command;
        std::uint32_t applied;
        Bytes wire;
    } cases[] = {
        {Command::SetBaudRate, 0x01FF00FF, Answer(Bytes("\x65\x01\xff\xff\x00\xff\xff", 7))},
        {Command::SetDataSize, 7, Answer("\x66\x07")},
        {Command::SetParity, 1, Answer("\x67\x01")},
        {Command::SetControl, control::kRtsOff, Answer("\x69\x0c")},
        {Command::PurgeData, purge::kToPort, Answer("\x70\x02")},
        {Command::FlowControlSuspend, 0, ""},
        {Command::SetLineStateMask, 0xFF, Answer("\x6e\xff\xff")},
    };
    for (const auto& c : cases) EXPECT_EQ(s.Answer(c.command, c.applied), c.wire) << c.applied;
    EXPECT_EQ(Session::Signature("Ovrin\xff"), Answer("\x64Ovrin\xff\xff"));

    EXPECT_EQ(s.LineState(0x01), Answer("\x6a\x01"));
    EXPECT_EQ(s.ModemState(modem::kCts | modem::kDsr), "");                     // as greeted
    EXPECT_EQ(s.ModemState(modem::kCts | modem::kRi), Answer("\x6b\x52"));      // DSR dropped, RI rose
    EXPECT_EQ(s.ModemState(modem::kCts), Answer("\x6b\x14"));                   // RI's trailing edge
    EXPECT_EQ(s.Answer(Command::SetModemStateMask, modem::kCd), Answer("\x6f\x80"));
    EXPECT_EQ(s.ModemState(0), "");                                              // CTS outside the mask
    EXPECT_EQ(s.ModemState(modem::kCd), Answer("\x6b\x80"));
    EXPECT_EQ(s.Answer(Command::SetLineStateMask, 0), Answer(Bytes("\x6e\x00", 2)));
    EXPECT_EQ(s.LineState(0xFF), "");
}

TEST(Rfc2217, AStreamThatCannotBeFollowedClosesAndNothingOfItReachesThePort) {
    const Bytes tooLong = "\xff\xfa\x2c\x00"s + Bytes(Session::kMaxSubnegotiation, 'x') + "\xff\xf0";
    for (const Bytes& bad : {tooLong, Bytes("\xff\xfa\x2c\x05\x0b\xff\x41\x05\xff\xf0"),
                             Bytes("\xff\xfa\x2c\x05\xff\xfb\x0b" "ABC")}) {
        Session s;
        Input in;
        s.Receive("ok", in);
        for (char c : bad + "tail") s.Receive(Bytes(1, c), in);
        EXPECT_TRUE(in.close && !in.error.empty() && s.Closed()) << testing::PrintToString(bad);
        EXPECT_EQ(in.data, "ok");
        EXPECT_TRUE(in.requests.empty());
    }
}

}  // namespace
}  // namespace ovrin::rfc2217
