#pragma once
// The types every layer shares, written once.
#include <cstdint>
#include <string>

namespace ovrin {

// Byte strings carry serial and socket data: one char per byte, all 256 values.
using Bytes = std::string;
// A connection's identity: never reused while the program runs; 0 is nobody.
using ConnectionId = uint64_t;
// Clients served at once, at most: the slots of the socket array.
inline constexpr int16_t kMostClients = 5;

}  // namespace ovrin
