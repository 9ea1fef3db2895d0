#pragma once
// The 1033-byte settings record, field by field in file order. Text fields are
// single-byte (Latin-1) text, blank-filled to their width and cut at it; the one
// number is a little-endian 16-bit signed integer; Reserved3 is carried untouched.
#include <array>
#include <cstdint>
#include <string>

#include "base/Errors.h"

namespace ovrin {

struct SettingsRecordBuffer {
    static constexpr std::size_t kLength = 1033;
    static constexpr std::size_t kReserved3Length = 955;

    // Raw field bytes exactly as stored (Latin-1, blank-filled, fixed width).
    std::string Reserved1 = std::string(20, '\0');
    std::string Reserved2 = std::string(20, '\0');
    std::string Interbyte = std::string(7, '\0');
    std::string Baud = std::string(6, '\0');
    std::string DataBits = std::string(1, '\0');
    std::string Parity = std::string(5, '\0');
    std::string StopBits = std::string(1, '\0');
    std::string HostPort = std::string(5, '\0');
    int16_t ListenAtStart = 0;
    std::string ComPortName = std::string(6, '\0');
    std::string DTRFlag = std::string(1, '\0');
    std::string RTSFlag = std::string(1, '\0');
    std::string ActiveInListenFlag = std::string(1, '\0');
    std::string PTTControlFlag = std::string(1, '\0');
    std::string BridgeFlag = std::string(1, '\0');
    Bytes Reserved3 = Bytes(kReserved3Length, '\0');

    Bytes Encode() const;
    static SettingsRecordBuffer Decode(const Bytes& record);  // record must be kLength
};

// Text as the window holds it (UTF-8) into a field of the given width, and back.
std::string ToField(const std::string& text, std::size_t width);
std::string FromField(const std::string& field);
// The numeric value of a flag digit: the digit itself, 0 for anything else.
int FlagValue(const std::string& field);
std::string FlagDigit(int value);

}  // namespace ovrin
