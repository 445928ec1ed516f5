#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "frame/console.h"
#include "frame/date_time.h"
#include "frame/my_exception.h"
#include "frame/text_utils.h"
#include "support/test_support.h"

namespace {

struct IntCase {
    const char* text;
    int base;
    bool ok;
    int32_t value;
};

TEST(TryStrToIntBaseTest, OnlyTheWholeTextCounts) {
    const IntCase cases[] = {
        {"12", 10, true, 12},
        {" 12", 10, true, 12},
        {"-7", 10, true, -7},
        {"+7", 10, true, 7},
        {"ff", 16, true, 255},
        {"0xff", 16, true, 255},
        {"FF", 16, true, 255},
        {"12 ", 10, false, 0},
        {"", 10, false, 0},
        {" ", 10, false, 0},
        {"12abc", 10, false, 0},
        {"ff", 10, false, 0},
        {"0x", 16, false, 0},
        {"-", 10, false, 0},
        {"2147483647", 10, true, INT32_MAX},
        {"-2147483648", 10, true, INT32_MIN},
        {"2147483648", 10, false, 0},
        {"ffffffff", 16, false, 0},
    };
    for (const IntCase& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\" base " + std::to_string(c.base));
        int32_t v = -99;
        EXPECT_EQ(TryStrToIntBase(c.text, c.base, v), c.ok);
        if (c.ok) {
            EXPECT_EQ(v, c.value);
        }
    }
}

TEST(TryStrToIntBaseTest, EmbeddedNulIsNotIgnored) {
    int32_t v = 0;
    EXPECT_FALSE(TryStrToIntBase(std::string("12\0"
                                             "3",
                                             4),
                                 10, v));
}

struct FloatCase {
    const char* text;
    bool ok;
    double value;
};

TEST(TryStrToFloatAnyCommaTest, CommaOrPointWholeText) {
    const FloatCase cases[] = {
        {"2,50", true, 2.5}, {"1.5", true, 1.5},   {"1,5", true, 1.5},  {"-0,25", true, -0.25},
        {" 3", true, 3.0},   {"1e3", true, 1000.}, {"2,5,0", false, 0}, {"", false, 0},
        {"1,5 ", false, 0},  {"abc", false, 0},    {"1e", false, 0},    {",", false, 0},
        {"inf", false, 0},   {"nan", false, 0},    {"1e999", false, 0},
    };
    for (const FloatCase& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        double v = -99;
        EXPECT_EQ(TryStrToFloatAnyComma(c.text, v), c.ok);
        if (c.ok) {
            EXPECT_DOUBLE_EQ(v, c.value);
        }
    }
}

TEST(ReplaceTest, CharAndText) {
    EXPECT_EQ(ReplaceChar("1,2,3", ',', '.'), "1.2.3");
    EXPECT_EQ(ReplaceAll("a-b-c", "-", "--"), "a--b--c");
    EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
}

TEST(ShowInputErrorTest, EmptyAndBadTexts) {
    test::BoxRecorder boxes;
    ShowInputError("Задержка", "");
    ShowInputError("Задержка", "12а");
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Отсутствуют данные в поле \"Задержка\"!");
    EXPECT_EQ(boxes.Boxes()[1].text, "Не корректные данные \"12а\" в поле \"Задержка\"!");
    for (const test::RecordedBox& b : boxes.Boxes()) {
        EXPECT_EQ(b.caption, "Некорректный ввод!");
        EXPECT_EQ(b.type, MB_ICONERROR);
    }
}

TEST(FitTextToWidthTest, ShortensWithDots) {
    // One pixel per character (UTF-8 characters, not bytes).
    auto measure = [](const std::string& s) { return static_cast<int>(Utf8Length(s)); };
    EXPECT_EQ(FitTextToWidth("abc", measure, 4), "abc");
    // width 10: keep k characters while k + 3 + 3 <= 10.
    EXPECT_EQ(FitTextToWidth("abcdefghijkl", measure, 10), "abcd...");
    EXPECT_EQ(FitTextToWidth("абвгдежзийкл", measure, 10), "абвг...");
    EXPECT_EQ(FitTextToWidth("abcdefghijkl", measure, 3), "...");
}

TEST(BytesToHexListTest, LowerCaseWithoutLeadingZeros) {
    const uint8_t bytes[] = {0x0A, 0x05, 0xFF, 0x00, 0x10};
    EXPECT_EQ(BytesToHexList(bytes, bytes + 5), "[a, 5, ff, 0, 10]");
    EXPECT_EQ(BytesToHexList(bytes, bytes + 1), "[a]");
    EXPECT_EQ(BytesToHexList(bytes, bytes), "[]");
}

TEST(HexDumpTest, SixteenBytesPerLine) {
    std::vector<uint8_t> bytes(17);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(0xA0 + i);
    const std::string dump = HexDump(bytes.data(), bytes.data() + 17, "rxd: ", 0x1F8, 6);
    EXPECT_EQ(dump,
              "rxd: 0001F8\tA0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF \n"
              "rxd: 000208\tB0 ");
    EXPECT_EQ(HexDump(bytes.data(), bytes.data() + 16, "", 0, 2),
              "00\tA0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF ");
    EXPECT_EQ(HexDump(bytes.data(), bytes.data(), "rxd: ", 0, 4), "");
}

TEST(DateTimeTextTest, DateAndTime) {
    EXPECT_EQ(DateTimeText(EncodeDateTime(2013, 7, 15, 14, 5, 59)), "15.07.13, 14:05");
    EXPECT_EQ(DateTimeText(EncodeTime(9, 7, 0, 0)), "00.00.00, 09:07");
    EXPECT_EQ(DateTimeText(0), "00.00.00, 00:00");
    EXPECT_EQ(DateTimeText(EncodeDateTime(2001, 1, 2, 0, 0)), "02.01.01, 00:00");
}

TEST(DateTimeTest, DayNumbersOfThePlatform) {
    EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0);
    EXPECT_DOUBLE_EQ(EncodeDate(1900, 1, 1), 2);
    EXPECT_DOUBLE_EQ(EncodeDate(2013, 7, 15), 41470);
    EXPECT_DOUBLE_EQ(EncodeDateTime(2013, 7, 15, 18, 0), 41470.75);
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6, 0), -1.25);
    EXPECT_EQ(DayOfWeek(EncodeDate(2013, 7, 15)), 2);  // a Monday
    TDateTime out = 0;
    EXPECT_FALSE(TryEncodeDate(2013, 2, 29, out));
    EXPECT_TRUE(TryEncodeDate(2012, 2, 29, out));
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, out));
    EXPECT_THROW(EncodeDate(2013, 13, 1), MyExceptionPtr);
}

TEST(DateTimeTest, DecodeRoundTripsToTheMillisecond) {
    struct Stamp {
        int y, mo, d, h, mi, s, ms;
    };
    const Stamp stamps[] = {{2013, 7, 15, 9, 5, 3, 0},
                            {2000, 2, 29, 23, 59, 59, 999},
                            {1899, 12, 30, 0, 0, 0, 1},
                            {1850, 6, 1, 12, 30, 0, 500},
                            {2099, 12, 31, 0, 0, 1, 0}};
    for (const Stamp& s : stamps) {
        SCOPED_TRACE(testing::Message() << s.y << "-" << s.mo << "-" << s.d);
        DateParts dp;
        TimeParts tp;
        DecodeDateTime(EncodeDateTime(s.y, s.mo, s.d, s.h, s.mi, s.s, s.ms), dp, tp);
        EXPECT_EQ(
            std::vector<int>({dp.year, dp.month, dp.day, tp.hour, tp.minute, tp.second, tp.msec}),
            std::vector<int>({s.y, s.mo, s.d, s.h, s.mi, s.s, s.ms}));
    }
}

struct PatternCase {
    const char* pattern;
    std::string expected;
};

TEST(FormatDateTimeTest, Patterns) {
    // Friday 05.07.2013 09:04:03.007
    const TDateTime dt = EncodeDateTime(2013, 7, 5, 9, 4, 3, 7);
    const PatternCase cases[] = {
        {"dd.mm.yyyy hh:nn:ss", "05.07.2013 09:04:03"},
        {"d.m.yy h:n:s", "5.7.13 9:4:3"},
        {"hh:mm", "09:04"},  // m after an hour means minutes
        {"hh:mm dd.mm", "09:04 05.07"},
        {"d/m/yyyy", "5.7.2013"},
        {"yyyy", "2013"},
        {"y", "13"},
        {"zzz", "007"},
        {"z", "7"},
        {"HH:NN", "09:04"},
        {"h am/pm", "9 am"},
        {"'mm' dd", "mm 05"},
        {"\"hh\"hh", "hh09"},
        {"mmmm", LongMonthName(7)},
        {"mmm", ShortMonthName(7)},
        {"dddd", LongDayName(6)},
        {"ddd", ShortDayName(6)},
        {"c", "05.07.2013 09:04:03"},
    };
    for (const PatternCase& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(FormatDateTime(c.pattern, dt), c.expected);
    }
    EXPECT_EQ(FormatDateTime("hh:nn am/pm", EncodeDateTime(2013, 7, 5, 12, 30)), "12:30 pm");
    EXPECT_EQ(FormatDateTime("h a/p", EncodeDateTime(2013, 7, 5, 0, 30)), "12 a");
    EXPECT_EQ(FormatDateTime("c", EncodeDate(2013, 7, 5)), "05.07.2013");
}

TEST(MonthNamesTest, RussianWithoutALocale) {
    // The tests run in the C locale; the program's own names are then the Russian ones.
    EXPECT_EQ(LongMonthName(7), "Июль");
    EXPECT_EQ(LongMonthName(1), "Январь");
    EXPECT_EQ(LongMonthName(13), "");
}

TEST(SameTextCITest, AsciiAndCyrillic) {
    EXPECT_TRUE(SameTextCI("COMPORT", "comport"));
    EXPECT_TRUE(SameTextCI("Установки МАСТЕР-СЛЭЙВ", "установки мастер-слэйв"));
    EXPECT_TRUE(SameTextCI("ПОКАЗЫВАТЬ ФЛЭШ", "показывать флэш"));
    EXPECT_TRUE(SameTextCI("ЁЖ", "ёж"));
    EXPECT_TRUE(SameTextCI("АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ", "абвгдежзийклмнопрстуфхцчшщъыьэюя"));
    EXPECT_FALSE(SameTextCI("порт", "порты"));
    EXPECT_FALSE(SameTextCI("е", "ё"));
}

TEST(FloatToStrTest, GeneralForm) {
    EXPECT_EQ(FloatToStr(2.5), "2.5");
    EXPECT_EQ(FloatToStr(2.5, ','), "2,5");
    EXPECT_EQ(FloatToStr(100), "100");
    EXPECT_EQ(FloatToStr(0.1), "0.1");
}

}  // namespace
