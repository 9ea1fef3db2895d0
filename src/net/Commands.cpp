#include "net/Commands.h"

#include <algorithm>
#include <utility>

#include "model/Outbound.h"
#include "serial/Traffic.h"

namespace ovrin {
namespace {

using cat::Known;

// The language its commands reach the radio in: its own, or, when it speaks none of
// them, the radio's where that is known.
cat::Language Effective(frmMain& f, const Connection& c) {
    const cat::Language own = c.reader.Spoken();
    return own == cat::Language::None && Known(f.station.turns.RadioLanguage()) ? f.station.turns.RadioLanguage() : own;
}

void Answer(frmMain& f, Connection& c, const Bytes& bytes) { SendToClient(f, c, c.ForWire(bytes)); }

// One transmitter, one owner, whatever the way: a CAT key from anyone else is not
// written and is answered as the radio answers a refused command; a release from
// anyone else is not written either. True: the command goes to the radio.
bool CatKeying(frmMain& f, Connection& c, cat::Language language, const cat::Command& command) {
    const std::string how = "CAT (" + cat::Describe(language, command) + ")";
    if (command.keying == cat::Keying::Key) {
        const KeyRequest request{c.identity, KeyWay::Cat, c.label, how, f.station.settings.options.txLimitS * 1000,
                                 cat::ReleaseFor(language, command)};
        if (f.station.transmitter.Key(request)) return true;
        Answer(f, c, cat::RefusalFor(language, command));
        return false;
    }
    if (f.station.transmitter.Release(c.identity, KeyWay::Cat, c.label, how)) return true;
    // A CI-V client waits for an answer to every frame, a 5-byte one for the
    // acknowledgement of its command.
    if (language != cat::Language::Kenwood) Answer(f, c, cat::RefusalFor(language, command));
    return false;
}

// Kenwood AI: each client's own wish. True when it was handled here and the
// command is not written as it is.
bool AutoInformation(frmMain& f, Connection& c, const cat::Command& command) {
    if (command.parameters.empty()) {
        if (c.autoInfo < 0) return false;  // the radio tells its own
        Answer(f, c, "AI" + std::to_string(c.autoInfo) + ";");
        return true;
    }
    const char digit = command.parameters[0];
    if (command.parameters.size() != 1 || digit < '0' || digit > '9') return false;
    c.autoInfo = digit - '0';
    f.station.turns.SetUnaskedWanted(c.identity, c.autoInfo != 0);
    RadioAutoInformation(f);
    return true;
}

void SubmitCommands(frmMain& f, ConnectionId who, std::vector<cat::Command> commands, bool echoed) {
    Connection* c = f.station.connections.ById(who);
    if (!c) return;
    const cat::Language spoken = c->reader.Spoken();
    if (Known(spoken)) f.station.turns.SetRadioLanguage(spoken);
    const cat::Language language = Effective(f, *c);
    Turns::Block block{{}, echoed, language, {}, {}};
    const auto submit = [&] {
        if (block.data.empty()) return;
        if (Connection* still = f.station.connections.ById(who)) {
            // The radio's language may have become known meanwhile.
            if (still->unfinishedIn != language) still->unfinished.clear();
            still->unfinished = cat::Unfinished(language, still->unfinished, block.data);
            still->unfinishedIn = language;
        }
        SubmitToPort(f, who, std::exchange(block, Turns::Block{{}, echoed, language, {}, {}}));
    };
    for (cat::Command& command : commands) {
        if (!(c = f.station.connections.ById(who))) return;  // it left meanwhile
        if (Known(language) && command.keying != cat::Keying::None) {
            submit();  // what came before it goes first
            if (!CatKeying(f, *c, language, command)) continue;
        }
        if (spoken == cat::Language::Kenwood && (command.name == "AI" || command.name == "ai") &&
            AutoInformation(f, *c, command))
            continue;
        block.Add(command.bytes, command.answer);
    }
    submit();
}

void Hold(frmMain& f, Connection& c) {
    Timer& hold = f.station.tmrHold[static_cast<std::size_t>(c.slot - 1)];
    hold.Stop();  // each read with something left over waits afresh
    if (c.reader.Holding() || !c.heldPtt.empty()) hold.Start();
}

}  // namespace

void ClientSends(frmMain& f, Connection& c, const Bytes& data, bool echoed) {
    const ConnectionId who = c.identity;
    if (!data.empty())
        SubmitCommands(f, who, c.reader.Feed(data, f.station.turns.RadioDialect(), f.station.turns.RadioLanguage()), echoed);
    if (Connection* still = f.station.connections.ById(who)) Hold(f, *still);
}

void FlushHeld(frmMain& f, Connection& c) {
    const ConnectionId who = c.identity;
    const bool echoed = !c.IsComPortClient();
    // The start of an in-band command that never finished was data.
    std::vector<cat::Command> commands =
        c.reader.Feed(std::exchange(c.heldPtt, {}), f.station.turns.RadioDialect(), f.station.turns.RadioLanguage());
    if (Bytes rest = c.reader.TakeHeld(); !rest.empty()) commands.push_back(cat::Command{rest, {}, {}, {}, {}});
    f.station.tmrHold[static_cast<std::size_t>(c.slot - 1)].Stop();
    SubmitCommands(f, who, std::move(commands), echoed);
}

void ClientDeparts(frmMain& f, Connection& c) {
    FlushHeld(f, c);
    Connection* still = f.station.connections.ById(c.identity);
    if (!still || still->unfinished.empty()) return;
    // Its unfinished command would swallow the next client's: ended here, in its
    // turn, and what the radio answers that reaches nobody.
    const cat::Language language = still->unfinishedIn;
    const cat::Command end = cat::Termination(language, std::exchange(still->unfinished, {}), f.station.turns.RadioDialect());
    if (end.bytes.empty()) return;
    Turns::Block block{{}, !still->IsComPortClient(), language, {}, {}};
    block.Add(end.bytes, end.answer);
    SubmitToPort(f, still->identity, std::move(block));
}

void tmrHold_Timer(frmMain& f, int16_t Slot) {
    Timer& hold = f.station.tmrHold[static_cast<std::size_t>(Slot - 1)];
    hold.Stop();
    Connection* c = f.station.connections.BySlot(Slot);
    if (!c) return;
    // While its reads are paused the rest waits in its socket: the command is not
    // cut short for that.
    if (c->readPaused) hold.Start();
    else FlushHeld(f, *c);
}

void RadioAutoInformation(frmMain& f) {
    int wanted = 0;
    bool said = false, unsaid = false;
    f.station.connections.ForEach([&](Connection& c) {
        if (c.reader.Spoken() != cat::Language::Kenwood) return;
        if (c.autoInfo < 0) {
            unsaid = true;
        } else {
            said = true;
            wanted = std::max(wanted, c.autoInfo);
        }
    });
    // Nobody asked for anything, or a client that never said may rely on the
    // reports the radio gives now: the radio stays as it is.
    if (!said || (wanted == 0 && unsaid) || wanted == f.station.RadioAutoInfo) return;
    f.station.RadioAutoInfo = wanted;
    Turns::Block block{"AI" + std::to_string(wanted) + ";", true, cat::Language::Kenwood, {}, {}};
    SubmitToPort(f, kServerWrites, std::move(block));
}

}  // namespace ovrin
