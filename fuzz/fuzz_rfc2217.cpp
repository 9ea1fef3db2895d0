// Fuzz target: the remote serial port's telnet codec. The input is a client's byte
// stream (its first byte chooses where to split it). Properties:
//  - split invariance: the stream whole, split at the chosen points and byte by
//    byte gives the same data, replies, requests, log and close;
//  - the data round trip: port data escaped for the client and read back by a
//    fresh session is the same data, and nothing else;
//  - every answer parses: IAC SB COM-PORT-OPTION, the command + 100, the value
//    with IAC doubled, IAC SE, the value as long as the command's.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "rfc2217/Rfc2217.h"

namespace {

using namespace ovrin;
using fuzz::Escaped;
using fuzz::Require;
namespace r = ovrin::rfc2217;

std::string Describe(const r::Input& in) {
    std::string d = "data \"" + Escaped(in.data) + "\" reply \"" + Escaped(in.reply) + "\"";
    for (const r::Request& q : in.requests)
        d += " request " + std::to_string(static_cast<int>(q.command)) + "=" + std::to_string(q.value) + "@" +
             std::to_string(q.at) + "\"" + Escaped(q.text) + "\"";
    for (const std::string& l : in.log) d += " log \"" + l + "\"";
    if (in.close) d += " close \"" + in.error + "\"";
    return d;
}

r::Input Run(const std::string& stream, const std::vector<std::size_t>& cuts) {
    r::Session s;
    s.Greeting(0x30);
    r::Input in;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        s.Receive(std::string_view(stream).substr(from, cut - from), in);
        from = cut;
    }
    s.Receive(std::string_view(stream).substr(from), in);
    return in;
}

// An answer as the client reads it: the value, or a reason it does not parse.
bool Parses(const std::string& sub, uint8_t code, std::string& value) {
    if (sub.size() < 6 || sub.compare(0, 3, "\xFF\xFA\x2C") != 0 || static_cast<uint8_t>(sub[3]) != code + 100 ||
        sub.compare(sub.size() - 2, 2, "\xFF\xF0") != 0)
        return false;
    for (std::size_t i = 4; i < sub.size() - 2; ++i) {
        if (static_cast<uint8_t>(sub[i]) == 0xFF) {
            if (i + 1 >= sub.size() - 2 || static_cast<uint8_t>(sub[i + 1]) != 0xFF) return false;
            ++i;
        }
        value += sub[i];
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const uint8_t seed = data[0];
    const std::string stream(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::vector<std::size_t> cuts, every;
    for (std::size_t i = 1; i < stream.size(); ++i) {
        if ((i * 31 + seed) % 7 == 0) cuts.push_back(i);
        every.push_back(i);
    }
    const r::Input whole = Run(stream, {});
    const std::string expected = Describe(whole);
    Require(Describe(Run(stream, cuts)) == expected, "the same output split", expected);
    Require(Describe(Run(stream, every)) == expected, "the same output byte by byte", expected);

    r::Session back;
    r::Input echoed;
    back.Receive(r::Session::Escape(whole.data), echoed);
    Require(echoed.data == whole.data && echoed.reply.empty() && echoed.requests.empty() && echoed.log.empty() &&
                !echoed.close,
            "escaped port data reads back as itself", Describe(echoed));

    r::Session s;
    for (const r::Request& q : whole.requests) {
        const auto code = static_cast<uint8_t>(q.command);
        const std::string answer = q.command == r::Command::Signature ? r::Session::Signature(q.text + "x")
                                                                         : s.Answer(q.command, q.value);
        if (answer.empty()) continue;
        std::string value;
        Require(Parses(answer, code, value), "an answer parses", Escaped(answer));
        const std::size_t width = q.command == r::Command::SetBaudRate ? 4
                                  : q.command == r::Command::Signature ? q.text.size() + 1
                                                                       : 1;
        Require(value.size() == width, "an answer's value has its command's width", Escaped(answer));
    }
    std::string lines;
    const std::string modem = s.ModemState(seed);
    Require(modem.empty() || Parses(modem, 7, lines), "a modem state report parses", Escaped(modem));
    return 0;
}
