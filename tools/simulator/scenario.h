#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flash_image.h"
#include "frame/date_time.h"

namespace zelmar::sim {

// A description of what the instrument's flash holds, from which BuildImage writes an image.
// Ready-made scenarios are below; tests build their own to try one behaviour at a time.

struct CellSpec {
    uint8_t type = 0;                // 0 O2, 1 CO, 2 NO, 3 NO2, 4 SO2, 5 H2S, … 10 without flash
    TDateTime calibrated = 0.0;      // 0: the calibration bytes stay erased (0xFF)
    bool calibrationBroken = false;  // written with month 0x13: a date that does not decode
    double pgs0 = 0.0, pgs3 = 0.0;   // calibration gases, stored × 100
    double threshold1 = 0.0, threshold2 = 0.0;  // stored × 100
    bool erased = false;                        // the context was never written: all 0xFF
    bool refused = false;  // the instrument answers the read of the type byte with an error code
};

struct DescriptorSpec {
    enum class Kind {
        Normal,  // points at the rings as RingSpec::descriptorOffset says
        None,    // the whole area stays erased
        Raw,     // the two addresses below, whatever they are (an out-of-range descriptor)
    };
    Kind kind = Kind::Normal;
    // Slot in the area, 0…1023 (address 0x4000 + 8 × slot). The default is the middle of the
    // area, where a bisecting search looks first.
    uint32_t areaSlot = 511;
    uint32_t rawMinuteAddr = 0;
    uint32_t rawHourAddr = 0;
};

// Per-slot changes to the regular records of a ring.
struct RecordOverride {
    int32_t slot = 0;                   // must hold a record of the ring
    bool erased = false;                // left 0xFF although the ring has a record there
    bool brokenDate = false;            // written, but the month byte is 0x13
    bool sameAsPrevious = false;        // the date-time of the record before it in the ring
    bool hourBit7 = false;              // bit 7 of the hour byte set (the reader ignores it)
    std::optional<TDateTime> dateTime;  // an explicit date-time instead of the schedule
    std::optional<uint8_t> events;      // minute records: event bits
    std::optional<uint8_t> resolution;  // minute records: 0 hundredths, other thousandths
};

// One ring. The `count` records are dated first, first + period, … and laid out backwards
// from `newestSlot`: the newest in newestSlot, older ones in the slots before it and, when
// count exceeds newestSlot + 1 (the ring has wrapped), from the top of the array downwards,
// so the oldest records lie in the slots right after the newest. Other slots stay erased.
struct RingSpec {
    int32_t count = 0;
    TDateTime first = 0.0;
    int32_t periodMinutes = 1;
    int32_t newestSlot = -1;  // -1: count − 1 (a ring that has not wrapped)
    // Where the descriptor points, in slots from the newest record. The instrument publishes
    // the slot after the newest (+1); any other value tries the reader's bounds walk.
    int32_t descriptorOffset = 1;
    uint8_t resolution = 0;  // minute ring: default resolution flag
    std::vector<RecordOverride> overrides;
};

struct Scenario {
    std::array<CellSpec, 4> cells{};
    DescriptorSpec descriptor;
    RingSpec hour;    // 16-byte records at 0x300000, 32768 slots
    RingSpec minute;  // 32-byte records at 0x8000, 97280 slots
};

// Address ranges whose reads the instrument refuses with an error code.
struct RefusedRange {
    uint32_t first = 0;
    uint32_t count = 1;
    uint8_t code = 1;
};

FlashImage BuildImage(const Scenario& scenario);
std::vector<RefusedRange> RefusedRanges(const Scenario& scenario);

// The slot of the newest record and of the descriptor's target, for a ring of `slots` slots.
int32_t NewestSlot(const RingSpec& ring);
int32_t DescriptorSlot(const RingSpec& ring, int32_t slots);
// The slot that holds record k (0 = oldest) of the ring.
int32_t RecordSlot(const RingSpec& ring, int32_t slots, int32_t k);

// Measurement values that follow a smooth daily curve, so graphs look like a real instrument's.
struct Measurement {
    double temperature = 0.0;  // °C
    double battery = 0.0;      // thousandths (4000 = 4.0 V)
    double pressure = 0.0;     // in record units (the byte as stored)
    std::array<double, 4> channels{};
};
Measurement SmoothMeasurement(TDateTime t, const std::array<uint8_t, 4>& cellTypes);

// Record writers (the live mode uses them too).
void WriteHourRecord(FlashImage& image, int32_t slot, TDateTime t, const Measurement& m,
                     bool hourBit7 = false);
void WriteMinuteRecord(FlashImage& image, int32_t slot, TDateTime t, const Measurement& m,
                       uint8_t events, uint8_t resolution);
// A written record whose date does not decode (month 0x13).
void BreakRecordDate(FlashImage& image, uint32_t recordAddr);
void WriteDescriptor(FlashImage& image, uint32_t areaSlot, uint32_t minuteAddr, uint32_t hourAddr);

// Ready-made scenarios; `end` is the date-time of the newest minute record.
// Realistic: four calibrated cells, five days of hour records and one day of minute records
// ending at `end`, with power-on, low-battery, charging and power-off events.
Scenario RealisticScenario(TDateTime end);
// The names the program accepts: realistic, empty, erased, wrapped, no-descriptor,
// bad-descriptor, refused-cell, broken.
std::vector<std::string> ScenarioNames();
// False for an unknown name.
bool ScenarioByName(const std::string& name, TDateTime end, Scenario& out);

}  // namespace zelmar::sim
