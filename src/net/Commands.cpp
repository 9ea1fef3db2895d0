#include "net/Commands.h"

#include <algorithm>
#include <utility>

#include "model/Outbound.h"
#include "net/Inbound.h"
#include "net/Rights.h"
#include "station/OptionsText.h"

namespace ovrin {
namespace {

using cat::Known;

// The language its commands reach the radio in: its own, or, when it speaks none of
// them, the radio's where that is known.
cat::Language Effective(Station& station, const Connection& c) {
    const cat::Language own = c.reader.Spoken();
    return own == cat::Language::None && Known(station.turns.RadioLanguage()) ? station.turns.RadioLanguage() : own;
}

void Answer(Station& station, Connection& c, const Bytes& bytes) { SendToClient(station, c, c.ForWire(bytes)); }

// One transmitter, one owner, whatever the way: a CAT key from anyone else is not
// written and is answered as the radio answers a refused command; a release from
// anyone else is not written either. True: the command goes to the radio.
bool CatKeying(Station& station, Connection& c, cat::Language language, const cat::Command& command) {
    const std::string how = "CAT (" + cat::Describe(language, command) + ")";
    if (command.keying == cat::Keying::Key) {
        const KeyRequest request{c.identity, KeyWay::Cat, c.label, how, station.settings.options.txLimitS * 1000,
                                 cat::ReleaseFor(language, command), {}, -1};
        if (station.transmitter.Key(request)) return true;
        Answer(station, c, cat::RefusalFor(language, command));
        return false;
    }
    if (station.transmitter.Release(c.identity, KeyWay::Cat, c.label, how)) return true;
    // A CI-V client waits for an answer to every frame, a 5-byte one for the
    // acknowledgement of its command.
    if (language != cat::Language::Kenwood) Answer(station, c, cat::RefusalFor(language, command));
    return false;
}

// What its role does not allow, or a frequency set that would leave the allowed
// bands while the transmitter is keyed, is not written: the client hears it refused
// as the radio refuses (nothing for bytes in no language), and the log says so at
// most once a second per client, with a count. A frequency set that goes is where
// the radio will be.
bool Refused(Station& station, Connection& c, cat::Language spoken, cat::Language language, const cat::Command& command) {
    const auto refuse = [&](const std::string& why) {
        if (Known(spoken)) Answer(station, c, cat::RoleRefusal(language, command));
        station.clientLog.Line(LogLevel::Warning, c.label,
                               c.label + " (" + std::string(cat::Name(c.role)) + "): " + cat::Describe(language, command) +
                                   " refused: " + why);
        return true;
    };
    if (c.role != cat::Role::Transmit) {
        // Auto-information is each client's own, whatever its role.
        const bool autoInfo = spoken == cat::Language::Kenwood && command.name == "AI" && command.parameters.size() == 1 &&
                              command.parameters[0] >= '0' && command.parameters[0] <= '9';
        // What bytes in no language do cannot be told: a key among them as well.
        if (!Known(language) || (c.role == cat::Role::Monitor && !Known(spoken)))
            return refuse("a " + std::string(cat::Name(c.role)) + " client must speak a command language");
        // The radio would finish a command cut short with whatever comes next ("TX",
        // then ";"): never written for a client that may not send everything.
        if (!cat::Unfinished(language, {}, command.bytes).empty()) return refuse("a command that never ended");
        if (!autoInfo && !cat::Permits(c.role, language, command, station.turns.RadioDialect()))
            return refuse(c.role == cat::Role::Monitor ? "a monitor may only read" : "an operator may not transmit");
    }
    if (language == cat::Language::CiV && command.answer.kind == cat::Answer::Kind::Sure) station.civFrame = command.bytes;
    const auto hz = cat::FrequencySetBy(language, command);
    if (!hz) return false;
    const auto& bands = station.settings.options.txAllowed;
    if (station.transmitter.Keyed() && !bands.empty() && !InBands(bands, *hz))
        return refuse("the transmitter is keyed and " + Megahertz(*hz) + " is outside the allowed bands (" +
                      BandsText(bands) + ")");
    station.FrequencySet(*hz);
    return false;
}

// Kenwood AI: each client's own wish. True when it was handled here and the
// command is not written as it is.
bool AutoInformation(Station& station, Connection& c, const cat::Command& command) {
    if (command.parameters.empty()) {
        if (c.autoInfo < 0) return false;  // the radio tells its own
        Answer(station, c, "AI" + std::to_string(c.autoInfo) + ";");
        return true;
    }
    const char digit = command.parameters[0];
    if (command.parameters.size() != 1 || digit < '0' || digit > '9') return false;
    c.autoInfo = digit - '0';
    station.turns.SetUnaskedWanted(c.identity, c.autoInfo != 0);
    RadioAutoInformation(station);
    return true;
}

void SubmitCommands(Station& station, ConnectionId who, std::vector<cat::Command> commands, bool echoed) {
    Connection* c = station.connections.ById(who);
    if (!c) return;
    if (!c->deferred.empty()) {  // behind a key that waits for the radio's frequency
        c->deferred.insert(c->deferred.end(), std::make_move_iterator(commands.begin()),
                           std::make_move_iterator(commands.end()));
        return;
    }
    const cat::Language spoken = c->reader.Spoken();
    if (Known(spoken)) station.turns.SetRadioLanguage(spoken);
    if (spoken == cat::Language::Kenwood && station.settings.options.radioReports) RadioAutoInformation(station);
    const cat::Language language = Effective(station, *c);
    Turns::Block block{{}, echoed, language, {}, {}};
    const auto submit = [&] {
        if (block.data.empty()) return;
        if (Connection* still = station.connections.ById(who)) {
            // The radio's language may have become known meanwhile.
            if (still->unfinishedIn != language) still->unfinished.clear();
            still->unfinished = cat::Unfinished(language, still->unfinished, block.data);
            still->unfinishedIn = language;
        }
        SubmitToPort(station, who, std::exchange(block, Turns::Block{{}, echoed, language, {}, {}}));
    };
    for (auto at = commands.begin(); at != commands.end(); ++at) {
        cat::Command& command = *at;
        if (!(c = station.connections.ById(who))) return;  // it left meanwhile
        if (Refused(station, *c, spoken, language, command)) continue;
        if (Known(language) && command.keying != cat::Keying::None) {
            submit();  // what came before it goes first
            // The key is decided once the radio has told its frequency: it and
            // what follows it wait, on the client's own clock.
            if (command.keying == cat::Keying::Key && c->frequencyAskedMs < 0 && FrequencyAskedBeforeKey(station, *c)) {
                c->deferred.assign(std::make_move_iterator(at), std::make_move_iterator(commands.end()));
                c->deferredEchoed = echoed;
                c->frequencyAskedMs = station.host.MonotonicMs();
                return;
            }
            if (!CatKeying(station, *c, language, command)) continue;
        }
        if (spoken == cat::Language::Kenwood && command.name == "AI" &&
            AutoInformation(station, *c, command))
            continue;
        block.Add(command.bytes, command.answer);
    }
    submit();
}

// The key waits until the radio's frequency has come since it was asked, or the
// answer wait and one hold more have passed: then it is decided on what is known.
void ResumeDeferred(Station& station, Connection& c) {
    const ConnectionId who = c.identity;
    std::vector<cat::Command> waiting = std::exchange(c.deferred, {});
    SubmitCommands(station, who, std::move(waiting), c.deferredEchoed);
    if (Connection* still = station.connections.ById(who); still && still->deferred.empty()) {
        still->frequencyAskedMs = -1;
        ResumePausedReads(station);  // what it sent meanwhile waited in its socket
    }
}

bool DeferredDue(Station& station, const Connection& c) {
    const int64_t now = station.host.MonotonicMs();
    return station.frequencyMs >= c.frequencyAskedMs ||
           now - c.frequencyAskedMs >= station.settings.options.answerWaitMs + kHoldMs;
}

void Hold(Station& station, Connection& c) {
    Timer& hold = station.tmrHold[static_cast<std::size_t>(c.slot - 1)];
    if (!c.deferred.empty()) {  // a key waits for the frequency: not restarted by reads
        if (!hold.Enabled()) hold.Start();
        return;
    }
    hold.Stop();  // each read with something left over waits afresh
    if (c.reader.Holding() || !c.heldPtt.empty()) hold.Start();
}

}  // namespace

void ClientSends(Station& station, Connection& c, const Bytes& data, bool echoed) {
    const ConnectionId who = c.identity;
    if (!data.empty())
        SubmitCommands(station, who, c.reader.Feed(data, station.turns.RadioDialect(), station.turns.RadioLanguage()), echoed);
    if (Connection* still = station.connections.ById(who)) Hold(station, *still);
}

void FlushHeld(Station& station, Connection& c) {
    const ConnectionId who = c.identity;
    const bool echoed = !c.IsComPortClient();
    // The start of an in-band command that never finished was data.
    std::vector<cat::Command> commands =
        c.reader.Feed(std::exchange(c.heldPtt, {}), station.turns.RadioDialect(), station.turns.RadioLanguage());
    if (Bytes rest = c.reader.TakeHeld(); !rest.empty()) commands.push_back(cat::Command{rest, {}, {}, {}, {}});
    station.tmrHold[static_cast<std::size_t>(c.slot - 1)].Stop();
    SubmitCommands(station, who, std::move(commands), echoed);
}

void ClientDeparts(Station& station, Connection& c) {
    // A key that waited for the frequency keys nothing once its client has gone;
    // what it sent after the key still goes.
    if (!c.deferred.empty()) {
        c.deferred.erase(c.deferred.begin());
        ResumeDeferred(station, c);
    }
    FlushHeld(station, c);
    Connection* still = station.connections.ById(c.identity);
    if (!still || still->unfinished.empty()) return;
    // Its unfinished command would swallow the next client's: ended here, in its
    // turn, and what the radio answers that reaches nobody.
    const cat::Language language = still->unfinishedIn;
    const cat::Command end = cat::Termination(language, std::exchange(still->unfinished, {}), station.turns.RadioDialect());
    if (end.bytes.empty()) return;
    Turns::Block block{{}, !still->IsComPortClient(), language, {}, {}};
    block.Add(end.bytes, end.answer);
    SubmitToPort(station, still->identity, std::move(block));
}

void tmrHold_Timer(Station& station, int16_t Slot) {
    Timer& hold = station.tmrHold[static_cast<std::size_t>(Slot - 1)];
    hold.Stop();
    Connection* c = station.connections.BySlot(Slot);
    if (!c) return;
    if (!c->deferred.empty()) {
        if (!DeferredDue(station, *c)) {
            hold.Start();
            return;
        }
        ResumeDeferred(station, *c);
        if ((c = station.connections.BySlot(Slot))) Hold(station, *c);
        return;
    }
    // While its reads are paused the rest waits in its socket: the command is not
    // cut short for that.
    if (c->readPaused) hold.Start();
    else FlushHeld(station, *c);
}

void RadioAutoInformation(Station& station) {
    // --radio-reports: the server's own wish, and the reports it turned on reach only
    // the clients that asked for them.
    const bool reports =
        station.settings.options.radioReports && station.turns.RadioLanguage() == cat::Language::Kenwood;
    int wanted = reports ? 2 : 0;
    bool said = reports, unsaid = false;
    station.connections.ForEach([&](Connection& c) {
        if (c.reader.Spoken() != cat::Language::Kenwood) return;
        if (c.autoInfo < 0) {
            unsaid = true;
            if (reports) station.turns.SetUnaskedWanted(c.identity, false);
        } else {
            said = true;
            wanted = std::max(wanted, c.autoInfo);
        }
    });
    // Nobody asked for anything, or a client that never said may rely on the
    // reports the radio gives now: the radio stays as it is.
    if (!said || (wanted == 0 && unsaid) || wanted == station.RadioAutoInfo) return;
    station.RadioAutoInfo = wanted;
    station.ShareReads();
    Turns::Block block{"AI" + std::to_string(wanted) + ";", true, cat::Language::Kenwood, {}, {}};
    SubmitToPort(station, kServerWrites, std::move(block));
}

}  // namespace ovrin
