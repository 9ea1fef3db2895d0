#include "model/Station.h"

#include <algorithm>

namespace ovrin {

Station::Station(CommControl& com, SocketArray& sockets, Dialogs& dlg, Host& h, Log& l)
    : comPort(com), tcpServer(sockets), dialogs(dlg), host(h), log(l) {
    // Reads are shared on the program's own clock.
    turns.SetClock([this] { return static_cast<uint64_t>(std::max<int64_t>(host.MonotonicMs(), 0)); });
}

void Station::ChangeSettings(const StationSettings& s) {
    settings = s;
    transmitter.SetLine(s.options.pttLine);
    ShareReads();
    SettingsChanged();
}

void Station::TakeOptions(const ServerOptions& o) {
    settings.options = o;
    transmitter.SetLine(o.pttLine);
    ShareReads();
}

void Station::ShareReads() {
    turns.Shared().SetWindowMs(static_cast<uint64_t>(std::max(settings.options.cacheMs, 0)));
    // The radio's reports keep what they carry fresh while they are known to be on:
    // Kenwood AI as the server last wrote it (--radio-reports writes AI2 to a
    // Kenwood radio). A CI-V radio's transceive setting is not known: its frames
    // still refresh what they carry, within the window.
    turns.Shared().SetReports(RadioAutoInfo > 0);
}

void Station::HeardFromRadio(const Bytes& data) {
    frequency.SetLanguage(turns.RadioLanguage());
    if (frequency.Heard(data)) frequencyMs = host.MonotonicMs();
}

void Station::WroteToRadio(const Bytes& data) {
    frequency.SetLanguage(turns.RadioLanguage());
    if (turns.RadioLanguage() != cat::Language::Yaesu5) return;
    cat::ClientReader reader(cat::Language::Yaesu5);
    std::vector<cat::Answer> answers;
    for (const cat::Command& c : reader.Feed(data)) answers.push_back(c.answer);
    frequency.Written(answers);
}

void Station::FrequencySet(int64_t hz) {
    frequency.SetLanguage(turns.RadioLanguage());
    frequency.Set(hz);
    frequencyMs = host.MonotonicMs();
}

std::optional<int64_t> Station::FrequencyWithin(int ms) const {
    if (frequencyMs < 0 || host.MonotonicMs() - frequencyMs > ms) return std::nullopt;
    return frequency.Last();
}

}  // namespace ovrin
