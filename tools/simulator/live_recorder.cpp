#include "live_recorder.h"

#include <array>
#include <cmath>

#include "scenario.h"

namespace zelmar::sim {

namespace {

bool IsDescriptorHalf(uint32_t v) {
    return v != 0 && v != 0xFFFFFFFFu;
}

// Slot of `addr` in a ring, or -1 when the address is not a record of it.
int32_t SlotOf(uint32_t addr, uint32_t first, uint32_t last, uint32_t recordSize) {
    if (addr < first || addr > last || (addr - first) % recordSize != 0) return -1;
    return static_cast<int32_t>((addr - first) / recordSize);
}

}  // namespace

int64_t FindDescriptorAddr(const FlashImage& image) {
    for (uint32_t s = 0; s < flash::kDescriptorSlots; ++s) {
        const uint32_t a = flash::DescriptorSlotAddr(s);
        if (IsDescriptorHalf(image.Long(a)) && IsDescriptorHalf(image.Long(a + 4))) return a;
    }
    return -1;
}

LiveRecorder::Appended LiveRecorder::Tick(FlashImage& image, TDateTime now) {
    Appended out;
    const int64_t minute = std::llround(now * kMSecsPerDay) / 60000;
    if (!started_) {
        started_ = true;
        lastMinute_ = minute;
        return out;
    }
    if (minute == lastMinute_) return out;
    const bool newHour = minute / 60 != lastMinute_ / 60;
    lastMinute_ = minute;

    const int64_t desc = FindDescriptorAddr(image);
    if (desc < 0) return out;
    const uint32_t d = static_cast<uint32_t>(desc);
    std::array<uint8_t, 4> types{};
    for (size_t i = 0; i < 4; ++i) types[i] = image.Byte(flash::kCellContext[i]);

    const int32_t ms =
        SlotOf(image.Long(d), flash::kMinuteFirst, flash::kMinuteLast, flash::kMinuteRecordSize);
    if (ms >= 0) {
        const TDateTime t = static_cast<double>(minute) / 1440.0;
        // Keep the resolution of the record before, as the instrument keeps its setting.
        const int32_t prev = ms == 0 ? flash::kMinuteSlots - 1 : ms - 1;
        const uint32_t prevAddr = flash::MinuteSlotAddr(prev);
        const uint8_t res =
            image.IsErased(prevAddr, flash::kMinuteRecordSize) ? 0 : image.Byte(prevAddr + 14);
        WriteMinuteRecord(image, ms, t, SmoothMeasurement(t, types), 0, res);
        const int32_t next = ms + 1 == flash::kMinuteSlots ? 0 : ms + 1;
        image.SetLong(d, flash::MinuteSlotAddr(next));
        out.minuteSlot = ms;
    }
    const int32_t hs =
        SlotOf(image.Long(d + 4), flash::kHourFirst, flash::kHourLast, flash::kHourRecordSize);
    if (newHour && hs >= 0) {
        const TDateTime t = static_cast<double>(minute / 60 * 60) / 1440.0;
        WriteHourRecord(image, hs, t, SmoothMeasurement(t, types));
        const int32_t next = hs + 1 == flash::kHourSlots ? 0 : hs + 1;
        image.SetLong(d + 4, flash::HourSlotAddr(next));
        out.hourSlot = hs;
    }
    return out;
}

}  // namespace zelmar::sim
