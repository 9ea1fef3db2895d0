#include "model/Station.h"

namespace ovrin {

Station::Station(CommControl& com, SocketArray& sockets, Dialogs& dlg, Host& h, Log& l)
    : comPort(com), tcpServer(sockets), dialogs(dlg), host(h), log(l) {}

void Station::ChangeSettings(const StationSettings& s) {
    settings = s;
    transmitter.SetLine(s.options.pttLine);
    SettingsChanged();
}

void Station::TakeOptions(const ServerOptions& o) {
    settings.options = o;
    transmitter.SetLine(o.pttLine);
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
