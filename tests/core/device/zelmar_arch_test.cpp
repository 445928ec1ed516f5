#include "device/zelmar_arch.h"

#include <gtest/gtest.h>

#include "core/device/fake_instrument.h"
#include "device/zelmar_hrd.h"
#include "frame/my_exception.h"
#include "frame/ui_call.h"
#include "support/test_support.h"
#include "transfer/transfer_control.h"

namespace {

using namespace Zelmar;

const TDateTime kStart = EncodeDateTime(2013, 3, 12, 0, 0);
constexpr double kHour = 1.0 / 24;
const uint16_t kCh[4] = {100, 200, 300, 400};

using test::ErrorOf;

class ArchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ModuleImpl::Create();
        test::ResetConsole();
        control.stopWhen = [this] { return stopAfterReads >= 0 && dev.reads >= stopAfterReads; };
    }

    // Hour records in slots [from, to] dated kStart + (k + offset) hours.
    void HourRecords(uint32_t from, uint32_t to, int offset = 0) {
        for (uint32_t s = from; s <= to; ++s)
            dev.WriteHourRecord(s, kStart + (static_cast<int>(s) + offset) * kHour, 20, 4000, kCh);
    }
    TDateTime HourAt(int k) const { return kStart + k * kHour; }
    int ReadsSince(int before) const { return dev.reads - before; }

    test::FakeInstrument dev;
    test::TestControl control;
    test::ScopedTransferControl scoped{&control};
    int stopAfterReads = -1;
    HourArchImpl hour;
    MinuteArchImpl minute;
};

TEST_F(ArchTest, SlotArithmeticAtTheEnds) {
    EXPECT_EQ(hour.Count(), 32768u);
    EXPECT_EQ(minute.Count(), 97280u);
    EXPECT_EQ(hour.Step(3, -10), 32761u);
    EXPECT_EQ(hour.Step(32767, +1), 0u);
    EXPECT_EQ(minute.Step(97279, +1), 0u);
    EXPECT_EQ(minute.Step(0, -1), 97279u);
    EXPECT_EQ(minute.Step(5, -97280 * 2 - 1), 4u);
    EXPECT_EQ(hour.AddrToIdx(0x300010), 1u);
    EXPECT_EQ(minute.IdxToAddr(1), 0x8020u);
    EXPECT_FALSE(minute.IsAddrInside(0x300000));
    EXPECT_TRUE(hour.IsAddrInside(0x300000));
    EXPECT_TRUE(hour.IsAddrInside(0x37FFFF));
    EXPECT_FALSE(hour.IsAddrInside(0x380000));
    EXPECT_EQ(hour.Name(), "Часовой архив");
    EXPECT_EQ(minute.Name(), "Минутный архив");
}

TEST_F(ArchTest, BoundsOfANeverWrappedArchive) {
    HourRecords(0, 4);
    hour.Initialize(hour.IdxToAddr(5));
    EXPECT_EQ(hour.IdxEnd(), 4u);
    EXPECT_EQ(hour.Idx0(), 0u);
    EXPECT_EQ(dev.reads, 11);  // slots N-5…N-1 and 0…5
    EXPECT_EQ(dev.readsAt.count(hour.IdxToAddr(32763)), 1u);
    const std::string text = test::ConsoleText();
    EXPECT_NE(text.find("Поиск границ массива \"Часовой архив\":5\n"), std::string::npos) << text;
    EXPECT_NE(text.find("idxEnd_=4, idx0_=0\n"), std::string::npos);
}

TEST_F(ArchTest, BoundsOfAWrappedRing) {
    // The newest record in slot 1000, the oldest in 1001 (written a whole ring earlier).
    HourRecords(0, 1000, 40000);
    HourRecords(1001, 32767);
    hour.Initialize(hour.IdxToAddr(1001));
    EXPECT_EQ(hour.IdxEnd(), 1000u);
    EXPECT_EQ(hour.Idx0(), 1001u);
    EXPECT_EQ(dev.reads, 11);  // 991…1001
}

TEST_F(ArchTest, EqualNeighbouringDateTimesDoNotEndTheWalk) {
    HourRecords(0, 20);
    dev.WriteHourRecord(9, HourAt(8), 20, 4000, kCh);  // slots 8 and 9 share a date-time
    hour.Initialize(hour.IdxToAddr(12));
    EXPECT_EQ(hour.IdxEnd(), 20u);
    EXPECT_EQ(hour.Idx0(), 0u);
}

TEST_F(ArchTest, AFullyErasedArchiveFailsAfter101Reads) {
    EXPECT_EQ(ErrorOf([&] { hour.Initialize(hour.IdxToAddr(500)); }),
              "Часовой архив: не обнаружен действительный элемент.");
    EXPECT_EQ(dev.reads, 101);
    EXPECT_EQ(hour.IdxEnd(), 590u);
}

TEST_F(ArchTest, AHundredRisingRecordsEndTheWalkWithoutAStop) {
    HourRecords(0, 400);
    hour.Initialize(hour.IdxToAddr(200));
    EXPECT_EQ(hour.IdxEnd(), 290u);
    EXPECT_EQ(hour.Idx0(), 0u);
    EXPECT_EQ(dev.reads, 101);
}

TEST_F(ArchTest, FetchAndReloadRefuseSlotsPastTheEnd) {
    HourRecords(0, 4);
    hour.Initialize(hour.IdxToAddr(5));
    const int before = dev.reads;
    EXPECT_EQ(ErrorOf([&] { hour.Fetch(32768); }), "idx<arch_.size()");
    EXPECT_EQ(ErrorOf([&] { hour.Reload(40000); }), "idx<arch_.size()");
    EXPECT_EQ(dev.reads, before);
    hour.Fetch(2);  // cached by the walk
    EXPECT_EQ(dev.reads, before);
    hour.Reload(2);
    EXPECT_EQ(dev.reads, before + 1);
}

TEST_F(ArchTest, FindIndexCases) {
    HourRecords(0, 99);
    hour.Initialize(hour.IdxToAddr(100));
    ASSERT_EQ(hour.IdxEnd(), 99u);
    int before = dev.reads;
    EXPECT_EQ(hour.FindIndex(7, 7, HourAt(50), HourAt(50)), 7);
    EXPECT_EQ(hour.FindIndex(9, 3, HourAt(50), HourAt(50)), 9);
    EXPECT_EQ(ReadsSince(before), 0);
    struct Case {
        const char* name;
        TDateTime t;
        int32_t expected;
    } cases[] = {
        {"exact", HourAt(37), 37},
        {"between two records: the earlier", HourAt(37) + kHour / 2, 37},
        {"seconds are dropped", HourAt(37) + 30.0 / 86400, 37},
        {"before the first", HourAt(-5), 0},
        {"after the last: hi - 1", HourAt(500), 98},
        {"the last", HourAt(99), 99},
    };
    for (const Case& c : cases) EXPECT_EQ(hour.FindIndex(0, 99, c.t, c.t), c.expected) << c.name;
}

TEST_F(ArchTest, FindIndexSkipsBrokenRecords) {
    HourRecords(0, 60);
    for (uint32_t s : {0u, 1u, 30u, 31u, 32u, 60u}) dev.WriteBrokenHourRecord(s);
    hour.Reset();
    EXPECT_EQ(hour.FindIndex(0, 60, HourAt(33), HourAt(33)), 33);
    EXPECT_EQ(hour.FindIndex(0, 60, HourAt(2), HourAt(2)), 2);
    EXPECT_EQ(hour.FindIndex(0, 60, HourAt(59), HourAt(59)), 59);
}

TEST_F(ArchTest, ReadRangeReadsEverySlotOnceWithItsWaitTexts) {
    HourRecords(0, 99);
    hour.Initialize(hour.IdxToAddr(100));
    control.ClearCalls();
    dev.readsAt.clear();
    auto r = hour.ReadRange(HourAt(10), HourAt(14));
    EXPECT_EQ(r, std::make_pair(10, 14));
    for (uint32_t s = 9; s <= 14; ++s) EXPECT_EQ(dev.readsAt[hour.IdxToAddr(s)], 1) << s;
    for (const auto& [addr, n] : dev.readsAt) EXPECT_EQ(n, 1);
    const std::vector<std::string> expected = {
        "hide",
        "show:Часовой архив: поиск 12.03.13 10:00-14:00. Определение границ...",
        "hide",
        "show:Часовой архив: считывание 4 элементов 12.03.13 10:00-14:00... [p]",
        "progress:0,4,0",
        "progress:-2,-1,-1",
        "progress:-2,-1,-1",
        "progress:-2,-1,-1",
        "progress:-2,-1,-1"};
    EXPECT_EQ(control.Calls(), expected);
    EXPECT_NE(test::ConsoleText().find("Часовой архив: поиск 12.03.13 10:00-14:00: idx0=10 idx1=14\n"),
              std::string::npos);
}

TEST_F(ArchTest, ReadRangeOutsideTheRecords) {
    HourRecords(0, 99);
    hour.Initialize(hour.IdxToAddr(100));
    int before = dev.reads;
    EXPECT_EQ(hour.ReadRange(HourAt(200), HourAt(300)), std::make_pair(98, 98));
    const int searchReads = ReadsSince(before);
    before = dev.reads;
    EXPECT_EQ(hour.ReadRange(HourAt(200), HourAt(300)), std::make_pair(98, 98));
    EXPECT_EQ(ReadsSince(before), 0);  // all cached; the loop has nothing to walk
    EXPECT_LE(searchReads, 20);
    EXPECT_EQ(hour.ReadRange(HourAt(-30), HourAt(-10)), std::make_pair(0, 0));
}

TEST_F(ArchTest, TheOlderSegmentOfAWrappedRingIsReadAcrossTheEnd) {
    // Newest record in slot 5; slots 6…32767 hold the older records, oldest first.
    const int older = -32762;  // slot 6 is dated 32762 hours before slot 0
    HourRecords(6, 32767, older - 6);
    HourRecords(0, 5);
    hour.Initialize(hour.IdxToAddr(6));
    ASSERT_EQ(hour.IdxEnd(), 5u);
    ASSERT_EQ(hour.Idx0(), 6u);

    dev.readsAt.clear();
    // From slot 32760 (eight hours before slot 0) to slot 3.
    const TDateTime from = HourAt(-8), to = HourAt(3);
    auto r = hour.ReadRange(from, to);
    EXPECT_EQ(r, std::make_pair(32760, 3));
    std::vector<int32_t> slots;
    ForEachReadSlot(hour, r.first, r.second, from, to, [&](const ArchItem& i) {
        EXPECT_TRUE(i.isRead);
        slots.push_back(i.idx);
    });
    const std::vector<int32_t> expected = {32760, 32761, 32762, 32763, 32764, 32765,
                                           32766, 32767, 0,     1,     2,     3};
    EXPECT_EQ(slots, expected);
    for (const auto& [addr, n] : dev.readsAt) EXPECT_EQ(n, 1) << std::hex << addr;

    // Wholly inside the older segment.
    r = hour.ReadRange(HourAt(-20000), HourAt(-19990));
    EXPECT_EQ(r, std::make_pair(32762 - 20000 + 6, 32762 - 19990 + 6));
    // Wholly in the newest segment: as before.
    EXPECT_EQ(hour.ReadRange(HourAt(1), HourAt(2)), std::make_pair(1, 2));
    // Before the oldest record: from the oldest slot.
    EXPECT_EQ(hour.ReadRange(HourAt(-40000), HourAt(-32760)).first, 6);
}

TEST_F(ArchTest, AReversedRangeIsAnsweredWithoutWalkingTheRing) {
    HourRecords(0, 99);
    hour.Initialize(hour.IdxToAddr(100));
    hour.ReadRange(HourAt(10), HourAt(90));  // caches the search's probes
    const int before = dev.reads;
    auto r = hour.ReadRange(HourAt(60), HourAt(20));
    EXPECT_EQ(r, std::make_pair(60, 20));
    EXPECT_LE(ReadsSince(before), 10);
    int seen = 0;
    ForEachReadSlot(hour, r.first, r.second, HourAt(60), HourAt(20), [&](const ArchItem&) { ++seen; });
    EXPECT_EQ(seen, 0);
}

TEST_F(ArchTest, ABrokenRecordInTheRangeTakesTheDateBeforeIt) {
    HourRecords(0, 30);
    dev.WriteBrokenHourRecord(12);
    dev.WriteBrokenHourRecord(13);
    hour.Initialize(hour.IdxToAddr(31));
    std::vector<ArchItem> delivered;
    auto token = hour.ConnectNotify([&](const ArchItem& i) { delivered.push_back(i); });
    auto r = hour.ReadRange(HourAt(10), HourAt(16));
    EXPECT_EQ(r, std::make_pair(10, 16));
    EXPECT_EQ(hour.Item(12).dateTime, HourAt(11));
    EXPECT_EQ(hour.Item(13).dateTime, HourAt(11));
    bool sawBroken = false;
    for (const ArchItem& i : delivered)
        if (i.idx == 12 || i.idx == 13) {
            sawBroken = true;
            EXPECT_EQ(i.dateTime, 0);
        }
    EXPECT_TRUE(sawBroken);
}

TEST_F(ArchTest, EveryRecordReadIsDeliveredThroughTheSignal) {
    HourRecords(0, 4);
    std::vector<int32_t> seen;
    auto token = hour.ConnectNotify([&](const ArchItem& i) { seen.push_back(i.idx); });
    hour.Initialize(hour.IdxToAddr(5));
    EXPECT_EQ(seen.size(), 11u);  // erased ones included
    token.reset();
    hour.Reload(1);
    EXPECT_EQ(seen.size(), 11u);
}

TEST_F(ArchTest, AStopDuringTheWalkReturnsThePairAndLeavesTheRestUnread) {
    HourRecords(0, 999);
    hour.Initialize(hour.IdxToAddr(1000));
    const int start = dev.reads;
    stopAfterReads = start + 40;  // during the walk, after the search
    auto r = hour.ReadRange(HourAt(100), HourAt(900));
    EXPECT_EQ(r, std::make_pair(100, 900));
    EXPECT_FALSE(hour.Item(600).isRead);
    EXPECT_EQ(dev.reads, start + 40);

    stopAfterReads = dev.reads;  // before anything
    EXPECT_EQ(hour.ReadRange(HourAt(100), HourAt(900)), std::make_pair(-1, -1));
}

TEST(ArchHelpers, TruncateCompareAndFormat) {
    const TDateTime t = EncodeDateTime(2013, 3, 12, 12, 34, 56, 789);
    EXPECT_EQ(TruncateDateTime(t, 0), t);
    EXPECT_EQ(TruncateDateTime(t, 1), EncodeDateTime(2013, 3, 12, 12, 34, 56, 0));
    EXPECT_EQ(TruncateDateTime(t, 2), EncodeDateTime(2013, 3, 12, 12, 34, 0, 0));
    EXPECT_EQ(TruncateDateTime(t, 4), EncodeDateTime(2013, 3, 12, 12, 0, 0, 0));
    EXPECT_EQ(TruncateDateTime(t, 8), EncodeDateTime(2013, 3, 12, 0, 0, 0, 0));

    const TDateTime from = EncodeDateTime(2013, 3, 12, 10, 0), to = EncodeDateTime(2013, 3, 12, 14, 0);
    EXPECT_EQ(CompareToRange(EncodeDateTime(2013, 3, 12, 9, 59), from, to, 0), -1);
    EXPECT_EQ(CompareToRange(from, from, to, 0), 0);
    EXPECT_EQ(CompareToRange(EncodeDateTime(2013, 3, 12, 14, 0, 30), from, to, 0), 1);
    EXPECT_EQ(CompareToRange(EncodeDateTime(2013, 3, 12, 14, 0, 30), from, to, 2), 0);

    EXPECT_EQ(FormatArchRange(from, to), "12.03.13 10:00-14:00");
    EXPECT_EQ(FormatArchRange(from, EncodeDateTime(2013, 3, 13, 9, 0)),
              "12.03.13, 10:00-13.03.13, 09:00");
}

}  // namespace
