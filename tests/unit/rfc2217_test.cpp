// The RFC 2217 codec alone: negotiation, the data path both ways, com-port
// requests and answers, and streams that must end the connection.
#include <gtest/gtest.h>

#include "rfc2217/Rfc2217.h"

namespace ovrin::rfc2217 {
using namespace std::string_literals;
namespace {

Bytes Sb(const Bytes& body) { return "\xff\xfa\x2c" + body + "\xff\xf0"; }  // either side's, on the wire
Input Feed(Session& s, const Bytes& bytes) { Input in; s.Receive(bytes, in); return in; }
// Requests as "command:value@offset", a signature's text in quotes.
std::string Render(const Input& in) {
    std::string out;
    for (const Request& r : in.requests)
        out += std::to_string(static_cast<int>(r.command)) + ":" + (r.command == Command::Signature ? "'" + r.text + "'"
               : std::to_string(r.value)) + "@" + std::to_string(r.at) + " ";
    return out;
}

// What pyserial 3.5 (python3-serial) sent on rfc2217://, captured on a socket:
// opening at 9600 8N2, then `baudrate = 4800`, `rts = True`, `rts = False`.
const Bytes kPyserial = "\xff\xfd\x01\xff\xfb\x03\xff\xfd\x03\xff\xfd\x2c\xff\xfb\x2c\xff\xfd\x00\xff\xfb\x00"s +
                        Sb("\x01\x00\x00\x25\x80"s) + Sb("\x02\x08") + Sb("\x03\x01") + Sb("\x04\x02") +
                        Sb("\x05\x01") + Sb("\x05\x08") + Sb("\x05\x0b") + Sb("\x0c\x01") + Sb("\x0c\x02") +
                        Sb("\x01\x00\x00\x12\xc0"s) + Sb("\x02\x08") + Sb("\x03\x01") + Sb("\x04\x02") +
                        Sb("\x05\x0b") + Sb("\x05\x0c");

TEST(Rfc2217, GreetingThenPyserialsOpenAndChanges) {
    Session s;
    EXPECT_EQ(s.Greeting(modem::kCts | modem::kDsr | 0x0F),
              "\xff\xfb\x00\xff\xfd\x00\xff\xfb\x03\xff\xfd\x03\xff\xfd\x2c"s + Sb("\x6b\x30"));
    const Input in = Feed(s, kPyserial);
    EXPECT_EQ(in.reply, "\xff\xfc\x01\xff\xfb\x2c");  // no ECHO; WILL COM-PORT once; the rest was asked already
    EXPECT_EQ(Render(in), "1:9600@0 2:8@0 3:1@0 4:2@0 5:1@0 5:8@0 5:11@0 12:1@0 12:2@0 "
                          "1:4800@0 2:8@0 3:1@0 4:2@0 5:11@0 5:12@0 ");
    EXPECT_TRUE(in.data.empty() && in.log.empty());
}

TEST(Rfc2217, EveryByteValuePassesBothWaysInAnySplitAroundARequest) {
    Bytes all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    EXPECT_EQ(Session::Escape(all), all + "\xff");
    const Bytes stream = Session::Escape(all.substr(0, 128)) + Sb("\x01\x00\x00\xff\xff\xff\xff"s) +
                         Session::Escape(all.substr(128));
    for (std::size_t cut = 0; cut <= stream.size() + 1; ++cut) {
        Session s;
        Input in;
        if (cut <= stream.size()) s.Receive(stream.substr(0, cut), in), s.Receive(stream.substr(cut), in);
        else for (char c : stream) s.Receive(Bytes(1, c), in);  // byte by byte
        ASSERT_EQ(in.data, all) << cut;
        EXPECT_EQ(Render(in), "1:65535@128 ") << cut;
        EXPECT_TRUE(in.reply.empty() && in.log.empty() && !in.close) << cut;
    }
}

TEST(Rfc2217, OptionsAnsweredOnlyWhenTheirStateChanges) {
    const struct { Bytes input, reply; bool comPort; } cases[] = {
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
        EXPECT_EQ(Feed(s, c.input).reply, c.reply) << testing::PrintToString(c.input);
        EXPECT_EQ(s.ComPortActive(), c.comPort) << testing::PrintToString(c.input);
    }
}

TEST(Rfc2217, EachRequestWithItsValueAndMalformedOnesLoggedAndSkipped) {
    const Bytes requests[] = {"\x00"s, "\x00WSJT\xff\xff"s, "\x01\x00\x01\xc2\x00"s, "\x01\x00\x00\x00\x00"s,
                              "\x02\x00"s, "\x03\x03", "\x04\x03", "\x05\x00"s, "\x05\x05", "\x05\x0d", "\x06",
                              "\x07", "\x08", "\x09", "\x0a\xff\xff", "\x0b\x30", "\x0c\x03"};
    const Bytes ignored[] = {Sb("\x01\x00\x25\x80"s), Sb("\x02"), Sb("\x63\x01"), Sb("\x65\x08"),
                             "\xff\xfa\x18\x01\xff\xf0", "\xff\xfa\xff\xf0", "\xff\xf3", "\xff\x41"};
    Bytes stream;
    for (const Bytes& r : requests) stream += Sb(r) + "d";
    for (const Bytes& bad : ignored) stream += bad + "x";
    Session s;
    const Input in = Feed(s, stream);
    EXPECT_EQ(Render(in), "0:''@0 0:'WSJT\xff'@1 1:115200@2 1:0@3 2:0@4 3:3@5 4:3@6 5:0@7 5:5@8 5:13@9 6:0@10 "
                          "7:0@11 8:0@12 9:0@13 10:255@14 11:48@15 12:3@16 ");
    EXPECT_EQ(in.data, Bytes(17, 'd') + Bytes(8, 'x'));  // still in step after each
    EXPECT_EQ(in.log.size(), 8u);
    EXPECT_TRUE(s.ComPortActive() && !in.close);
}

TEST(Rfc2217, AnswersAndNotificationsEncodedWithIacDoubledAndMasksHonoured) {
    Session s;
    s.Greeting(modem::kCts | modem::kDsr);
    EXPECT_EQ(s.LineState(0xFF), "");  // nothing until the client sets a mask
    const struct { Command command; std::uint32_t applied; Bytes wire; } cases[] = {
        {Command::SetBaudRate, 0x01FF00FF, Sb("\x65\x01\xff\xff\x00\xff\xff"s)},
        {Command::SetDataSize, 7, Sb("\x66\x07")},
        {Command::SetBaudRate, 4800, Sb("\x65\x00\x00\x12\xc0"s)},  // as pyserial checks them
        {Command::SetControl, control::kRtsOff, Sb("\x69\x0c")},
        {Command::PurgeData, purge::kToPort, Sb("\x70\x02")},
        {Command::FlowControlSuspend, 0, ""},
        {Command::SetLineStateMask, 0xFF, Sb("\x6e\xff\xff")},
    };
    for (const auto& c : cases) EXPECT_EQ(s.Answer(c.command, c.applied), c.wire) << c.applied;
    EXPECT_EQ(Session::Signature("Ovrin\xff"), Sb("\x64Ovrin\xff\xff"));

    EXPECT_EQ(s.LineState(0x01), Sb("\x6a\x01"));
    EXPECT_EQ(s.ModemState(modem::kCts | modem::kDsr), "");                 // as greeted
    EXPECT_EQ(s.ModemState(modem::kCts | modem::kRi), Sb("\x6b\x52"));      // DSR dropped, RI rose
    EXPECT_EQ(s.ModemState(modem::kCts), Sb("\x6b\x14"));                   // RI's trailing edge
    EXPECT_EQ(s.Answer(Command::SetModemStateMask, modem::kCd), Sb("\x6f\x80"));
    EXPECT_EQ(s.ModemState(0), "");                                         // CTS outside the mask
    EXPECT_EQ(s.ModemState(modem::kCd), Sb("\x6b\x80"));
}

TEST(Rfc2217, AStreamThatCannotBeFollowedClosesAndNothingOfItReachesThePort) {
    const Bytes tooLong = "\xff\xfa\x2c\x00"s + Bytes(Session::kMaxSubnegotiation, 'x') + "\xff\xf0";
    for (const Bytes& bad : {tooLong, "\xff\xfa\x2c\x05\x0b\xff\x41\x05\xff\xf0"s, "\xff\xfa\x2c\x05\xff\xfb\x0b"s}) {
        Session s;
        Input in;
        s.Receive("ok", in);
        for (char c : bad + "tail") s.Receive(Bytes(1, c), in);
        EXPECT_TRUE(in.close && !in.error.empty() && s.Closed()) << testing::PrintToString(bad);
        EXPECT_TRUE(in.data == "ok" && in.requests.empty());
    }
}

}  // namespace
}  // namespace ovrin::rfc2217
