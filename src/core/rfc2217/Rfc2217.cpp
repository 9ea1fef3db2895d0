#include "rfc2217/Rfc2217.h"

#include <cstring>

namespace ovrin::rfc2217 {
namespace {

constexpr std::uint8_t kSe = 240, kSb = 250, kWill = 251, kWont = 252, kDo = 253, kDont = 254, kIac = 255;
constexpr std::uint8_t kNop = 241, kDm = 242, kGa = 249;
constexpr std::uint8_t kBinary = 0, kSga = 3, kComPort = 44;
constexpr std::uint8_t kServerOffset = 100;
// A client that keeps sending what we ignore gets this many log lines, not one per byte.
constexpr int kMaxLogLines = 20;

void Put(Bytes& out, std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    out.push_back(static_cast<char>(a));
    out.push_back(static_cast<char>(b));
    out.push_back(static_cast<char>(c));
}

std::uint8_t Byte(char c) { return static_cast<std::uint8_t>(c); }

}  // namespace

void Input::Clear() {
    data.clear();
    reply.clear();
    requests.clear();
    log.clear();
    error.clear();
    close = false;
}

Bytes Session::Greeting(std::uint8_t modemLines) {
    binary_ = {Q::WantYes, Q::WantYes};
    sga_ = {Q::WantYes, Q::WantYes};
    comPortOption_.him = Q::WantYes;
    Bytes out;
    Put(out, kIac, kWill, kBinary);
    Put(out, kIac, kDo, kBinary);
    Put(out, kIac, kWill, kSga);
    Put(out, kIac, kDo, kSga);
    Put(out, kIac, kDo, kComPort);
    lines_ = modemLines & 0xF0;
    return out + Sub(static_cast<std::uint8_t>(Command::NotifyModemState), Bytes(1, static_cast<char>(lines_)));
}

void Session::Receive(std::string_view bytes, Input& in) {
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p < end && !closed_) {
        if (state_ == State::Data) {
            // Plain data in one piece up to the next IAC.
            const void* iac = std::memchr(p, static_cast<char>(kIac), static_cast<std::size_t>(end - p));
            const char* stop = iac ? static_cast<const char*>(iac) : end;
            in.data.append(p, static_cast<std::size_t>(stop - p));
            p = stop;
            if (p < end) state_ = State::Iac, ++p;
            continue;
        }
        const std::uint8_t b = Byte(*p++);
        switch (state_) {
        case State::Iac:
            state_ = State::Data;
            if (b == kIac) in.data.push_back(static_cast<char>(kIac));
            else if (b >= kWill && b <= kDont) verb_ = b, state_ = State::Option;
            else if (b == kSb) sub_.clear(), state_ = State::Sub;
            else TelnetCommand(b, in);
            break;
        case State::Option:
            state_ = State::Data;
            Negotiate(verb_, b, in);
            break;
        case State::Sub:
        case State::SubIac:
            if (state_ == State::Sub && b == kIac) {
                state_ = State::SubIac;
            } else if (state_ == State::SubIac && b == kSe) {
                state_ = State::Data;
                EndSubnegotiation(in);
            } else if (state_ == State::SubIac && b != kIac) {
                Fail(in, "IAC " + std::to_string(b) + " inside a sub-negotiation");
            } else if (sub_.size() >= kMaxSubnegotiation) {
                Fail(in, "a sub-negotiation longer than " + std::to_string(kMaxSubnegotiation) + " bytes");
            } else {
                sub_.push_back(static_cast<char>(b));
                state_ = State::Sub;
            }
            break;
        case State::Data:
            break;
        }
    }
}

Session::Option* Session::Supported(std::uint8_t option) {
    if (option == kBinary) return &binary_;
    if (option == kSga) return &sga_;
    if (option == kComPort) return &comPortOption_;
    return nullptr;
}

// RFC 1143 without the queue: we never change our mind after the greeting, so an
// answer goes out only when a side's state really changes, and never twice.
void Session::Negotiate(std::uint8_t verb, std::uint8_t option, Input& in) {
    Option* o = Supported(option);
    const bool his = verb == kWill || verb == kWont;
    const bool enable = verb == kWill || verb == kDo;
    const std::uint8_t yes = his ? kDo : kWill, no = his ? kDont : kWont;
    if (!o) {
        if (enable) Put(in.reply, kIac, no, option);  // refused, as often as offered
        return;
    }
    Q& q = his ? o->him : o->us;
    if (enable) {
        if (q == Q::No) Put(in.reply, kIac, yes, option);
        q = Q::Yes;
        if (his && option == kComPort) comPort_ = true;
    } else {
        if (q == Q::Yes) Put(in.reply, kIac, no, option);
        q = Q::No;
    }
}

void Session::TelnetCommand(std::uint8_t code, Input& in) {
    if (code == kNop || code == kDm || code == kGa) return;
    Log(in, "telnet command " + std::to_string(code) + " ignored");
}

void Session::EndSubnegotiation(Input& in) {
    if (sub_.size() < 2 || Byte(sub_[0]) != kComPort) {
        Log(in, sub_.empty() ? "empty sub-negotiation ignored"
                             : "sub-negotiation for option " + std::to_string(Byte(sub_[0])) + " ignored");
        return;
    }
    comPort_ = true;  // some clients never say WILL before their first request
    ComPort(Byte(sub_[1]), sub_.substr(2), in);
}

void Session::ComPort(std::uint8_t code, const Bytes& payload, Input& in) {
    Request r;
    r.command = static_cast<rfc2217::Command>(code);
    r.at = in.data.size();
    std::size_t width = 1;
    switch (r.command) {
    case Command::Signature: r.text = payload; width = payload.size(); break;
    case Command::SetBaudRate: width = 4; break;
    case Command::NotifyLineState:
    case Command::NotifyModemState:
    case Command::FlowControlSuspend:
    case Command::FlowControlResume: width = payload.size(); break;  // no value to read
    case Command::SetDataSize:
    case Command::SetParity:
    case Command::SetStopSize:
    case Command::SetControl:
    case Command::SetLineStateMask:
    case Command::SetModemStateMask:
    case Command::PurgeData: break;
    default: Log(in, "com-port command " + std::to_string(code) + " ignored"); return;
    }
    if (payload.size() != width) {
        Log(in, "com-port command " + std::to_string(code) + " with " + std::to_string(payload.size()) +
                    " value bytes ignored");
        return;
    }
    if (r.command != Command::Signature)
        for (char c : payload) r.value = (r.value << 8) | Byte(c);
    in.requests.push_back(std::move(r));
}

Bytes Session::Answer(rfc2217::Command command, std::uint32_t applied) {
    const auto code = static_cast<std::uint8_t>(command);
    switch (command) {
    case Command::Signature:
    case Command::FlowControlSuspend:
    case Command::FlowControlResume: return {};
    case Command::SetBaudRate: {
        const char value[4] = {static_cast<char>(applied >> 24), static_cast<char>(applied >> 16),
                               static_cast<char>(applied >> 8), static_cast<char>(applied)};
        return Sub(code, std::string_view(value, 4));
    }
    case Command::SetLineStateMask: lineMask_ = static_cast<std::uint8_t>(applied); break;
    case Command::SetModemStateMask: modemMask_ = static_cast<std::uint8_t>(applied); break;
    case Command::NotifyModemState: lines_ = static_cast<std::uint8_t>(applied & 0xF0); break;
    default: break;
    }
    return Sub(code, Bytes(1, static_cast<char>(applied)));
}

Bytes Session::Signature(std::string_view text) { return Sub(static_cast<std::uint8_t>(Command::Signature), text); }

Bytes Session::ModemState(std::uint8_t lines) {
    lines &= 0xF0;
    const std::uint8_t changed = lines ^ lines_;
    std::uint8_t deltas = 0;
    if (changed & modem::kCts) deltas |= 0x01;
    if (changed & modem::kDsr) deltas |= 0x02;
    if ((changed & modem::kRi) && !(lines & modem::kRi)) deltas |= 0x04;  // trailing edge only
    if (changed & modem::kCd) deltas |= 0x08;
    lines_ = lines;
    if (((changed | deltas) & modemMask_) == 0) return {};
    return Sub(static_cast<std::uint8_t>(Command::NotifyModemState),
               Bytes(1, static_cast<char>((lines | deltas) & modemMask_)));
}

Bytes Session::LineState(std::uint8_t state) const {
    const std::uint8_t masked = state & lineMask_;
    if (masked == 0) return {};
    return Sub(static_cast<std::uint8_t>(Command::NotifyLineState), Bytes(1, static_cast<char>(masked)));
}

void Session::AppendEscaped(Bytes& out, std::string_view portData) {
    const char* p = portData.data();
    const char* const end = p + portData.size();
    while (p < end) {
        const void* iac = std::memchr(p, static_cast<char>(kIac), static_cast<std::size_t>(end - p));
        const char* stop = iac ? static_cast<const char*>(iac) + 1 : end;
        out.append(p, static_cast<std::size_t>(stop - p));
        if (iac) out.push_back(static_cast<char>(kIac));
        p = stop;
    }
}

Bytes Session::Escape(std::string_view portData) {
    Bytes out;
    out.reserve(portData.size() + 8);
    AppendEscaped(out, portData);
    return out;
}

Bytes Session::Sub(std::uint8_t code, std::string_view value) {
    Bytes out;
    Put(out, kIac, kSb, kComPort);
    out.push_back(static_cast<char>(code + kServerOffset));
    AppendEscaped(out, value);
    out.push_back(static_cast<char>(kIac));
    out.push_back(static_cast<char>(kSe));
    return out;
}

void Session::Log(Input& in, std::string line) {
    if (logged_ > kMaxLogLines) return;
    in.log.push_back(++logged_ > kMaxLogLines ? "further ignored telnet input not logged" : std::move(line));
}

void Session::Fail(Input& in, std::string why) {
    in.error = std::move(why);
    in.close = true;
    closed_ = true;
    state_ = State::Data;
}

}  // namespace ovrin::rfc2217
