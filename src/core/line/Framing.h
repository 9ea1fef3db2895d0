#pragma once
// Radio data are framed by a quiet line: a block ends when the line has been quiet
// for a gap of a few character times, longer for a block that has come in pieces.
#include <cstdint>
#include <string>

namespace ovrin {

// The quiet gap that ends a block on a line with these settings ("9600,n,8,2"), for
// a device that holds received bytes for up to deliveryLatencyMs; `paced` for a
// block that has come in more than one piece.
int RadioQuietGapMs(const std::string& settings, int32_t deliveryLatencyMs, bool paced);
// One character's time on a line with these settings.
int RadioCharacterMicroseconds(const std::string& settings);

// The arrivals of the block being gathered.
class RadioFraming {
public:
    // Bytes arrived; `newBlock` when no block was being gathered. The quiet gap
    // that ends the block now.
    int Arrived(bool newBlock, const std::string& settings, int32_t deliveryLatencyMs) {
        if (newBlock) arrivals_ = 0;
        ++arrivals_;
        return RadioQuietGapMs(settings, deliveryLatencyMs, arrivals_ > 1);
    }

private:
    int arrivals_ = 0;
};

}  // namespace ovrin
