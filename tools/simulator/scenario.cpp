#include "scenario.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>

#include "frame/my_exception.h"
#include "wire_frames.h"

namespace zelmar::sim {

namespace {

constexpr double kMinutesPerDay = 1440.0;

int32_t Mod(int64_t v, int32_t n) {
    const int64_t r = v % n;
    return static_cast<int32_t>(r < 0 ? r + n : r);
}

uint16_t Scaled(double value, double factor) {
    return static_cast<uint16_t>(std::clamp(std::lround(value * factor), 0L, 65535L));
}

uint8_t ByteValue(double value) {
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// Date-times of a schedule are built from whole minutes so that they encode exactly.
TDateTime MinutesToDateTime(int64_t minutes) {
    return static_cast<double>(minutes) / kMinutesPerDay;
}
int64_t DateTimeToMinutes(TDateTime t) {
    return std::llround(t * kMinutesPerDay);
}

// Checked packed BCD (the core's IntToBcd lives with the instrument operations, which the
// simulator does not link against on purpose).
uint8_t ToBcd(int value) {
    MY_CHECK(value >= 0 && value <= 99);
    return static_cast<uint8_t>(value / 10 * 16 + value % 10);
}

struct BcdDateTime {
    uint8_t yy, mm, dd, hh, mi;
};

BcdDateTime EncodeBcd(TDateTime t) {
    DateParts d;
    TimeParts tm;
    DecodeDateTime(t, d, tm);
    MY_CHECK_TEXT(d.year >= 2000 && d.year <= 2099, "year>=2000 && year<=2099");
    return {ToBcd(d.year - 2000), ToBcd(d.month), ToBcd(d.day), ToBcd(tm.hour), ToBcd(tm.minute)};
}

// Shape of one channel around its type's usual reading.
struct ChannelShape {
    double base, amplitude;
};

ChannelShape ShapeOf(uint8_t type) {
    switch (type) {
        case 0:
            return {20.9, 0.15};  // O2, % vol
        case 1:
            return {4.0, 3.0};  // CO, mg/m3
        case 2:
            return {1.0, 0.6};  // NO
        case 3:
            return {0.3, 0.2};  // NO2
        case 4:
            return {0.8, 0.5};  // SO2
        case 5:
            return {0.5, 0.4};  // H2S
        case 6:
            return {0.4, 0.3};  // HCl
        case 7:
            return {2.0, 1.5};  // NH3
        case 8:
            return {0.1, 0.08};  // CL2
        case 9:
            return {0.05, 0.04};  // RSH
        default:
            return {0.0, 0.0};
    }
}

using OverrideMap = std::map<int32_t, const RecordOverride*>;

bool InSpan(const RingSpec& ring, int32_t slots, int32_t slot) {
    return Mod(static_cast<int64_t>(NewestSlot(ring)) - slot, slots) < ring.count;
}

OverrideMap CheckRing(const RingSpec& ring, int32_t slots) {
    MY_CHECK(ring.count >= 0 && ring.count <= slots);
    MY_CHECK(ring.newestSlot >= -1 && ring.newestSlot < slots);
    MY_CHECK(ring.count <= 1 || ring.periodMinutes >= 1);
    OverrideMap map;
    for (const RecordOverride& o : ring.overrides) {
        MY_CHECK(o.slot >= 0 && o.slot < slots);
        MY_CHECK_TEXT(InSpan(ring, slots, o.slot), "override slot holds a record of the ring");
        map[o.slot] = &o;
    }
    return map;
}

// Calls write(slot, dateTime, override or null) for every record, oldest first; erased
// records are skipped but keep their place in the schedule.
template <class WriteFn>
void LayOut(const RingSpec& ring, int32_t slots, WriteFn write) {
    const OverrideMap overrides = CheckRing(ring, slots);
    const int64_t firstMinute = DateTimeToMinutes(ring.first);
    TDateTime prev = 0.0;
    for (int32_t k = 0; k < ring.count; ++k) {
        const int32_t slot = RecordSlot(ring, slots, k);
        auto it = overrides.find(slot);
        const RecordOverride* o = it == overrides.end() ? nullptr : it->second;
        TDateTime t = MinutesToDateTime(firstMinute + static_cast<int64_t>(k) * ring.periodMinutes);
        if (o && o->dateTime) t = *o->dateTime;
        if (o && o->sameAsPrevious && k > 0) t = prev;
        prev = t;
        if (o && o->erased) continue;
        write(slot, t, o);
    }
}

}  // namespace

int32_t NewestSlot(const RingSpec& ring) {
    return ring.newestSlot >= 0 ? ring.newestSlot : ring.count - 1;
}

int32_t DescriptorSlot(const RingSpec& ring, int32_t slots) {
    return Mod(static_cast<int64_t>(NewestSlot(ring)) + ring.descriptorOffset, slots);
}

int32_t RecordSlot(const RingSpec& ring, int32_t slots, int32_t k) {
    return Mod(static_cast<int64_t>(NewestSlot(ring)) - (ring.count - 1 - k), slots);
}

Measurement SmoothMeasurement(TDateTime t, const std::array<uint8_t, 4>& cellTypes) {
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    const double dayPhase = t - std::floor(t);
    Measurement m;
    // Warmest in the afternoon, with a slower drift over a few days.
    m.temperature =
        19.0 + 4.0 * std::sin(kTwoPi * (dayPhase - 0.375)) + 1.0 * std::sin(kTwoPi * t / 3.7);
    // A slow weekly discharge with a small ripple.
    const double week = t / 7.0 - std::floor(t / 7.0);
    m.battery = 4150.0 - 250.0 * week + 10.0 * std::sin(kTwoPi * t * 6.0);
    m.pressure = 100.0 + 3.0 * std::sin(kTwoPi * t / 2.3);
    for (size_t i = 0; i < 4; ++i) {
        const ChannelShape s = ShapeOf(cellTypes[i]);
        const double phase = 0.17 * static_cast<double>(i);
        m.channels[i] = s.base + s.amplitude * (0.7 * std::sin(kTwoPi * (dayPhase + phase)) +
                                                0.3 * std::sin(kTwoPi * (t / 1.9 + phase)));
    }
    return m;
}

void WriteHourRecord(FlashImage& image, int32_t slot, TDateTime t, const Measurement& m,
                     bool hourBit7) {
    MY_CHECK(slot >= 0 && slot < flash::kHourSlots);
    const BcdDateTime b = EncodeBcd(t);
    uint8_t r[flash::kHourRecordSize] = {};
    r[0] = b.yy;
    r[1] = b.mm;
    r[2] = b.dd;
    r[3] = static_cast<uint8_t>(b.hh | (hourBit7 ? 0x80 : 0x00));
    r[4] = ByteValue(m.temperature);
    const uint16_t battery = Scaled(m.battery, 1.0);
    r[6] = static_cast<uint8_t>(battery >> 8);
    r[7] = static_cast<uint8_t>(battery);
    for (size_t i = 0; i < 4; ++i) {
        const uint16_t v = Scaled(m.channels[i], 100.0);
        r[8 + 2 * i] = static_cast<uint8_t>(v >> 8);
        r[9 + 2 * i] = static_cast<uint8_t>(v);
    }
    image.Write(flash::HourSlotAddr(slot), r, sizeof r);
}

void WriteMinuteRecord(FlashImage& image, int32_t slot, TDateTime t, const Measurement& m,
                       uint8_t events, uint8_t resolution) {
    MY_CHECK(slot >= 0 && slot < flash::kMinuteSlots);
    const BcdDateTime b = EncodeBcd(t);
    const double factor = resolution ? 1000.0 : 100.0;
    uint8_t r[flash::kMinuteRecordSize] = {};
    r[0] = b.yy;
    r[1] = b.mm;
    r[2] = b.dd;
    r[3] = b.hh;
    r[4] = b.mi;
    r[5] = ByteValue(m.temperature);
    r[6] = events;
    r[14] = resolution;
    r[15] = ByteValue(m.pressure);
    for (size_t i = 0; i < 4; ++i) {
        const uint16_t v = Scaled(m.channels[i], factor);
        r[24 + 2 * i] = static_cast<uint8_t>(v >> 8);
        r[25 + 2 * i] = static_cast<uint8_t>(v);
    }
    image.Write(flash::MinuteSlotAddr(slot), r, sizeof r);
}

void BreakRecordDate(FlashImage& image, uint32_t recordAddr) {
    image.SetByte(recordAddr + 1, 0x13);
}

void WriteDescriptor(FlashImage& image, uint32_t areaSlot, uint32_t minuteAddr, uint32_t hourAddr) {
    MY_CHECK(areaSlot < flash::kDescriptorSlots);
    const uint32_t a = flash::DescriptorSlotAddr(areaSlot);
    image.SetLong(a, minuteAddr);
    image.SetLong(a + 4, hourAddr);
}

FlashImage BuildImage(const Scenario& sc) {
    FlashImage image;
    std::array<uint8_t, 4> types{};
    for (size_t i = 0; i < 4; ++i) {
        const CellSpec& c = sc.cells[i];
        types[i] = c.type;
        if (c.erased) continue;
        const uint32_t base = flash::kCellContext[i];
        uint8_t ctx[20] = {};
        ctx[0] = c.type;
        auto putWord = [&ctx](size_t at, double v) {
            const uint16_t w = Scaled(v, 100.0);
            ctx[at] = static_cast<uint8_t>(w >> 8);
            ctx[at + 1] = static_cast<uint8_t>(w);
        };
        putWord(2, c.pgs0);
        putWord(4, c.pgs3);
        putWord(16, c.threshold1);
        putWord(18, c.threshold2);
        if (c.calibrated != 0.0) {
            const BcdDateTime b = EncodeBcd(c.calibrated);
            ctx[10] = b.hh;
            ctx[11] = b.mi;
            ctx[12] = 0x00;
            ctx[13] = b.yy;
            ctx[14] = c.calibrationBroken ? 0x13 : b.mm;
            ctx[15] = b.dd;
        } else {
            MY_CHECK_TEXT(!c.calibrationBroken, "a broken calibration needs a date-time");
            std::fill(ctx + 10, ctx + 16, 0xFF);
        }
        image.Write(base, ctx, sizeof ctx);
    }

    LayOut(sc.hour, flash::kHourSlots, [&](int32_t slot, TDateTime t, const RecordOverride* o) {
        WriteHourRecord(image, slot, t, SmoothMeasurement(t, types), o && o->hourBit7);
        if (o && o->brokenDate) BreakRecordDate(image, flash::HourSlotAddr(slot));
    });
    LayOut(sc.minute, flash::kMinuteSlots, [&](int32_t slot, TDateTime t, const RecordOverride* o) {
        const uint8_t events = o && o->events ? *o->events : 0;
        const uint8_t res = o && o->resolution ? *o->resolution : sc.minute.resolution;
        WriteMinuteRecord(image, slot, t, SmoothMeasurement(t, types), events, res);
        const uint32_t addr = flash::MinuteSlotAddr(slot);
        if (o && o->hourBit7) image.SetByte(addr + 3, image.Byte(addr + 3) | 0x80);
        if (o && o->brokenDate) BreakRecordDate(image, addr);
    });

    switch (sc.descriptor.kind) {
        case DescriptorSpec::Kind::Normal:
            WriteDescriptor(image, sc.descriptor.areaSlot,
                            flash::MinuteSlotAddr(DescriptorSlot(sc.minute, flash::kMinuteSlots)),
                            flash::HourSlotAddr(DescriptorSlot(sc.hour, flash::kHourSlots)));
            break;
        case DescriptorSpec::Kind::Raw:
            WriteDescriptor(image, sc.descriptor.areaSlot, sc.descriptor.rawMinuteAddr,
                            sc.descriptor.rawHourAddr);
            break;
        case DescriptorSpec::Kind::None:
            break;
    }
    return image;
}

std::vector<RefusedRange> RefusedRanges(const Scenario& sc) {
    std::vector<RefusedRange> out;
    // Only the type byte is refused: the reader takes that refusal as "no type" and goes on
    // reading the other fields of the cell.
    for (size_t i = 0; i < 4; ++i)
        if (sc.cells[i].refused) out.push_back({flash::kCellContext[i], 1, kStatusRefused});
    return out;
}

namespace {

std::array<CellSpec, 4> RealisticCells(TDateTime end) {
    const TDateTime day = DatePart(end);
    std::array<CellSpec, 4> cells{};
    cells[0] = {0, day - 30 + EncodeTime(10, 15, 0, 0), false, 0.0, 20.9, 19.5, 23.5, false, false};
    cells[1] = {1,    day - 30 + EncodeTime(10, 40, 0, 0), false, 0.0, 100.0, 20.0, 100.0, false,
                false};
    cells[2] = {5, day - 45 + EncodeTime(14, 5, 0, 0), false, 0.0, 20.0, 10.0, 20.0, false, false};
    cells[3] = {4, day - 61 + EncodeTime(9, 30, 0, 0), false, 0.0, 10.0, 5.0, 10.0, false, false};
    return cells;
}

RecordOverride Events(int32_t slot, uint8_t bits) {
    RecordOverride o;
    o.slot = slot;
    o.events = bits;
    return o;
}

}  // namespace

Scenario RealisticScenario(TDateTime end) {
    const int64_t endMinute = DateTimeToMinutes(end);
    const int64_t endHour = endMinute / 60 * 60;
    Scenario sc;
    sc.cells = RealisticCells(end);

    sc.hour.count = 5 * 24;
    sc.hour.periodMinutes = 60;
    sc.hour.first = MinutesToDateTime(endHour - static_cast<int64_t>(sc.hour.count - 1) * 60);

    sc.minute.count = 24 * 60;
    sc.minute.periodMinutes = 1;
    sc.minute.first = MinutesToDateTime(endMinute - (sc.minute.count - 1));
    sc.minute.overrides = {
        Events(0, 0x01),     // включение питания
        Events(300, 0x10),   // низкое напряжение аккумулятора
        Events(310, 0x20),   // заряд аккумулятора
        Events(720, 0x02),   // сработал WatchDog
        Events(900, 0x40),   // выключение питания
        Events(901, 0x01),   // включение питания
        Events(1200, 0x11),  // включение питания + низкое напряжение
    };
    return sc;
}

std::vector<std::string> ScenarioNames() {
    return {"realistic",     "empty",          "erased",       "wrapped",
            "no-descriptor", "bad-descriptor", "refused-cell", "broken"};
}

bool ScenarioByName(const std::string& name, TDateTime end, Scenario& out) {
    const int64_t endMinute = DateTimeToMinutes(end);
    Scenario sc = RealisticScenario(end);
    if (name == "realistic") {
    } else if (name == "empty") {
        // Contexts and a descriptor, but no record yet: a freshly cleared instrument.
        sc.hour = RingSpec{};
        sc.minute = RingSpec{};
    } else if (name == "erased") {
        sc = Scenario{};
        for (CellSpec& c : sc.cells) c.erased = true;
        sc.descriptor.kind = DescriptorSpec::Kind::None;
    } else if (name == "wrapped") {
        // Both rings full, the write position well inside them.
        sc.hour.count = flash::kHourSlots;
        sc.hour.newestSlot = 1000;
        sc.hour.first = MinutesToDateTime(endMinute / 60 * 60 -
                                          static_cast<int64_t>(flash::kHourSlots - 1) * 60);
        sc.minute.count = flash::kMinuteSlots;
        sc.minute.newestSlot = 5000;
        sc.minute.first = MinutesToDateTime(endMinute - (flash::kMinuteSlots - 1));
        sc.minute.overrides.clear();
        for (int32_t k = 0; k < flash::kMinuteSlots; k += 1440 * 3)
            sc.minute.overrides.push_back(
                Events(RecordSlot(sc.minute, flash::kMinuteSlots, k), 0x01));
    } else if (name == "no-descriptor") {
        sc.descriptor.kind = DescriptorSpec::Kind::None;
    } else if (name == "bad-descriptor") {
        // Found by the search, but the hour address lies past the hour archive.
        sc.descriptor.kind = DescriptorSpec::Kind::Raw;
        sc.descriptor.rawMinuteAddr =
            flash::MinuteSlotAddr(DescriptorSlot(sc.minute, flash::kMinuteSlots));
        sc.descriptor.rawHourAddr = flash::kHourLast + 1;
    } else if (name == "refused-cell") {
        sc.cells[1].refused = true;
    } else if (name == "broken") {
        // Returns the override of a slot, created on first use.
        auto at = [](RingSpec& ring, int32_t slot) -> RecordOverride& {
            for (RecordOverride& o : ring.overrides)
                if (o.slot == slot) return o;
            ring.overrides.push_back(RecordOverride{});
            ring.overrides.back().slot = slot;
            return ring.overrides.back();
        };
        at(sc.hour, 10).brokenDate = true;
        at(sc.hour, 20).erased = true;
        at(sc.hour, 30).sameAsPrevious = true;
        for (int32_t s = 40; s < 46; ++s) at(sc.hour, s).hourBit7 = true;
        at(sc.minute, 100).brokenDate = true;
        at(sc.minute, 101).brokenDate = true;
        at(sc.minute, 200).erased = true;
        at(sc.minute, 300).sameAsPrevious = true;
        // One hour of minute records in thousandths.
        for (int32_t s = 600; s < 660; ++s) at(sc.minute, s).resolution = 1;
        sc.cells[2].calibrationBroken = true;
    } else {
        return false;
    }
    out = std::move(sc);
    return true;
}

}  // namespace zelmar::sim
