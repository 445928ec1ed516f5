#include "device/zelmar_hrd.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/device/fake_instrument.h"
#include "device/zelmar_utils.h"
#include "frame/console.h"
#include "frame/my_exception.h"
#include "frame/ui_call.h"
#include "support/test_support.h"
#include "transfer/transfer_control.h"

namespace {

using namespace Zelmar;
using Bytes = std::vector<uint8_t>;

using test::ErrorOf;

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ModuleImpl::Create();
        test::ResetConsole();
    }
    void Put(uint32_t at, const Bytes& bytes) {
        std::copy(bytes.begin(), bytes.end(), dev.flash.begin() + at);
    }
    test::FakeInstrument dev;
};

TEST_F(DeviceTest, FlashReadLengthsOutside2To32AreRefusedBeforeSending) {
    uint8_t buf[33];
    for (int n : {1, 33, 0, -1}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(ErrorOf([&] { ReadFlash(0x4000, buf, n); }), "len>1 && len<33");
    }
    EXPECT_EQ(dev.reads, 0);
    Put(0x100, {1, 2, 3});
    ReadFlash(0x100, buf, 2);
    EXPECT_EQ(buf[1], 2);
    ReadFlash(0x100, buf, 32);
    EXPECT_EQ(buf[2], 3);
    EXPECT_EQ(dev.reads, 2);
}

TEST_F(DeviceTest, AStatusAnswerToAFlashReadIsAShortRead) {
    dev.refused.push_back({{0x10, 0x10}, 0x00});
    uint8_t buf[2];
    EXPECT_EQ(ErrorOf([&] { ReadFlash(0x10, buf, 2); }),
              "Ошибка считывания FLASH прибора.\nЗапрошено 2 байт\nПолучено 1 байт");
}

TEST_F(DeviceTest, ShownFlashIsDumpedInYellowWithSixDigitAddresses) {
    dev.showFlash = true;
    Put(0x4010, {0xAB, 0x01});
    uint8_t buf[2];
    ReadFlash(0x4010, buf, 2);  // opens the link first
    test::ConsoleCapture cap;
    ReadFlash(0x4010, buf, 2);
    EXPECT_EQ(cap.Text(), "Флэш 004010\tAB 01 \n");
    const auto cells = GUIConsole::Instance().Buffer().RowCells(
        static_cast<int>(test::ConsoleRows().size()) - 1);
    EXPECT_EQ(cells[0].attr, (kConsoleDefaultAttr | ConColorYellow.set) & ~ConColorYellow.clear);
}

TEST(Bcd, DecodingOfProperAndImproperNibbles) {
    struct Case {
        uint8_t b;
        int v;
    } cases[] = {{0x25, 25}, {0x00, 0}, {0x99, 99}, {0x1A, 110}, {0xFF, 1515}, {0xA5, 105}};
    for (Case c : cases) EXPECT_EQ(BcdToInt(c.b), c.v) << std::hex << int(c.b);
    EXPECT_EQ(IntToBcd(59), 0x59);
    EXPECT_EQ(IntToBcd(7), 0x07);
}

TEST(Bcd, DateTimes) {
    EXPECT_EQ(BcdToDateTime(0x13, 0x03, 0x12, 0x92, 0x30), EncodeDateTime(2013, 3, 12, 12, 30));
    EXPECT_EQ(BcdToDateTime(0x13, 0x03, 0x12, 0x12, 0x30), EncodeDateTime(2013, 3, 12, 12, 30));
    for (auto bad : {Bytes{0x13, 0x13, 0x01, 0x00, 0x00}, Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                     Bytes{0x13, 0x02, 0x30, 0x00, 0x00}, Bytes{0x13, 0x02, 0x01, 0x24, 0x00},
                     Bytes{0x13, 0x02, 0x01, 0x00, 0x60}, Bytes{0x13, 0x00, 0x01, 0x00, 0x00}})
        EXPECT_EQ(BcdToDateTime(bad[0], bad[1], bad[2], bad[3], bad[4]), 0);
}

TEST_F(DeviceTest, ClockIsSetTimeFirstThenDate) {
    const TDateTime before = Now();
    SetDeviceClock();
    ASSERT_EQ(dev.clockRequests.size(), 2u);
    const Bytes& t = dev.clockRequests[0];
    const Bytes& d = dev.clockRequests[1];
    EXPECT_EQ(t[4], 0x33);
    EXPECT_EQ(d[4], 0x35);
    const TDateTime sent =
        BcdToDateTime(d[5], d[6], d[7], t[5], t[6]) + BcdToInt(t[7]) / 86400.0;
    EXPECT_LE(std::fabs(sent - before) * 86400.0, 2.0);
}

TEST_F(DeviceTest, ContextOfFourCellsWithARefusedTypeAndBadDates) {
    // Cell 0: CO, calibrated 12.03.2013 12:34 (hour byte with bit 7), values.
    Put(0x0000, {0x01, 0x00, 0x01, 0x2C, 0x03, 0xE8});
    Put(0x000A, {0x92, 0x34, 0x00, 0x13, 0x03, 0x12});
    Put(0x0010, {0x00, 0x32, 0x27, 0x10});
    // Cell 1: the type read is refused, the rest is read; month 0x13.
    dev.refused.push_back({{0x1000, 0x1001}, 5});
    Put(0x1002, {0x00, 0x0A, 0x00, 0x14});
    Put(0x100A, {0x10, 0x00, 0x00, 0x13, 0x13, 0x01});
    // Cells 2 and 3 erased.
    CellContexts cells;
    uint8_t warm[2];
    ReadFlash(0x10, warm, 2);  // the link opens on its first exchange
    test::ConsoleCapture cap;
    ReadContext(cells);
    EXPECT_EQ(cells[0].type, 1u);
    EXPECT_EQ(CellTypeName(cells[0].type), "CO");
    EXPECT_EQ(cells[0].calibrated, EncodeDateTime(2013, 3, 12, 12, 34));
    EXPECT_DOUBLE_EQ(cells[0].pgs0, 3.0);
    EXPECT_DOUBLE_EQ(cells[0].pgs3, 10.0);
    EXPECT_DOUBLE_EQ(cells[0].threshold1, 0.5);
    EXPECT_DOUBLE_EQ(cells[0].threshold2, 100.0);
    EXPECT_EQ(cells[1].type, 255u);
    EXPECT_EQ(CellTypeName(cells[1].type), "");
    EXPECT_DOUBLE_EQ(cells[1].pgs0, 0.1);
    EXPECT_DOUBLE_EQ(cells[1].pgs3, 0.2);
    EXPECT_EQ(cells[1].calibrated, 0);
    EXPECT_EQ(cells[2].type, 255u);
    EXPECT_EQ(cells[2].calibrated, 0);
    EXPECT_DOUBLE_EQ(cells[3].pgs0, 655.35);
    EXPECT_EQ(dev.reads, 25);
    const std::string text = cap.Text();
    EXPECT_NE(text.find("Обращение к контексту ячейки 0\nПГС0=3, ПГС3=10, Порог 1=0.5, Порог 2=100\n"
                        "Обращение к контексту ячейки 1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Обращение к контексту ячейки 3\n"), std::string::npos);
}

TEST_F(DeviceTest, AFailureInTheContextLeavesReadCellsFilledAndTheRestUntouched) {
    Put(0x0000, {0x03, 0x00});
    dev.refused.push_back({{0x1002, 0x1003}, 7});  // not the type read: the error passes
    CellContexts cells;
    cells[1].type = 42;
    cells[2].type = 43;
    EXPECT_EQ(ErrorOf([&] { ReadContext(cells); }), "Прибор вернул код ошибки 7");
    EXPECT_EQ(cells[0].type, 3u);
    EXPECT_EQ(cells[1].type, 42u);
    EXPECT_EQ(cells[2].type, 43u);
}

TEST(CellTypes, Names) {
    const char* names[] = {"O2", "CO", "NO", "NO2", "SO2", "H2S", "HCl", "NH3", "CL2", "RSH",
                           "датчик без FLASH", ""};
    for (uint32_t i = 0; i < 12; ++i) EXPECT_EQ(CellTypeName(i), names[i]) << i;
    EXPECT_EQ(CellTypeName(255), "");
}

TEST_F(DeviceTest, DescriptorSearchCases) {
    struct Case {
        const char* name;
        uint32_t at;
        Bytes slot;
        std::string error;  // empty: found
        uint32_t minute, hour;
    } cases[] = {
        {"both archives at slot 0", 0x4000, {0, 0, 0x80, 0, 0, 0x30, 0, 0}, "", 0x8000, 0x300000},
        {"in the upper half", 0x5FF8, {0, 0x12, 0x34, 0x40, 0, 0x33, 0x00, 0x10}, "", 0x123440,
         0x330010},
        {"first half zero", 0x4800, {0, 0, 0, 0, 0, 0x30, 0, 0}, "Не найден дескриптор буфера", 0,
         0},
        {"second half erased", 0x4800, {0, 0, 0x80, 0, 0xFF, 0xFF, 0xFF, 0xFF},
         "Не найден дескриптор буфера", 0, 0},
        {"hour past its archive", 0x5000, {0, 0, 0x80, 0, 0, 0x38, 0, 0},
         "Недостоверный дескриптор буфера. мин:008000:0 час:380000:32768", 0, 0},
        {"minute below its archive", 0x5000, {0, 0, 0x10, 0, 0, 0x30, 0, 0x20},
         "Недостоверный дескриптор буфера. мин:001000:134216832 час:300020:2", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::fill(dev.flash.begin() + 0x4000, dev.flash.begin() + 0x6000, 0xFF);
        Put(c.at, c.slot);
        uint32_t hour = 1, minute = 1;
        const std::string err = ErrorOf([&] { FindBufferDescriptors(hour, minute); });
        if (c.error.empty()) {
            EXPECT_EQ(err, "<no error>");
            EXPECT_EQ(minute, c.minute);
            EXPECT_EQ(hour, c.hour);
        } else {
            EXPECT_EQ(err, c.error);
            EXPECT_EQ(hour, 1u);
        }
    }
}

TEST_F(DeviceTest, AnEmptyDescriptorAreaCosts256BlockReads) {
    EXPECT_EQ(FindDescriptor(0x4000, 0x5FFF), -1);
    EXPECT_EQ(dev.reads, 256);
    for (const auto& [addr, n] : dev.readsAt) {
        EXPECT_EQ(addr % 32, 0u);
        EXPECT_EQ(n, 1) << std::hex << addr;
    }
    EXPECT_NE(test::ConsoleText().find("Поиск дескриптора: FFFFFFFF, 256 обращений, 8192 байт считано, 0 с\n"),
              std::string::npos)
        << test::ConsoleText();
    uint32_t h, m;
    EXPECT_EQ(ErrorOf([&] { FindBufferDescriptors(h, m); }), "Не найден дескриптор буфера");
}

TEST_F(DeviceTest, TheUpperHalfIsSearchedFirst) {
    Put(0x4100, {0, 0, 0x80, 0, 0, 0x30, 0, 0});
    Put(0x5F00, {0, 0, 0x80, 0x20, 0, 0x30, 0, 0x10});
    EXPECT_EQ(FindDescriptor(0x4000, 0x5FFF), 0x5F00);
}

TEST_F(DeviceTest, AStopDuringTheSearchEndsItAtOnce) {
    test::TestControl stop;
    stop.stopWhen = [this] { return dev.reads >= 3; };
    test::ScopedTransferControl scoped(&stop);
    uint32_t h, m;
    EXPECT_EQ(ErrorOf([&] { FindBufferDescriptors(h, m); }), "Не найден дескриптор буфера");
    EXPECT_EQ(dev.reads, 3);
}

TEST_F(DeviceTest, HourRecordDecoding) {
    const Bytes rec = {0x13, 0x03, 0x12, 0x10, 0x17, 0x00, 0x0F, 0xA0,
                       0x00, 0x64, 0x01, 0x2C, 0x00, 0x00, 0x03, 0xE8};
    for (uint8_t hourByte : {0x10, 0x90}) {
        SCOPED_TRACE(hourByte);
        Bytes r = rec;
        r[3] = hourByte;
        Put(0x300000, r);
        ArchItem item;
        ReadHourItem(0x300000, item);
        EXPECT_EQ(item.dateTime, EncodeDateTime(2013, 3, 12, 10, 0));
        EXPECT_EQ(item.t, 23);
        EXPECT_EQ(item.battery, 4000);
        EXPECT_DOUBLE_EQ(item.c[0], 1);
        EXPECT_DOUBLE_EQ(item.c[1], 3);
        EXPECT_DOUBLE_EQ(item.c[2], 0);
        EXPECT_DOUBLE_EQ(item.c[3], 10);
        EXPECT_EQ(item.idx, 0);
        EXPECT_TRUE(item.isRead);
        EXPECT_FALSE(item.isErased);
        EXPECT_EQ(ItemHeaderText(item), "[0], 12.03.13, 10:00");
        EXPECT_EQ(test::ConsoleRows().back(), "Час[0], 12.03.13, 10:00");
    }
    // A record kind sets only its own fields.
    ArchItem item;
    item.pressure = 7;
    item.evt = 3;
    ReadHourItem(0x300000, item);
    EXPECT_EQ(item.pressure, 7);
    EXPECT_EQ(item.evt, 3u);
}

TEST_F(DeviceTest, HourRecordWithAnInvalidMonthIsBrokenNotErased) {
    dev.WriteBrokenHourRecord(3);
    ArchItem item;
    ReadHourItem(Flash::hHour0 + 48, item);
    EXPECT_EQ(item.dateTime, 0);
    EXPECT_FALSE(item.isErased);
    EXPECT_EQ(item.idx, 3);
    EXPECT_EQ(HourItemText(item), "Час[3], 00.00.00, 00:00");
}

TEST_F(DeviceTest, MinuteRecordScalingEventsAndText) {
    const uint16_t c[4] = {0x012C, 0, 2, 65535};
    dev.WriteMinuteRecord(2, EncodeDateTime(2013, 3, 12, 10, 5), 21, 0x11, true, 100, c);
    ArchItem fine;
    ReadMinuteItem(Flash::hMin0 + 64, fine);
    EXPECT_DOUBLE_EQ(fine.c[0], 0.3);
    EXPECT_DOUBLE_EQ(fine.pressure, 0.1);
    EXPECT_EQ(fine.evt, 0x11u);
    EXPECT_EQ(fine.idx, 2);
    EXPECT_EQ(EvtText(fine), "включение питания низкое напряжение аккумулятора ");
    EXPECT_EQ(MinuteItemText(fine),
              "Мин.[2], 12.03.13, 10:05 T=21\"С P=0.1 C1=0.3 C2=0 C3=0.002 C4=65.535 "
              "включение питания низкое напряжение аккумулятора ");

    dev.WriteMinuteRecord(2, EncodeDateTime(2013, 3, 12, 10, 5), 21, 0x88, false, 100, c);
    ArchItem coarse;
    ReadMinuteItem(Flash::hMin0 + 64, coarse);
    EXPECT_DOUBLE_EQ(coarse.c[0], 3);
    EXPECT_DOUBLE_EQ(coarse.pressure, 1);
    EXPECT_EQ(EvtText(coarse), "зарезервировано зарезервировано ");
    EXPECT_TRUE(HasEvtBit(coarse, 7));
    EXPECT_FALSE(HasEvtBit(coarse, 0));
    EXPECT_EQ(ErrorOf([&] { HasEvtBit(coarse, 8); }), "n<Zelmar::Evt::Bit::count");
}

TEST_F(DeviceTest, AnErasedMinuteRecord) {
    ArchItem item;
    ReadMinuteItem(Flash::hMin0 + 5 * 32, item);
    EXPECT_TRUE(item.isErased);
    EXPECT_EQ(item.dateTime, 0);
    EXPECT_EQ(item.t, 255);
    EXPECT_DOUBLE_EQ(item.c[0], 65.535);  // the erased resolution byte reads as "thousandths"
    EXPECT_EQ(MinuteItemText(item), "Мин.[5], FF");
}

TEST_F(DeviceTest, RecordAddressesOutsideTheirArchiveAreRefused) {
    ArchItem item;
    EXPECT_EQ(ErrorOf([&] { ReadHourItem(Flash::hHour0 - 1, item); }),
              "addy>=Flash::hHour0 && addy<=Flash::hHour1");
    EXPECT_EQ(ErrorOf([&] { ReadMinuteItem(Flash::hHour0, item); }),
              "addy>=Flash::hMin0 && addy<=Flash::hMin1");
    EXPECT_EQ(dev.reads, 0);
}

TEST_F(DeviceTest, AFailedRecordReadLeavesTheItem) {
    dev.refused.push_back({{Flash::hMin0, Flash::hMin0 + 31}, 4});
    ArchItem item;
    item.t = 5;
    EXPECT_EQ(ErrorOf([&] { ReadMinuteItem(Flash::hMin0, item); }), "Прибор вернул код ошибки 4");
    EXPECT_FALSE(item.isRead);
    EXPECT_EQ(item.t, 5);
}

TEST(EventNames, Table) {
    EXPECT_EQ(EvtBitName(0), "включение питания");
    EXPECT_EQ(EvtBitName(1), "сработал WatchDog");
    EXPECT_EQ(EvtBitName(2), "перепрограммирование");
    EXPECT_EQ(EvtBitName(3), "зарезервировано");
    EXPECT_EQ(EvtBitName(4), "низкое напряжение аккумулятора");
    EXPECT_EQ(EvtBitName(5), "заряд аккумулятора");
    EXPECT_EQ(EvtBitName(6), "выключение питания");
    EXPECT_EQ(EvtBitName(7), "зарезервировано");
    EXPECT_EQ(EvtBitName(8), "");
}

}  // namespace
