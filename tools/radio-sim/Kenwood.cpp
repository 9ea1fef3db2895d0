// The TS-2000's text commands, as hamlib's model 2014 and most loggers use them.
#include "Cat.h"

#include <algorithm>
#include <cstdio>

namespace ovrin::radiosim {
namespace {

constexpr std::size_t kFrequencyDigits = 11;

struct ModeCode {
    char code;
    RadioMode mode;
};
constexpr ModeCode kModes[] = {{'1', RadioMode::Lsb}, {'2', RadioMode::Usb}, {'3', RadioMode::Cw},  {'4', RadioMode::Fm},
                               {'5', RadioMode::Am},  {'6', RadioMode::Fsk}, {'7', RadioMode::CwR}, {'9', RadioMode::FskR}};

char CodeOf(RadioMode mode) {
    for (const ModeCode& m : kModes)
        if (m.mode == mode) return m.code;
    return '2';
}

bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Frequency(std::uint64_t hz) {
    char text[24];
    std::snprintf(text, sizeof text, "%011llu", static_cast<unsigned long long>(hz));
    return text;
}

// The TS-2000 status word, 38 bytes: frequency, step, RIT/XIT, memory, TX/RX
// (offset 28), mode (29), VFO (30), scan, split (32), tone. While transmitting
// split it shows the transmit frequency, as the radio's display does.
std::string Information(const RadioState& radio) {
    const int shown = radio.ptt ? radio.tx : radio.rx;
    std::string s = "IF" + Frequency(radio.vfo[shown]) + "     " + "+0000" + "0" + "0" + "000";
    s += radio.ptt ? '1' : '0';
    s += CodeOf(radio.mode[radio.rx]);
    s += static_cast<char>('0' + radio.rx);
    s += '0';
    s += radio.Split() ? '1' : '0';
    s += "0000;";
    return s;
}

}  // namespace

std::vector<Exchange> KenwoodRadio::Feed(std::string_view bytes) {
    std::vector<Exchange> exchanges;
    for (const std::string& command : parser_.Feed(bytes)) exchanges.push_back(Command(command));
    return exchanges;
}

Exchange KenwoodRadio::Command(std::string_view command) {
    Exchange exchange;
    exchange.ptt = state_.ptt;
    if (command.size() < 3 || command.back() != ';') {
        exchange.answer = "?;";
        return exchange;
    }
    exchange.name = command.substr(0, 2);
    const RadioState before = state_;
    exchange.answer = Answer(exchange.name, command.substr(2, command.size() - 3));
    exchange.reports = Reports(before);
    exchange.ptt = state_.ptt;
    return exchange;
}

std::string KenwoodRadio::TurnKnob(std::uint64_t hz) {
    const RadioState before = state_;
    state_.vfo[0] = hz;
    return Reports(before);
}

std::string KenwoodRadio::Answer(std::string_view name, std::string_view argument) {
    const std::string read = std::string(name);
    const bool reading = argument.empty();
    if (name == "FA" || name == "FB") {
        std::uint64_t& vfo = state_.vfo[name == "FB"];
        if (reading) return read + Frequency(vfo) + ";";
        if (argument.size() != kFrequencyDigits || !AllDigits(argument)) return "?;";
        vfo = state_.Tuned(std::stoull(std::string(argument)));
        return {};
    }
    if (name == "MD") {
        if (reading) return read + CodeOf(state_.mode[state_.rx]) + ";";
        const auto* m = std::find_if(std::begin(kModes), std::end(kModes),
                                     [&](const ModeCode& c) { return argument.size() == 1 && c.code == argument[0]; });
        if (m == std::end(kModes)) return "?;";
        state_.mode[state_.rx] = m->mode;
        return {};
    }
    if (name == "AI") {
        if (reading) return read + autoInfo_ + ";";
        if (argument.size() != 1 || argument[0] < '0' || argument[0] > '2') return "?;";
        autoInfo_ = argument[0];
        return {};
    }
    // FR picks the receive VFO and transmits on it too; FT then picks another to
    // transmit on, which is how the TS-2000 goes split.
    if (name == "FR" || name == "FT") {
        int& vfo = name == "FR" ? state_.rx : state_.tx;
        if (reading) return read + static_cast<char>('0' + vfo) + ";";
        if (argument != "0" && argument != "1") return "?;";
        vfo = argument[0] - '0';
        if (name == "FR") state_.tx = vfo;
        return {};
    }
    if (name == "TX" && (reading || (argument.size() == 1 && argument[0] >= '0' && argument[0] <= '2'))) {
        state_.ptt = true;
        return {};
    }
    if (name == "RX" && reading) {
        state_.ptt = false;
        return {};
    }
    // The S-meter of the main (0) or sub (1) receiver, 0000 to 0030: a steady S3,
    // so a meter's reads all look alike and only their letters tell them apart.
    if (name == "SM") return argument == "0" || argument == "1" ? read + std::string(argument) + "0005;" : "?;";
    if (!reading) return "?;";
    if (name == "ID") return "ID019;";
    if (name == "PS") return "PS1;";
    if (name == "IF") return Information(state_);
    if (name == "SA") return "SA0000000        ;";  // satellite mode off; hamlib asks before picking a VFO
    return "?;";
}

std::string KenwoodRadio::Reports(const RadioState& before) const {
    if (autoInfo_ == '0') return {};
    std::string out;
    if (state_.vfo[0] != before.vfo[0]) out += "FA" + Frequency(state_.vfo[0]) + ";";
    if (state_.vfo[1] != before.vfo[1]) out += "FB" + Frequency(state_.vfo[1]) + ";";
    if (state_.mode[state_.rx] != before.mode[before.rx]) out += std::string("MD") + CodeOf(state_.mode[state_.rx]) + ";";
    if (state_.rx != before.rx) out += std::string("FR") + static_cast<char>('0' + state_.rx) + ";";
    if (state_.tx != before.tx) out += std::string("FT") + static_cast<char>('0' + state_.tx) + ";";
    if (!out.empty() || state_.ptt != before.ptt) out += Information(state_);
    return out;
}

}  // namespace ovrin::radiosim
