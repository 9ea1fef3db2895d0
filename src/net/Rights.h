#pragma once
// The check before the transmitter is keyed, whatever the way (CAT, the in-band
// command, a remote serial port's line): only a client in the transmit role keys,
// and only while the radio is inside the allowed bands.
#include <optional>
#include <string>

#include "model/Station.h"

namespace ovrin {

// A frequency told longer ago than this is read again before a key.
inline constexpr int kFrequencyFreshMs = 500;

// Why the key may not be, or nothing; fills in the request's role and frequency.
std::optional<std::string> KeyRefusal(Station& station, KeyRequest& request);

// Whether a key by this client must first have the radio's frequency read (bands
// are set and what is known is older than kFrequencyFreshMs): the read is asked
// for then. False when the key can be decided now, or nothing can be read.
bool FrequencyAskedBeforeKey(Station& station, const Connection& c);

}  // namespace ovrin
