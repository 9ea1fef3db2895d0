#pragma once
// One client connection speaking Telnet Com Port Control (RFC 2217 over RFC
// 854/855/856/858, options negotiated as RFC 1143 says): bytes in, bytes out.
// No sockets and no serial port here; the server decides what each com-port
// request does to the port and answers it with the value it applied.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Bytes.h"

namespace ovrin::rfc2217 {

// Com-port commands as the client sends them; the server's answers carry code + 100.
enum class Command : std::uint8_t {
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,   // from a client: it asks for the line state now
    NotifyModemState = 7,  // from a client: it asks for the modem state now
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};

// SET-CONTROL values; a query is answered with the state it asks about.
namespace control {
constexpr std::uint8_t kFlowQuery = 0, kFlowNone = 1, kFlowXonXoff = 2, kFlowHardware = 3;
constexpr std::uint8_t kBreakQuery = 4, kBreakOn = 5, kBreakOff = 6;
constexpr std::uint8_t kDtrQuery = 7, kDtrOn = 8, kDtrOff = 9;
constexpr std::uint8_t kRtsQuery = 10, kRtsOn = 11, kRtsOff = 12;
constexpr std::uint8_t kInFlowQuery = 13, kInFlowNone = 14, kInFlowXonXoff = 15, kInFlowHardware = 16;
}  // namespace control

// PURGE-DATA values: 1 what the port received and the client has not yet got,
// 2 what the client sent and the port has not yet sent, 3 both.
namespace purge {
constexpr std::uint8_t kFromPort = 1, kToPort = 2, kBoth = 3;
}

// Modem lines as NOTIFY-MODEMSTATE reports them (the change bits are worked out here).
namespace modem {
constexpr std::uint8_t kCts = 0x10, kDsr = 0x20, kRi = 0x40, kCd = 0x80;
}

struct Request {
    Command command = Command::Signature;
    std::uint32_t value = 0;  // 0 asks for the current setting; the baud rate in bit/s
    Bytes text;               // SIGNATURE: the client's own; empty when it asks for ours
    std::size_t at = 0;       // bytes of Input::data that came before it in the stream
};

// What the client's bytes meant. Receive appends; clear it when it has been used.
struct Input {
    Bytes data;                     // for the port, unescaped, nothing else
    Bytes reply;                    // to the client at once: option negotiation
    std::vector<Request> requests;  // in stream order, each for the server to decide
    std::vector<std::string> log;   // what was ignored, one line each
    std::string error;              // why the connection must close
    bool close = false;             // the stream cannot be followed any further
    void Clear();
};

class Session {
public:
    // Longest sub-negotiation taken; a longer one ends the connection.
    static constexpr std::size_t kMaxSubnegotiation = 256;

    // To send as soon as the client connects: our options and the modem lines.
    Bytes Greeting(std::uint8_t modemLines);
    // Any split of the stream works; state carries over between calls.
    void Receive(std::string_view bytes, Input& in);
    // The client said WILL COM-PORT-OPTION, or sent a com-port sub-negotiation.
    bool ComPortActive() const { return comPort_; }
    bool Closed() const { return closed_; }

    // The answer to a request (command + 100) with the value applied: the baud
    // rate set, the data size, for SET-CONTROL the state now (e.g. kRtsOff after
    // a refused kRtsOn). Masks take effect here. Empty for the commands that
    // have no answer (FLOWCONTROL-SUSPEND/RESUME, a client's own SIGNATURE).
    Bytes Answer(Command command, std::uint32_t applied);
    // Our SIGNATURE, for a client that asked with an empty one.
    static Bytes Signature(std::string_view text);
    // NOTIFY-MODEMSTATE when a line within the mask changed since the last call
    // (or the greeting); empty otherwise. `lines`: modem::kCts | ... as they are.
    Bytes ModemState(std::uint8_t lines);
    // NOTIFY-LINESTATE for the bits within the client's mask; empty if none.
    Bytes LineState(std::uint8_t state) const;

    // Port data for the client: IAC doubled, every other byte as it is.
    static void AppendEscaped(Bytes& out, std::string_view portData);
    static Bytes Escape(std::string_view portData);

private:
    enum class Q : std::uint8_t { No, Yes, WantNo, WantYes };  // RFC 1143
    enum class State : std::uint8_t { Data, Iac, Option, Sub, SubIac };
    struct Option {
        Q us = Q::No;   // our side (WILL)
        Q him = Q::No;  // the client's side (its WILL)
    };

    Option* Supported(std::uint8_t option);
    void Negotiate(std::uint8_t verb, std::uint8_t option, Input& in);
    void TelnetCommand(std::uint8_t code, Input& in);
    void EndSubnegotiation(Input& in);
    void ComPort(std::uint8_t code, const Bytes& payload, Input& in);
    void Log(Input& in, std::string line);
    void Fail(Input& in, std::string why);
    static Bytes Sub(std::uint8_t code, std::string_view value);

    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    Bytes sub_;
    Option binary_, sga_, comPortOption_;
    bool comPort_ = false;
    bool closed_ = false;
    int logged_ = 0;
    std::uint8_t lines_ = 0;
    std::uint8_t modemMask_ = 0xFF;  // the defaults RFC 2217 gives
    std::uint8_t lineMask_ = 0;
};

}  // namespace ovrin::rfc2217
