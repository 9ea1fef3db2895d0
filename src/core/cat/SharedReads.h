#pragma once
// Reads shared among the clients of one radio: a read already on its way to the
// radio for one client is not written again for another (its answer is copied to
// every client that asked it meanwhile), and a read asked again shortly after the
// radio answered it is answered from that answer. Pure bookkeeping: the caller
// owns the turns, the port and the clock (time is a count of milliseconds from any
// fixed start, never going back).
//
// The contract, per whole command a client sends (cat::ClientReader's output), in
// the order the client sent them:
//  - Ask() says what to do with it:
//      Cached: do not write it; give the client `answer` (already in its wire
//              form: a CI-V frame addressed to the asker's own controller address);
//      Joined: do not write it; its answer comes from Answered() of another
//              client's read (`read`: that read's ticket);
//      Send:   write it as today; for a shared read `read` is its ticket: hand the
//              radio's answer to it to Answered(ticket), or GiveUp(ticket) when it
//              never comes.
//    Whatever the command may change (a set, keying, anything the tables cannot
//    place) is dropped before the verdict, and reads in flight that it may change
//    are neither stored when answered nor joined by later reads.
//  - Answered() takes the radio's answer to a shared read: stored (unless it is an
//    error answer or not the read's own), and copied to every client that joined,
//    each in its own wire form.
//  - Unasked() takes what the radio said unasked: auto-information reports (Kenwood
//    FA, FB, MD, IF) and CI-V transceive frames (to 00: 00 frequency, 01 mode)
//    refresh the read they carry and drop what they imply changed; any other report
//    drops what its set would.
//  - Hearing() after the radio's bytes are taken in, with the start of what the
//    radio is saying and has not finished (held by the turns), and when the radio
//    has said nothing for too long: while the radio is partway through a report
//    that may carry or change a reported read, that read is not answered from the
//    store but waits (Joined, a ticket of its own) for the report to be whole;
//    Hearing() then answers it from the store, or, the store having nothing fresh
//    for it (the report dropped it, or the radio fell silent before finishing),
//    hands it back to be sent to the radio.
//  - Changed() when the transmitter is keyed or released other than by a command.
//  - Close() when the port closes or reopens: nothing is kept.
//
// The caller asks in the order the commands go to the turns, which write them in
// that order (a key may go ahead: it drops everything); hands answers and reports
// in the order the radio said them (the answer to a read whose sender left too);
// and keeps each client's answers in the order it asked: a Cached answer or a copy
// goes after the answers its earlier commands still await (a 5-byte client tells
// them apart by position alone). Commands answered without the radio (Kenwood AI)
// are not asked here; the server's own writes (a release, AI) are, so that they
// drop what they change.
//
// Freshness: a stored answer serves for the window (SetWindowMs, 0-5000 ms); a
// meter read (Kenwood SM, CI-V 15 xx, 5-byte E7) for at most kMeterWindowMs of it;
// while the radio's reports are on (SetReports) the reads they carry serve for
// kReportedWindowMs since the radio last said them. A window of 0 serves nothing
// from the store: every read goes to the radio, merged while in flight.
// Nothing stored is ever a value a client asked to set: radios round.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cat/Cat.h"

namespace ovrin::cat {

class SharedReads {
public:
    static constexpr uint64_t kDefaultWindowMs = 250;
    static constexpr uint64_t kMaxWindowMs = 5000;
    static constexpr uint64_t kMeterWindowMs = 100;
    static constexpr uint64_t kReportedWindowMs = 5000;

    // What a command may change, from the family's tables.
    enum class Effect : uint8_t {
        None,       // a read, or bytes between commands
        Own,        // a set of one setting: the reads of that setting
        Frequency,  // the frequency reads (and Kenwood IF)
        Mode,       // the mode and filter reads (and Kenwood IF)
        Keying,     // every read but a VFO's own frequency (Kenwood FA, FB, FC)
        All,        // a set the tables cannot narrow, a command they cannot place
    };
    struct Verdict {
        enum class Kind : uint8_t { Send, Joined, Cached };
        Kind kind = Kind::Send;
        Effect effect = Effect::None;
        uint64_t read = 0;  // Send of a shared read: its ticket (never 0); Joined: the one joined
        Bytes answer;       // Cached: for the asker as it is
        bool operator==(const Verdict&) const = default;
    };
    // A client's read that joined another's.
    struct Asker {
        uint64_t client = 0;
        Command command;
        bool operator==(const Asker&) const = default;
    };
    struct Copy {
        uint64_t client = 0;
        Bytes answer;  // in that client's wire form
        bool operator==(const Copy&) const = default;
    };
    // Where a read sits in the tables: its key in the store, the setting it reads
    // (a set of it drops it), the groups a set may change it in.
    struct Place {
        std::string key, setting;
        bool frequency = false, mode = false;
        bool meter = false;     // the shorter window
        bool reported = false;  // carried by the radio's reports
        bool steady = false;    // keying leaves it as it is
    };
    // A read that waited for what the radio was saying: `answer` from the store (in
    // the asker's form), or, empty, to be sent to the radio.
    struct Settled {
        uint64_t read = 0;
        Asker asker;
        Bytes answer;
        bool operator==(const Settled&) const = default;
    };
    struct Counts {
        uint64_t sent = 0;    // shared reads written to the radio
        uint64_t joined = 0;  // reads merged into one in flight
        uint64_t cached = 0;  // reads answered from the store
        bool operator==(const Counts&) const = default;
    };

    explicit SharedReads(uint64_t windowMs = kDefaultWindowMs) { SetWindowMs(windowMs); }

    // Clamped to 0..kMaxWindowMs.
    void SetWindowMs(uint64_t ms);
    uint64_t WindowMs() const { return windowMs_; }
    // The radio's auto-information / transceive reports are on.
    void SetReports(bool on) { reports_ = on; }

    Verdict Ask(uint64_t client, Language language, const Command& command, uint64_t nowMs);
    // A read Ask sent that waits behind other clients' turns: none joins it until
    // Written (a read that waits would keep its joiners waiting with it).
    void Parked(uint64_t read);
    void Written(uint64_t read);
    // A parked read whose turn has come: the answer (in its asker's form) when the
    // radio said it since the read was asked, and nothing may have changed it
    // since; the read is then done, not to be written.
    std::optional<Bytes> Meanwhile(uint64_t read, uint64_t nowMs);
    // The radio's answer to the read with this ticket: the copies for those that
    // joined. An answer that is not the read's own (an error, another command's)
    // is copied to nobody: those that joined are in Again(), to be sent anew.
    std::vector<Copy> Answered(uint64_t read, const Bytes& answer, uint64_t nowMs);
    std::vector<Asker> Again() { return std::exchange(again_, {}); }
    // The answer to that read will not come: those that joined it, to be sent anew.
    std::vector<Asker> GiveUp(uint64_t read);
    // `bytes`: reports (several may come together; one cut in two is joined to its
    // rest when that comes). `dialect` places Kenwood's MD.
    void Unasked(Language language, Dialect dialect, std::string_view bytes, uint64_t nowMs);
    // `hearing`: the radio is saying something (false once it has been silent for
    // the caller's bound); `held`: the start of an unfinished piece the turns hold
    // (after what Unasked holds). The reads that waited and need wait no longer.
    std::vector<Settled> Hearing(bool hearing, std::string_view held, uint64_t nowMs);
    // Some read waits for what the radio is saying.
    bool Waiting() const;
    // A client left: it joins nothing any more (a read it sent still serves the others).
    void Leave(uint64_t client);
    // A change no command shows (the transmitter keyed by RTS or the in-band
    // command): nothing stored that keying may change is kept, nor a read in flight.
    void Changed();
    void Close();

    // The command's effect alone, for the log and the tests.
    static Effect EffectOf(Language language, const Command& command);
    Counts Tally() const { return counts_; }
    std::size_t Stored() const { return stored_.size(); }
    std::size_t InFlight() const { return flights_.size(); }

private:
    struct Entry {
        Place place;
        Bytes answer;
        uint64_t at = 0;
        bool byReport = false;
        uint64_t count = 0;  // stores_ when stored
    };
    struct Flight {
        Place place;
        Language language = Language::Unknown;
        Command command;
        std::vector<Asker> joined;
        bool joinable = true;  // nothing changed it since it went
        bool written = true;   // on its way to the radio (Parked: not yet)
        bool waits = false;    // written by nobody: waits for what the radio is saying
        uint64_t since = 0;    // the store's count when it was asked
    };

    uint64_t WindowFor(const Place& place) const;
    // Drops what `effect` (of `setting`) may change. `reportAt`: a report's, which
    // spares what reports stored at that moment (the same change) and reads in flight.
    void Drop(Effect effect, const std::string& setting, std::optional<uint64_t> reportAt);
    void Store(const Place& place, Bytes answer, uint64_t nowMs, bool byReport);
    void KenwoodReport(Dialect dialect, std::string_view report, uint64_t nowMs);
    void CivReport(std::string_view frame, uint64_t nowMs);
    // The radio is partway through saying what may carry or change this read.
    bool Saying(Language language, const Place& place) const;

    // The start of a report not yet whole (at most kLongestReport bytes), and its language.
    static constexpr std::size_t kLongestReport = 64;
    std::string unsaid_;
    Language partialIn_ = Language::Unknown;
    // From Hearing(): whether the radio is saying something, and the start of what the turns hold.
    bool hearing_ = false;
    std::string held_;
    uint64_t windowMs_ = kDefaultWindowMs;
    bool reports_ = false;
    std::map<std::string, Entry> stored_;
    uint64_t stores_ = 0;  // answers and reports stored so far
    std::map<uint64_t, Flight> flights_;
    std::vector<Asker> again_;
    uint64_t nextTicket_ = 1;
    Counts counts_;
};

}  // namespace ovrin::cat
