#include "record/SettingsRecord.h"

namespace ovrin {
namespace {

class Writer {
public:
    explicit Writer(Bytes& out) : out_(out) {}
    void Field(const std::string& bytes, std::size_t width) {
        std::string f = bytes.substr(0, width);
        f.resize(width, ' ');
        out_ += f;
    }

private:
    Bytes& out_;
};

class Reader {
public:
    explicit Reader(const Bytes& in) : in_(in) {}
    std::string Field(std::size_t width) {
        std::string f = in_.substr(pos_, width);
        pos_ += width;
        return f;
    }

private:
    const Bytes& in_;
    std::size_t pos_ = 0;
};

}  // namespace

Bytes SettingsRecordBuffer::Encode() const {
    Bytes out;
    out.reserve(kLength);
    Writer w(out);
    w.Field(Reserved1, 20);
    w.Field(Reserved2, 20);
    w.Field(Interbyte, 7);
    w.Field(Baud, 6);
    w.Field(DataBits, 1);
    w.Field(Parity, 5);
    w.Field(StopBits, 1);
    w.Field(HostPort, 5);
    const auto listen = static_cast<uint16_t>(ListenAtStart);
    out += static_cast<char>(listen & 0xFF);
    out += static_cast<char>(listen >> 8);
    w.Field(ComPortName, 6);
    w.Field(DTRFlag, 1);
    w.Field(RTSFlag, 1);
    w.Field(ActiveInListenFlag, 1);
    w.Field(PTTControlFlag, 1);
    w.Field(BridgeFlag, 1);
    Bytes reserved3 = Reserved3.substr(0, kReserved3Length);
    reserved3.resize(kReserved3Length, '\0');
    out += reserved3;
    return out;
}

SettingsRecordBuffer SettingsRecordBuffer::Decode(const Bytes& record) {
    if (record.size() != kLength) throw PlatformError("Bad record length");
    Reader r(record);
    SettingsRecordBuffer s;
    s.Reserved1 = r.Field(20);
    s.Reserved2 = r.Field(20);
    s.Interbyte = r.Field(7);
    s.Baud = r.Field(6);
    s.DataBits = r.Field(1);
    s.Parity = r.Field(5);
    s.StopBits = r.Field(1);
    s.HostPort = r.Field(5);
    const std::string listen = r.Field(2);
    s.ListenAtStart = static_cast<int16_t>(static_cast<uint16_t>(static_cast<unsigned char>(listen[0]) |
                                                                 static_cast<unsigned char>(listen[1]) << 8));
    s.ComPortName = r.Field(6);
    s.DTRFlag = r.Field(1);
    s.RTSFlag = r.Field(1);
    s.ActiveInListenFlag = r.Field(1);
    s.PTTControlFlag = r.Field(1);
    s.BridgeFlag = r.Field(1);
    s.Reserved3 = r.Field(kReserved3Length);
    return s;
}

// The window's text is UTF-8; the file holds one byte a character (Latin-1), so a
// field is never cut inside a character. Characters beyond Latin-1 become "?".
std::string ToField(const std::string& text, std::size_t width) {
    std::string field;
    for (std::size_t i = 0; i < text.size() && field.size() < width;) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            field += static_cast<char>(c);
            ++i;
            continue;
        }
        std::size_t len = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
        if (len == 2 && i + 1 < text.size()) {
            const unsigned code = (c & 0x1Fu) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
            field += code <= 0xFF ? static_cast<char>(code) : '?';
        } else {
            field += '?';
        }
        i += len;
    }
    field.resize(width, ' ');
    return field;
}

std::string FromField(const std::string& field) {
    std::string text;
    for (char ch : field) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            text += ch;
        } else {
            text += static_cast<char>(0xC0 | c >> 6);
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

int FlagValue(const std::string& field) {
    if (field.size() != 1 || field[0] < '0' || field[0] > '9') return 0;
    return field[0] - '0';
}

std::string FlagDigit(int value) {
    return std::to_string(value).substr(0, 1);
}

}  // namespace ovrin
