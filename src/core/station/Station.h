#pragma once
// The station's settings as one value: what the window's boxes hold and the record
// stores, the rules between the check boxes, and the settings given for a run.
// Every rule is a function of the value, so no rule depends on the order in which
// boxes are set: a load never keys anything and never asks a question.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/Bytes.h"
#include "cat/Cat.h"
#include "record/SettingsRecord.h"

namespace ovrin {

// The check boxes that bear on the modem lines and the transmitter.
enum class Box { Dtr, Rts, KeepPortOpen, PttControl };

// The modem line that keys the transmitter: interfaces are wired for one or the other.
enum class PttLine : uint8_t { Rts, Dtr };
// "RTS", "DTR".
const char* LineName(PttLine line);
// The box of that line.
Box LineBox(PttLine line);

// A range of frequencies in Hz, both ends in it.
struct Band {
    int64_t low = 0, high = 0;
    bool operator==(const Band&) const = default;
};

// The settings a server keeps beyond the record, with their defaults (the one
// place they are written).
struct ServerOptions {
    // Clients served at once (the Bridge box, when checked, allows every slot).
    int clients = 1;
    // How long the radio may stay silent after a command before its turn ends:
    // radios answer within tens of milliseconds, a few old ones take over a
    // hundred; longer, and a command that gets no answer holds the port.
    int answerWaitMs = 250;
    // The TCP port of the remote serial port listener; 0: none.
    int rfc2217Port = 0;
    // The TCP port of the read-only status page; 0: none.
    int statusPort = 0;
    // How long a client may hold the transmitter keyed, in seconds: a
    // digital-mode transmission lasts 13 s and more, a stuck key should not.
    int txLimitS = 180;
    // The command language of every client; Unknown: recognised per client.
    cat::Language cat = cat::Language::Unknown;
    // The clients that may connect, addresses and networks with ", " between
    // them; empty: any.
    std::string allow;
    // What "Control ... as PTT" keys: RTS, as most interfaces are wired.
    PttLine pttLine = PttLine::Rts;
    // Where the transmitter may be keyed; empty: anywhere.
    std::vector<Band> txAllowed;
    // How long the radio's answer to a read answers the same read again, from any
    // client, in milliseconds; 0: every read goes to the radio (merged while one is
    // on its way). A quarter second keeps a panadapter's and a logger's polls off
    // the bus without a knob turn going unseen for long.
    int cacheMs = 250;
    // The radio's auto-information turned on while the port is open, so that its
    // reports keep the shared reads fresh.
    bool radioReports = false;
    bool operator==(const ServerOptions&) const = default;
};

struct StationSettings {
    // Texts as the window's boxes hold them ("50000", "COM1", "9600", "None", ...).
    std::string hostPort, comPort, interbyte, baud, dataBits, parity, stopBits;
    // Check-box values 0..2 (2: greyed, which counts as unchecked).
    int dtr = 0, rts = 0, keepPortOpen = 0, pttControl = 0, bridge = 0;
    bool listenAtStart = false;
    // What the record does not hold: the options file's.
    ServerOptions options;

    int& operator[](Box box);
    int operator[](Box box) const;
    bool operator==(const StationSettings&) const = default;
};

// The window's boxes as they are before any settings are loaded.
StationSettings InitialSettings();
// A first start, or a file that cannot be used: listening on 50000, COM1 at
// 9600,n,8,2, DTR and RTS low; "Com Port active in Listen Mode" and RTS control
// are left as they were.
StationSettings DefaultSettings(StationSettings s);

// The Default choice of the status list: the listen port and the line settings
// back to their first values.
StationSettings WithDefaultLine(StationSettings s);

// A box set by the user while Off-line, with the rules it sets off: checking "Com
// Port active in Listen Mode" checks the PTT line's box, checking that box clears
// PTT control, and checking PTT control clears the line's box and the kept-open
// port (a transmitter keyed by the line must not start keyed). The other line's
// box is free. A box that does not change sets off nothing.
StationSettings WithBox(StationSettings s, Box box, int value);

// What stored settings must satisfy, whatever order they were written in: with PTT
// control on, its line starts low and the port is not kept open between clients.
StationSettings Normalised(StationSettings s);

// Another PTT line: PTT control moves to it, so its box is cleared as checking
// PTT control would.
StationSettings WithPttLine(StationSettings s, PttLine line);

// Settings given for one run (the command line), over the stored ones.
struct GivenSettings {
    // Texts as the boxes hold them ("50001", "COM3", "4800", "Even", "7", "1"); empty: not given.
    std::string hostPort, comPort, baud, parity, dataBits, stopBits;
    // Check-box values 0 or 1; -1: not given.
    int dtr = -1, rts = -1, pttControl = -1, keepPortOpen = -1;
    // Options by name with their texts ("clients", "3"), checked when given.
    std::vector<std::pair<std::string, std::string>> options;
};
// The options and the texts as typed (a new PTT line with its rule); the boxes as
// the user would click them (their rules acting on the boxes not given), then
// exactly as given.
StationSettings WithGiven(StationSettings s, const GivenSettings& given);

// The record's fields as settings: `base` gives what the record does not restore
// (Bridge, the options). Nothing, with `why`, when a field holds what no box can (a flag
// other than 0..2, a connection state outside the list).
std::optional<StationSettings> FromRecord(const SettingsRecordBuffer& r, const StationSettings& base,
                                          std::string& why);
// Into the record's fields; Reserved3 is left as it is.
void ToRecord(const StationSettings& s, SettingsRecordBuffer& r);

}  // namespace ovrin
