#include "scenario.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "frame/date_time.h"
#include "frame/my_exception.h"
#include "live_recorder.h"
#include "support/test_support.h"

using namespace zelmar::sim;

namespace {

int Bcd(uint8_t b) {
    return (b >> 4) * 10 + (b & 0x0F);
}

struct Stamp {
    int year, month, day, hour, minute;
    bool operator==(const Stamp&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Stamp& s) {
    return os << s.day << "." << s.month << "." << s.year << " " << s.hour << ":" << s.minute;
}

Stamp StampOf(TDateTime t) {
    DateParts d;
    TimeParts tm;
    DecodeDateTime(t, d, tm);
    return {d.year, d.month, d.day, tm.hour, tm.minute};
}

// The record's date-time as the reader takes it: bit 7 of the hour byte ignored.
Stamp MinuteStamp(const FlashImage& im, int32_t slot) {
    const uint32_t a = flash::MinuteSlotAddr(slot);
    return {2000 + Bcd(im.Byte(a)), Bcd(im.Byte(a + 1)), Bcd(im.Byte(a + 2)),
            Bcd(im.Byte(a + 3) & 0x7F), Bcd(im.Byte(a + 4))};
}

Stamp HourStamp(const FlashImage& im, int32_t slot) {
    const uint32_t a = flash::HourSlotAddr(slot);
    return {2000 + Bcd(im.Byte(a)), Bcd(im.Byte(a + 1)), Bcd(im.Byte(a + 2)),
            Bcd(im.Byte(a + 3) & 0x7F), 0};
}

const TDateTime kEnd = EncodeDateTime(2013, 3, 12, 10, 30);
constexpr TDateTime kMinute = 1.0 / 1440.0;

TEST(Scenario, RealisticCellContexts) {
    const Scenario sc = RealisticScenario(kEnd);
    const FlashImage im = BuildImage(sc);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const uint32_t base = flash::kCellContext[i];
        const CellSpec& c = sc.cells[i];
        EXPECT_EQ(im.Byte(base), c.type);
        EXPECT_EQ(im.Word(base + 2), std::lround(c.pgs0 * 100));
        EXPECT_EQ(im.Word(base + 4), std::lround(c.pgs3 * 100));
        EXPECT_EQ(im.Word(base + 16), std::lround(c.threshold1 * 100));
        EXPECT_EQ(im.Word(base + 18), std::lround(c.threshold2 * 100));
        // Hour, minute, (seconds), year, month, day.
        const Stamp s = StampOf(c.calibrated);
        EXPECT_EQ(
            Stamp({2000 + Bcd(im.Byte(base + 13)), Bcd(im.Byte(base + 14)), Bcd(im.Byte(base + 15)),
                   Bcd(im.Byte(base + 10)), Bcd(im.Byte(base + 11))}),
            s);
    }
    // Four different cells, O2 first with its 20.9 % calibration gas.
    EXPECT_EQ(im.Byte(0x0000), 0);
    EXPECT_EQ(im.Word(0x0004), 2090);
    EXPECT_TRUE(RefusedRanges(sc).empty());
}

TEST(Scenario, CellVariants) {
    Scenario sc;
    sc.cells[0] = {1, 0.0, false, 0, 50, 10, 20, false, false};  // never calibrated
    sc.cells[1] = {2, EncodeDateTime(2012, 5, 6, 7, 8), true, 0, 50, 10, 20, false, false};
    sc.cells[2].erased = true;
    sc.cells[3].refused = true;
    sc.descriptor.kind = DescriptorSpec::Kind::None;
    const FlashImage im = BuildImage(sc);
    EXPECT_TRUE(im.IsErased(0x0000 + 10, 6));
    EXPECT_EQ(im.Byte(0x0000), 1);
    EXPECT_EQ(im.Byte(0x1000 + 14), 0x13);  // month that does not decode
    EXPECT_EQ(im.Byte(0x1000 + 13), 0x12);  // the rest is the real date
    EXPECT_TRUE(im.IsErased(0x2000, 0x1000));
    // Only the type byte of the refused cell is refused, so the reader goes on with its
    // other fields.
    const std::vector<RefusedRange> r = RefusedRanges(sc);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].first, 0x3000u);
    EXPECT_EQ(r[0].count, 1u);
    EXPECT_NE(r[0].code, 0);
}

TEST(Scenario, RealisticRingsEndAtTheGivenTimeAndRiseSteadily) {
    const Scenario sc = RealisticScenario(kEnd);
    const FlashImage im = BuildImage(sc);
    ASSERT_GT(sc.minute.count, 1000);
    ASSERT_GT(sc.hour.count, 48);
    const int32_t newestMin = sc.minute.count - 1;
    EXPECT_EQ(MinuteStamp(im, newestMin), StampOf(kEnd));
    EXPECT_EQ(MinuteStamp(im, 0), StampOf(kEnd - newestMin * kMinute));
    for (int32_t s = 1; s <= newestMin; s += 97)
        EXPECT_EQ(MinuteStamp(im, s), StampOf(kEnd - (newestMin - s) * kMinute)) << s;
    EXPECT_TRUE(im.IsErased(flash::MinuteSlotAddr(newestMin + 1), flash::kMinuteRecordSize));

    const int32_t newestHour = sc.hour.count - 1;
    EXPECT_EQ(HourStamp(im, newestHour), StampOf(EncodeDateTime(2013, 3, 12, 10, 0)));
    EXPECT_EQ(HourStamp(im, newestHour - 24), StampOf(EncodeDateTime(2013, 3, 11, 10, 0)));
    EXPECT_TRUE(im.IsErased(flash::HourSlotAddr(newestHour + 1), flash::kHourRecordSize));

    // The descriptor in its slot: minute address first, both the slot after the newest.
    const uint32_t d = flash::DescriptorSlotAddr(sc.descriptor.areaSlot);
    EXPECT_EQ(im.Long(d), flash::MinuteSlotAddr(newestMin + 1));
    EXPECT_EQ(im.Long(d + 4), flash::HourSlotAddr(newestHour + 1));
    EXPECT_EQ(FindDescriptorAddr(im), d);

    // Events: power-on on the oldest minute record, and several kinds in all.
    EXPECT_EQ(im.Byte(flash::MinuteSlotAddr(0) + 6), 0x01);
    uint8_t seen = 0;
    for (int32_t s = 0; s <= newestMin; ++s) seen |= im.Byte(flash::MinuteSlotAddr(s) + 6);
    EXPECT_EQ(seen & 0x73, 0x73);
}

TEST(Scenario, ValuesFollowASmoothRealisticCurve) {
    const Scenario sc = RealisticScenario(kEnd);
    const FlashImage im = BuildImage(sc);
    double prevO2 = -1;
    for (int32_t s = 0; s < sc.minute.count; ++s) {
        const uint32_t a = flash::MinuteSlotAddr(s);
        const double o2 = im.Word(a + 24) * 0.01;  // cell 1 is O2, in hundredths
        const int t = im.Byte(a + 5);
        ASSERT_GT(o2, 20.5);
        ASSERT_LT(o2, 21.3);
        ASSERT_GE(t, 10);
        ASSERT_LE(t, 30);
        if (prevO2 >= 0) {
            ASSERT_LE(std::fabs(o2 - prevO2), 0.03) << s;
        }
        prevO2 = o2;
    }
    // Hour records: battery in thousandths, around 4 V.
    const uint16_t battery = im.Word(flash::HourSlotAddr(0) + 6);
    EXPECT_GT(battery, 3700);
    EXPECT_LT(battery, 4300);
}

struct OverrideCase {
    const char* name;
    RecordOverride over;
};

class MinuteOverride : public ::testing::TestWithParam<OverrideCase> {};

TEST_P(MinuteOverride, IsVisibleInTheRecordAndLeavesTheNeighbours) {
    Scenario sc;
    sc.descriptor.kind = DescriptorSpec::Kind::None;
    sc.minute.count = 20;
    sc.minute.first = kEnd - 19 * kMinute;
    RecordOverride o = GetParam().over;
    o.slot = 10;
    sc.minute.overrides = {o};
    const FlashImage im = BuildImage(sc);
    const uint32_t a = flash::MinuteSlotAddr(10);
    if (o.erased) {
        EXPECT_TRUE(im.IsErased(a, 32));
    } else if (o.brokenDate) {
        EXPECT_FALSE(im.IsErased(a, 32));
        EXPECT_EQ(im.Byte(a + 1), 0x13);
    } else if (o.sameAsPrevious) {
        EXPECT_EQ(MinuteStamp(im, 10), MinuteStamp(im, 9));
    } else if (o.hourBit7) {
        EXPECT_EQ(im.Byte(a + 3) & 0x80, 0x80);
        EXPECT_EQ(MinuteStamp(im, 10), StampOf(kEnd - 9 * kMinute));
    } else if (o.events) {
        EXPECT_EQ(im.Byte(a + 6), *o.events);
    } else if (o.dateTime) {
        EXPECT_EQ(MinuteStamp(im, 10), StampOf(*o.dateTime));
    }
    // The schedule goes on around it.
    EXPECT_EQ(MinuteStamp(im, 9), StampOf(kEnd - 10 * kMinute));
    EXPECT_EQ(MinuteStamp(im, 11), StampOf(kEnd - 8 * kMinute));
    EXPECT_EQ(im.Byte(flash::MinuteSlotAddr(11) + 6), 0);
}

RecordOverride Make(void (*set)(RecordOverride&)) {
    RecordOverride o;
    set(o);
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, MinuteOverride,
    ::testing::Values(OverrideCase{"erased", Make([](RecordOverride& o) { o.erased = true; })},
                      OverrideCase{"broken", Make([](RecordOverride& o) { o.brokenDate = true; })},
                      OverrideCase{"same",
                                   Make([](RecordOverride& o) { o.sameAsPrevious = true; })},
                      OverrideCase{"bit7", Make([](RecordOverride& o) { o.hourBit7 = true; })},
                      OverrideCase{"events", Make([](RecordOverride& o) { o.events = 0x88; })},
                      OverrideCase{"date", Make([](RecordOverride& o) {
                                       o.dateTime = EncodeDateTime(2012, 1, 2, 3, 4);
                                   })}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Scenario, ResolutionFlagScalesTheStoredValues) {
    Scenario sc;
    sc.descriptor.kind = DescriptorSpec::Kind::None;
    sc.cells[1].type = 1;  // CO
    sc.minute.count = 3;
    sc.minute.first = kEnd;
    RecordOverride o;
    o.slot = 1;
    o.resolution = 1;
    sc.minute.overrides = {o};
    // Slot 1 in thousandths; the same instant again in hundredths for comparison.
    const FlashImage im = BuildImage(sc);
    sc.minute.overrides.clear();
    const FlashImage hundredths = BuildImage(sc);
    const uint32_t a = flash::MinuteSlotAddr(1);
    EXPECT_EQ(im.Byte(a + 14), 1);
    EXPECT_EQ(hundredths.Byte(a + 14), 0);
    for (uint32_t ch = 0; ch < 2; ++ch) {
        const double milli = im.Word(a + 24 + 2 * ch) * 0.001;
        const double centi = hundredths.Word(a + 24 + 2 * ch) * 0.01;
        EXPECT_NEAR(milli, centi, 0.006) << ch;
        EXPECT_GT(milli, 0.1);
    }
    // The pressure byte is the same record unit in both.
    EXPECT_EQ(im.Byte(a + 15), hundredths.Byte(a + 15));
}

TEST(Scenario, HourRecordLayout) {
    Scenario sc;
    sc.descriptor.kind = DescriptorSpec::Kind::None;
    sc.hour.count = 2;
    sc.hour.periodMinutes = 60;
    sc.hour.first = EncodeDateTime(2013, 3, 12, 9, 0);
    RecordOverride o;
    o.slot = 1;
    o.hourBit7 = true;
    sc.hour.overrides = {o};
    const FlashImage im = BuildImage(sc);
    const uint32_t a = flash::HourSlotAddr(1);
    EXPECT_EQ(im.Byte(a + 0), 0x13);
    EXPECT_EQ(im.Byte(a + 1), 0x03);
    EXPECT_EQ(im.Byte(a + 2), 0x12);
    EXPECT_EQ(im.Byte(a + 3), 0x90);  // 10 o'clock with bit 7
    EXPECT_EQ(im.Byte(flash::HourSlotAddr(0) + 3), 0x09);
    EXPECT_GT(im.Word(a + 6), 3000);  // battery
    EXPECT_TRUE(im.IsErased(flash::HourSlotAddr(2), 16));
}

TEST(Scenario, WrappedRingKeepsTheOldestRightAfterTheNewest) {
    Scenario sc;
    sc.descriptor.areaSlot = 3;
    sc.hour.count = flash::kHourSlots;
    sc.hour.periodMinutes = 60;
    sc.hour.newestSlot = 1000;
    sc.hour.first = EncodeDateTime(2010, 1, 1, 0, 0);
    const FlashImage im = BuildImage(sc);
    const TDateTime hour = 1.0 / 24;
    EXPECT_EQ(HourStamp(im, 1001), StampOf(sc.hour.first));
    EXPECT_EQ(HourStamp(im, 1000), StampOf(sc.hour.first + (flash::kHourSlots - 1) * hour));
    // Across the top of the array the times go on.
    const int32_t kTop = flash::kHourSlots - 1;
    EXPECT_EQ(HourStamp(im, 0), StampOf(sc.hour.first + (kTop - 1001 + 1) * hour));
    EXPECT_EQ(HourStamp(im, kTop), StampOf(sc.hour.first + (kTop - 1001) * hour));
    EXPECT_EQ(im.Long(flash::DescriptorSlotAddr(3) + 4), flash::HourSlotAddr(1001));
    // The minute ring is empty and its descriptor points at slot 0.
    EXPECT_EQ(im.Long(flash::DescriptorSlotAddr(3)), flash::kMinuteFirst);
}

TEST(Scenario, PartlyWrappedRingLeavesAnErasedGapAfterTheNewest) {
    Scenario sc;
    sc.minute.count = 30;
    sc.minute.newestSlot = 9;
    sc.minute.first = kEnd - 29 * kMinute;
    const FlashImage im = BuildImage(sc);
    EXPECT_EQ(MinuteStamp(im, 9), StampOf(kEnd));
    EXPECT_EQ(MinuteStamp(im, 0), StampOf(kEnd - 9 * kMinute));
    EXPECT_EQ(MinuteStamp(im, flash::kMinuteSlots - 20), StampOf(sc.minute.first));
    EXPECT_TRUE(im.IsErased(flash::MinuteSlotAddr(10), 32));
    EXPECT_TRUE(im.IsErased(flash::MinuteSlotAddr(flash::kMinuteSlots - 21), 32));
}

TEST(Scenario, DescriptorVariants) {
    Scenario sc;
    sc.minute.count = 200;
    sc.minute.first = kEnd - 199 * kMinute;
    sc.minute.descriptorOffset = -150;  // far behind the newest record
    sc.descriptor.areaSlot = 1023;
    FlashImage im = BuildImage(sc);
    EXPECT_EQ(im.Long(0x5FF8), flash::MinuteSlotAddr(199 - 150));
    EXPECT_EQ(FindDescriptorAddr(im), 0x5FF8);

    sc.descriptor.kind = DescriptorSpec::Kind::None;
    im = BuildImage(sc);
    EXPECT_TRUE(im.IsErased(flash::kDescriptorFirst, 0x2000));
    EXPECT_EQ(FindDescriptorAddr(im), -1);

    sc.descriptor.kind = DescriptorSpec::Kind::Raw;
    sc.descriptor.areaSlot = 0;
    sc.descriptor.rawMinuteAddr = 0x8000;
    sc.descriptor.rawHourAddr = 0x380000;
    im = BuildImage(sc);
    const uint8_t expected[8] = {0x00, 0x00, 0x80, 0x00, 0x00, 0x38, 0x00, 0x00};
    uint8_t got[8];
    im.Read(0x4000, got, 8);
    EXPECT_EQ(0, std::memcmp(got, expected, 8));
}

TEST(Scenario, BadDescriptionsAreRefused) {
    Scenario sc;
    sc.hour.count = flash::kHourSlots + 1;
    EXPECT_THROW(BuildImage(sc), MyExceptionPtr);
    sc = Scenario{};
    sc.minute.count = 5;
    sc.minute.first = kEnd;
    RecordOverride o;
    o.slot = 7;  // no record there
    sc.minute.overrides = {o};
    EXPECT_THROW(BuildImage(sc), MyExceptionPtr);
}

TEST(Scenario, NamedScenarios) {
    for (const std::string& name : ScenarioNames()) {
        SCOPED_TRACE(name);
        Scenario sc;
        ASSERT_TRUE(ScenarioByName(name, kEnd, sc));
        const FlashImage im = BuildImage(sc);
        const int64_t d = FindDescriptorAddr(im);
        if (name == "erased") {
            EXPECT_TRUE(im.IsErased(0, flash::kSize));
        } else if (name == "no-descriptor") {
            EXPECT_EQ(d, -1);
        } else if (name == "bad-descriptor") {
            ASSERT_GE(d, 0);
            EXPECT_EQ(im.Long(static_cast<uint32_t>(d) + 4), flash::kHourLast + 1);
        } else if (name == "wrapped") {
            EXPECT_FALSE(
                im.IsErased(flash::kMinuteFirst, flash::kMinuteLast + 1 - flash::kMinuteFirst));
            EXPECT_EQ(MinuteStamp(im, 5000), StampOf(kEnd));
            EXPECT_EQ(im.Long(static_cast<uint32_t>(d)), flash::MinuteSlotAddr(5001));
        } else if (name == "empty") {
            EXPECT_TRUE(im.IsErased(flash::kMinuteFirst, 32 * 10));
            EXPECT_EQ(im.Long(static_cast<uint32_t>(d)), flash::kMinuteFirst);
        } else if (name == "refused-cell") {
            EXPECT_EQ(RefusedRanges(sc).size(), 1u);
        } else if (name == "broken") {
            EXPECT_EQ(im.Byte(flash::MinuteSlotAddr(100) + 1), 0x13);
            EXPECT_TRUE(im.IsErased(flash::MinuteSlotAddr(200), 32));
            EXPECT_EQ(im.Byte(flash::MinuteSlotAddr(600) + 14), 1);
            EXPECT_EQ(im.Byte(flash::HourSlotAddr(40) + 3) & 0x80, 0x80);
        }
    }
    Scenario sc;
    EXPECT_FALSE(ScenarioByName("nonsense", kEnd, sc));
}

TEST(Scenario, SavedImageLoadsAgain) {
    const std::string dir = test::MakeTempDir("scenario");
    const FlashImage im = BuildImage(RealisticScenario(kEnd));
    im.Save(dir + "/r.img");
    EXPECT_TRUE(FlashImage::Load(dir + "/r.img") == im);
}

TEST(LiveRecorder, AppendsAtTheDescriptorAndMovesItOn) {
    Scenario sc = RealisticScenario(kEnd);
    FlashImage im = BuildImage(sc);
    const uint32_t d = flash::DescriptorSlotAddr(sc.descriptor.areaSlot);
    const int32_t minuteSlot = sc.minute.count;  // the slot after the newest
    const int32_t hourSlot = sc.hour.count;
    LiveRecorder rec;
    // The tool set the clock to another day: records follow it.
    const TDateTime clock = EncodeDateTime(2014, 6, 1, 8, 59, 30);
    EXPECT_EQ(rec.Tick(im, clock).minuteSlot, -1);  // baseline only
    EXPECT_EQ(rec.Tick(im, clock + 20.0 / 86400).minuteSlot, -1);
    const LiveRecorder::Appended a = rec.Tick(im, clock + 31.0 / 86400);
    EXPECT_EQ(a.minuteSlot, minuteSlot);
    EXPECT_EQ(a.hourSlot, hourSlot);
    EXPECT_EQ(MinuteStamp(im, minuteSlot), Stamp({2014, 6, 1, 9, 0}));
    EXPECT_EQ(HourStamp(im, hourSlot), Stamp({2014, 6, 1, 9, 0}));
    EXPECT_EQ(im.Long(d), flash::MinuteSlotAddr(minuteSlot + 1));
    EXPECT_EQ(im.Long(d + 4), flash::HourSlotAddr(hourSlot + 1));
    // The next minute: a minute record only.
    const LiveRecorder::Appended b = rec.Tick(im, clock + 95.0 / 86400);
    EXPECT_EQ(b.minuteSlot, minuteSlot + 1);
    EXPECT_EQ(b.hourSlot, -1);
}

TEST(LiveRecorder, WrapsAtTheTopOfTheRing) {
    Scenario sc;
    sc.minute.count = 1;
    sc.minute.newestSlot = flash::kMinuteSlots - 2;
    sc.minute.first = kEnd;
    FlashImage im = BuildImage(sc);
    LiveRecorder rec;
    rec.Tick(im, kEnd);
    EXPECT_EQ(rec.Tick(im, kEnd + kMinute).minuteSlot, flash::kMinuteSlots - 1);
    const int64_t d = FindDescriptorAddr(im);
    ASSERT_GE(d, 0);
    EXPECT_EQ(im.Long(static_cast<uint32_t>(d)), flash::kMinuteFirst);
}

TEST(LiveRecorder, WithoutDescriptorWritesNothing) {
    Scenario sc;
    sc.descriptor.kind = DescriptorSpec::Kind::None;
    FlashImage im = BuildImage(sc);
    LiveRecorder rec;
    rec.Tick(im, kEnd);
    EXPECT_EQ(rec.Tick(im, kEnd + kMinute).minuteSlot, -1);
    EXPECT_TRUE(im.IsErased(flash::kMinuteFirst, flash::kSize - flash::kMinuteFirst));
}

}  // namespace
