#pragma once

#include <cstdint>

#include "flash_image.h"
#include "frame/date_time.h"

namespace zelmar::sim {

// The instrument's own logging while it runs: a minute record at every new minute of its
// clock and an hour record at every new hour, written at the slot the descriptor points to,
// after which the descriptor moves on to the next slot (wrapping at the top of the ring).
// Records are dated by the instrument's clock, so they follow a clock the tool has set.
class LiveRecorder {
  public:
    struct Appended {
        int32_t minuteSlot = -1;  // slot written, or -1
        int32_t hourSlot = -1;
    };

    // The first call only notes the current minute; later calls append what is due.
    Appended Tick(FlashImage& image, TDateTime instrumentNow);
    void Reset() { started_ = false; }

  private:
    bool started_ = false;
    int64_t lastMinute_ = 0;
};

// Address of the first slot of the descriptor area that holds a descriptor (both halves
// neither all 0x00 nor all 0xFF), or -1.
int64_t FindDescriptorAddr(const FlashImage& image);

}  // namespace zelmar::sim
