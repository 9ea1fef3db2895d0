#pragma once
// The clients connected now, one record per socket slot. A record is made when a
// connection is accepted into a slot and cleared when it goes; its identity is
// never reused, so that what belongs to a connection that has left never reaches
// the next one in the same slot.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "cat/Cat.h"
#include "rfc2217/Rfc2217.h"

namespace ovrin {

// A remote serial port client's telnet session and what it asked of the lines.
struct ComPortSession {
    rfc2217::Session session;
    // Its first second, and the second after its first SET-CONTROL in it: line
    // changes are answered, the line that does not key held (the last one wins),
    // and the PTT line taken as where it starts, not as a key: programs raise RTS
    // and DTR at open and most leave them up, and an open over a slow link (flow
    // control, DTR, RTS, each a round trip apart) raises them well after the connect.
    bool settling = true;
    bool heldAgain = false;
    std::optional<bool> heldLine;
    // It changed the port's line settings, to be restored when it goes.
    bool lineChanged = false;
};

struct Connection {
    ConnectionId identity = 0;  // 0: the slot is free
    int16_t slot = 0;
    // "Client 198.51.100.7 (slot 1, connection 3)", for the log and the record.
    std::string label;
    std::string address;
    // What it may do, by the allow-list entry that let it in.
    cat::Role role = cat::Role::Transmit;
    // A CAT key of its waits for the radio's frequency (asked at `frequencyAskedMs`),
    // and what it sent after the key waits behind it, in order.
    std::vector<cat::Command> deferred;
    bool deferredEchoed = true;
    int64_t frequencyAskedMs = -1;
    // When it was accepted (the program's monotonic clock, and the wall clock for
    // people), and the bytes it sent and was sent, on the wire: for the status page.
    int64_t connectedMs = 0, connectedWallMs = 0;
    uint64_t bytesIn = 0, bytesOut = 0;
    // Its commands, cut and recognised in its language.
    cat::ClientReader reader;
    // The start of a command of its that the radio holds unfinished (written as it
    // was when the rest did not come in time): ended for the next client when it goes,
    // in the language it was written in.
    Bytes unfinished;
    cat::Language unfinishedIn = cat::Language::None;
    // The auto-information mode it asked for (Kenwood AI); -1: it never said.
    int autoInfo = -1;
    // Its data were left in the socket while the serial backlog was full, or while
    // a question about its command was open.
    bool readPaused = false;
    // The start of a PTT command that its last read ended with, and what it sent
    // while a question about its command was open.
    Bytes heldPtt;
    Bytes readWhileAsked;
    // Its socket is checked for a vanished peer within seconds (it holds the key).
    bool watchedClosely = false;
    // It read nothing of what waited for it (that much, past the bound): it is to
    // be closed, and what was meant for it meanwhile is counted, not queued.
    bool notReading = false;
    int32_t unsentAtBound = 0;
    uint64_t dropped = 0;
    // A remote serial port client has its session; a raw client has none.
    std::unique_ptr<ComPortSession> comPort;

    bool IsComPortClient() const { return comPort != nullptr; }
    // Radio data as its wire carries them.
    Bytes ForWire(const Bytes& data) const { return comPort ? rfc2217::Session::Escape(data) : data; }
};

class Connections {
public:
    // A new record in the slot (1..kMostClients), replacing whatever was there.
    Connection& Open(int16_t slot);
    void Close(int16_t slot);
    // Null for a free or invalid slot, or an identity that is not connected.
    Connection* BySlot(int16_t slot);
    Connection* ById(ConnectionId id);
    ConnectionId IdOf(int16_t slot) const;
    int Count() const;

    template <typename Visit>
    void ForEach(Visit&& visit) {
        for (Connection& c : slots_)
            if (c.identity != 0) visit(c);
    }

private:
    std::array<Connection, kMostClients> slots_{};
    ConnectionId accepted_ = 0;
};

}  // namespace ovrin
