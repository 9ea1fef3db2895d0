#pragma once
// Radio data are framed by a quiet line: a block ends when the line has been quiet
// for a gap of a few character times, longer for a block that has come in pieces.
#include <cstdint>
#include <string>

namespace ovrin {

// One character's time on a line with these settings ("9600,n,8,2"); settings it
// cannot read count as the default line's.
int RadioCharacterMicroseconds(const std::string& settings);
// The quiet gap that ends a block on a line whose character takes characterUs, for
// a device that holds received bytes for up to deliveryLatencyMs; `paced` for a
// block that has come in more than one piece.
int RadioQuietGapMs(int characterUs, int32_t deliveryLatencyMs, bool paced);

// The line's timing, and the arrivals of the block being gathered.
class RadioFraming {
public:
    // The line's settings changed: read here once, not at each arrival.
    void LineChanged(const std::string& settings) { characterUs_ = RadioCharacterMicroseconds(settings); }
    int CharacterMicroseconds() const { return characterUs_; }
    // Bytes arrived; `newBlock` when no block was being gathered. The quiet gap
    // that ends the block now.
    int Arrived(bool newBlock, int32_t deliveryLatencyMs) {
        if (newBlock) arrivals_ = 0;
        ++arrivals_;
        return RadioQuietGapMs(characterUs_, deliveryLatencyMs, arrivals_ > 1);
    }

private:
    int characterUs_ = RadioCharacterMicroseconds("");
    int arrivals_ = 0;
};

}  // namespace ovrin
