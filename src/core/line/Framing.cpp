#include "line/Framing.h"

#include <algorithm>

#include "line/LineSettings.h"

namespace ovrin {
namespace {

// A block ends after two character times of quiet line, to the nearest
// millisecond and never under 1 ms: the next byte of a paced answer comes within
// one. A block that comes byte by byte waits three, so that a sender held up for
// a moment (a virtual port, a radio's own USB firmware) does not cut its answer;
// one that came at once is not held up for it.
constexpr int kGapCharacters = 2;
constexpr int kPacedGapCharacters = 3;

}  // namespace

int RadioCharacterMicroseconds(const std::string& settings) {
    return CharacterMicroseconds(ParseLineSettings(settings).value_or(LineSettings{}));
}

int RadioQuietGapMs(int characterUs, int32_t deliveryLatencyMs, bool paced) {
    const int characters = paced ? kPacedGapCharacters : kGapCharacters;
    const int gap = (characters * characterUs + 500) / 1000;
    return std::max(gap, 1) + std::max(deliveryLatencyMs, 0);
}

}  // namespace ovrin
