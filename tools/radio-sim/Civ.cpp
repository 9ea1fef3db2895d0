// The IC-7300's CI-V frames, as hamlib's model 3073 uses them.
#include "Cat.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace ovrin::radiosim {
namespace {

constexpr unsigned char kPreamble = 0xFE;
constexpr unsigned char kEnd = 0xFD;
constexpr unsigned char kJammed = 0xFC;  // sent by a station that heard a collision
constexpr std::size_t kFrameLimit = 64;
constexpr std::size_t kFrequencyBytes = 5;
// Filter widths are numbered 00..40 in BCD: 50 Hz steps to 500 Hz (09), then 100 Hz steps to 3600 Hz.
constexpr std::uint64_t kWidestFilter = 40;
const std::string kOk = "\xFB";
const std::string kNg = "\xFA";

struct ModeCode {
    unsigned char code;
    RadioMode mode;
};
constexpr ModeCode kModes[] = {{0x00, RadioMode::Lsb}, {0x01, RadioMode::Usb}, {0x02, RadioMode::Am},  {0x03, RadioMode::Cw},
                               {0x04, RadioMode::Fsk}, {0x05, RadioMode::Fm},  {0x07, RadioMode::CwR}, {0x08, RadioMode::FskR}};

char CodeOf(RadioMode mode) {
    for (const ModeCode& m : kModes)
        if (m.mode == mode) return static_cast<char>(m.code);
    return 0x01;
}

bool ModeOf(char code, RadioMode& mode) {
    const auto* m = std::find_if(std::begin(kModes), std::end(kModes),
                                 [&](const ModeCode& c) { return c.code == static_cast<unsigned char>(code); });
    if (m == std::end(kModes)) return false;
    mode = m->mode;
    return true;
}

unsigned At(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (const int v : values) s += static_cast<char>(v);
    return s;
}

bool SetFrequency(const RadioState& state, std::uint64_t& vfo, std::string_view data) {
    std::uint64_t hz = 0;
    if (data.size() != kFrequencyBytes || !FromBcd(data, true, hz) || hz == 0) return false;
    vfo = state.Tuned(hz);
    return true;
}

}  // namespace

std::vector<Exchange> CivRadio::Feed(std::string_view bytes) {
    std::vector<Exchange> exchanges;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (buffer_.empty() && b != kPreamble) continue;  // noise between frames
        if (buffer_.size() == 1 && b != kPreamble) {
            buffer_.clear();
            continue;
        }
        if (buffer_.size() == 2 && b == kPreamble) continue;  // a longer preamble
        if (b == kJammed) {
            buffer_.clear();
            continue;
        }
        buffer_ += c;
        if (b == kEnd) {
            Exchange exchange;
            if (Handle(buffer_, exchange)) exchanges.push_back(std::move(exchange));
            buffer_.clear();
        } else if (buffer_.size() >= kFrameLimit) {
            buffer_.clear();
        }
    }
    return exchanges;
}

bool CivRadio::Handle(std::string_view frame, Exchange& exchange) {
    // FE FE to from command FD at the least; frames to other radios are theirs.
    if (frame.size() < 6 || static_cast<unsigned char>(frame[2]) != address_) return false;
    const auto from = static_cast<std::uint8_t>(frame[3]);
    const auto command = static_cast<std::uint8_t>(frame[4]);
    char name[3];
    std::snprintf(name, sizeof name, "%02X", command);
    exchange.name = name;
    const RadioState before = state_;
    exchange.answer = FrameTo(from, Body(command, frame.substr(5, frame.size() - 6)));
    exchange.reports = Reports(before);
    exchange.ptt = state_.ptt;
    return true;
}

std::string CivRadio::Body(std::uint8_t command, std::string_view data) {
    std::uint64_t& frequency = state_.vfo[state_.rx];
    RadioMode& mode = state_.mode[state_.rx];
    const int sub = data.empty() ? -1 : static_cast<int>(At(data, 0));
    const std::string_view rest = data.empty() ? data : data.substr(1);
    switch (command) {
    case 0x03:  // read the frequency
        return data.empty() ? "\x03" + ToBcd(frequency, kFrequencyBytes, true) : kNg;
    case 0x04:  // read the mode and filter
        return data.empty() ? Bytes({0x04, CodeOf(mode), filter_}) : kNg;
    case 0x05:  // set the frequency
        return SetFrequency(state_, frequency, data) ? kOk : kNg;
    case 0x06: {  // set the mode, the filter optional
        RadioMode m{};
        if (data.empty() || data.size() > 2 || !ModeOf(data[0], m)) return kNg;
        if (data.size() == 2 && (At(data, 1) < 1 || At(data, 1) > 3)) return kNg;
        mode = m;
        if (data.size() == 2) filter_ = static_cast<std::uint8_t>(At(data, 1));
        return kOk;
    }
    case 0x07:  // VFO: A, B, B=A, A<>B; alone it only leaves memory mode
        if (data.empty()) return kOk;
        if (data.size() != 1) return kNg;
        if (sub == 0x00 || sub == 0x01) {
            state_.tx = state_.Split() ? 1 - sub : sub;
            state_.rx = sub;
        } else if (sub == 0xA0) {
            state_.vfo[1 - state_.rx] = state_.vfo[state_.rx];
            state_.mode[1 - state_.rx] = state_.mode[state_.rx];
        } else if (sub == 0xB0) {
            std::swap(state_.vfo[0], state_.vfo[1]);
            std::swap(state_.mode[0], state_.mode[1]);
        } else {
            return kNg;
        }
        return kOk;
    case 0x0F:  // split: read, off, on (transmitting on the other VFO)
        if (data.empty()) return Bytes({0x0F, state_.Split() ? 1 : 0});
        if (data.size() != 1 || sub > 1) return kNg;
        state_.tx = sub == 1 ? 1 - state_.rx : state_.rx;
        return kOk;
    case 0x19:  // the transceiver's address
        return data.size() == 1 && sub == 0x00 ? Bytes({0x19, 0x00, address_}) : kNg;
    case 0x1A:  // 03: the selected filter's width; 06: data mode and its filter
        if (sub == 0x03) {
            std::uint8_t& width = widths_[filter_ - 1];
            if (rest.empty()) return Bytes({0x1A, 0x03, width});
            std::uint64_t index = 0;
            if (rest.size() != 1 || !FromBcd(rest, true, index) || index > kWidestFilter) return kNg;
            width = static_cast<std::uint8_t>(rest[0]);
            return kOk;
        }
        if (sub != 0x06) return kNg;
        if (rest.empty()) return Bytes({0x1A, 0x06, data_ ? 1 : 0, data_ ? filter_ : 0});
        if (rest.size() != 2 || At(rest, 0) > 1 || At(rest, 1) > 3 || (At(rest, 0) == 1 && At(rest, 1) == 0)) return kNg;
        data_ = At(rest, 0) == 1;
        if (data_) filter_ = static_cast<std::uint8_t>(At(rest, 1));
        return kOk;
    case 0x1C:  // 00: transmit, read or keyed (01) and released (00)
        if (sub != 0x00) return kNg;
        if (rest.empty()) return Bytes({0x1C, 0x00, state_.ptt ? 1 : 0});
        if (rest.size() != 1 || At(rest, 0) > 1) return kNg;
        state_.ptt = At(rest, 0) == 1;
        return kOk;
    case 0x25: {  // frequency of the selected (00) or the other (01) VFO
        if (sub != 0x00 && sub != 0x01) return kNg;
        std::uint64_t& vfo = state_.vfo[sub == 0 ? state_.rx : 1 - state_.rx];
        if (rest.empty()) return Bytes({0x25, sub}) + ToBcd(vfo, kFrequencyBytes, true);
        return SetFrequency(state_, vfo, rest) ? kOk : kNg;
    }
    case 0x26: {  // mode, data mode and filter of the selected (00) or the other (01) VFO
        if (sub != 0x00 && sub != 0x01) return kNg;
        RadioMode& m = state_.mode[sub == 0 ? state_.rx : 1 - state_.rx];
        if (rest.empty()) return Bytes({0x26, sub, CodeOf(m), data_ ? 1 : 0, filter_});
        RadioMode wanted{};
        if (rest.size() > 3 || !ModeOf(rest[0], wanted)) return kNg;
        if (rest.size() >= 2 && At(rest, 1) > 1) return kNg;
        if (rest.size() == 3 && (At(rest, 2) < 1 || At(rest, 2) > 3)) return kNg;
        m = wanted;
        if (rest.size() >= 2) data_ = At(rest, 1) == 1;
        if (rest.size() == 3) filter_ = static_cast<std::uint8_t>(At(rest, 2));
        return kOk;
    }
    default:
        return kNg;
    }
}

std::string CivRadio::TurnKnob(std::uint64_t hz) {
    const RadioState before = state_;
    state_.vfo[0] = hz;
    return Reports(before);
}

// Transceive: what the display shows, the received frequency and mode, to all.
std::string CivRadio::Reports(const RadioState& before) const {
    if (!transceive_) return {};
    std::string out;
    if (state_.rx != before.rx || state_.vfo[state_.rx] != before.vfo[before.rx])
        out += FrameTo(0x00, Bytes({0x00}) + ToBcd(state_.vfo[state_.rx], kFrequencyBytes, true));
    if (state_.rx != before.rx || state_.mode[state_.rx] != before.mode[before.rx])
        out += FrameTo(0x00, Bytes({0x01, CodeOf(state_.mode[state_.rx]), filter_}));
    return out;
}

std::string CivRadio::FrameTo(std::uint8_t to, std::string_view body) const {
    return Bytes({kPreamble, kPreamble, to, address_}) + std::string(body) + static_cast<char>(kEnd);
}

}  // namespace ovrin::radiosim
