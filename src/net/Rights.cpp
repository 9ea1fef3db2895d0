#include "net/Rights.h"

#include "station/OptionsText.h"

namespace ovrin {
namespace {

// The server's own read of the frequency, ahead of what waits for the port: its
// answer reaches nobody, but the radio's frequency is taken from it. False when the
// radio's language has no read the server can make (no language, CI-V before any
// client's frame gave the addresses).
bool AskFrequency(Station& station) {
    const cat::Language language = station.turns.RadioLanguage();
    const cat::Command read = cat::FrequencyRead(language, cat::Command{station.civFrame, {}, {}, {}, {}});
    if (read.bytes.empty()) return false;
    Turns::Block block{{}, true, language, {}, {}};
    block.Add(read.bytes, read.answer);
    SubmitToPort(station, kServerWrites, std::move(block), true);
    return true;
}

}  // namespace

bool FrequencyAskedBeforeKey(Station& station, const Connection& c) {
    if (c.role != cat::Role::Transmit || station.settings.options.txAllowed.empty() ||
        station.transmitter.Owner() == c.identity || station.FrequencyWithin(kFrequencyFreshMs))
        return false;
    return AskFrequency(station);
}

std::optional<std::string> KeyRefusal(Station& station, KeyRequest& r) {
    const Connection* c = station.connections.ById(r.who);
    const cat::Role role = c ? c->role : cat::Role::Monitor;
    r.role = cat::Name(role);
    if (role != cat::Role::Transmit) return "a client in the " + r.role + " role may not transmit";
    const auto hz = station.FrequencyWithin(kFrequencyFreshMs);
    if (hz) r.hz = *hz;
    const std::vector<Band>& bands = station.settings.options.txAllowed;
    if (bands.empty()) return std::nullopt;
    if (!hz) {
        if (c && c->frequencyAskedMs >= 0) return "the radio did not tell its frequency when asked";
        if (!AskFrequency(station)) return "the radio's frequency cannot be read (its command language has no read)";
        return "the radio's frequency is unknown or older than " + std::to_string(kFrequencyFreshMs) +
               " ms: asked the radio now, key again";
    }
    if (!InBands(bands, *hz))
        return "outside the allowed bands: " + Megahertz(*hz) + ", allowed " + BandsText(bands) + " Hz";
    return std::nullopt;
}

}  // namespace ovrin
