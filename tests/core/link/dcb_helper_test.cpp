#include "link/dcb_helper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/link/pty_pair.h"
#include "frame/ini_file.h"
#include "frame/my_exception.h"
#include "support/test_support.h"

namespace {

using test::Caught;

const std::vector<std::string> kFieldKeys = {
    "BaudRate",     "fBinary",       "fParity",         "fOutxCtsFlow",
    "fOutxDsrFlow", "fDtrControl",   "fDsrSensitivity", "fTXContinueOnXoff",
    "fOutX",        "fInX",          "fErrorChar",      "fNull",
    "fRtsControl",  "fAbortOnError", "XonLim",          "XoffLim",
    "ByteSize",     "Parity",        "StopBits",        "XonChar",
    "XoffChar",     "ErrorChar",     "EofChar",         "EvtChar",
};

const std::vector<std::string> kOtherKeys = {
    "ReadIntervalTimeout",
    "ReadTotalTimeoutMultiplier",
    "ReadTotalTimeoutConstant",
    "WriteTotalTimeoutMultiplier",
    "WriteTotalTimeoutConstant",
    "txdBuffSize",
    "rxdBuffSize",
};

// A record in which every stored value differs from the defaults.
PortSettings Unusual() {
    PortSettings s;
    s.dcb.BaudRate = 56000;
    s.dcb.flags = 0x00007FFEu;  // every flag but fBinary, both 2-bit fields at 3
    s.dcb.XonLim = 2048;
    s.dcb.XoffLim = 512;
    s.dcb.ByteSize = 7;
    s.dcb.Parity = MARKPARITY;
    s.dcb.StopBits = TWOSTOPBITS;
    s.dcb.XonChar = 0x21;
    s.dcb.XoffChar = 0x23;
    s.dcb.ErrorChar = 0xFF;
    s.dcb.EofChar = 0x1A;
    s.dcb.EvtChar = 0x7E;
    s.timeouts = {MAXDWORD, 1, 2, 3, 4};
    s.inQueueSize = 4096;
    s.outQueueSize = 8192;
    return s;
}

class DcbStoreTest : public ::testing::Test {
  protected:
    test::ScopedHome home{"dcb"};
    IniFile ini{home.Dir() + "/store.ini"};
};

TEST(DcbFields, NamesInStoredOrderAndIndexBeyondIsAFailedCheck) {
    ASSERT_EQ(DCB_FIELDS_COUNT, kFieldKeys.size());
    for (unsigned i = 0; i < DCB_FIELDS_COUNT; ++i) EXPECT_EQ(DcbFieldName(i), kFieldKeys[i]);
    DCB d = MakeDefaultDcb();
    for (auto call : std::vector<std::function<void()>>{[] { DcbFieldName(DCB_FIELDS_COUNT); },
                                                        [&] { GetDcbField(d, DCB_FIELDS_COUNT); },
                                                        [&] { SetDcbField(d, 100, 1); }}) {
        MyExceptionPtr e = Caught(call);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->GetMsg(), "idx<DCB_FIELDS_COUNT");
    }
    EXPECT_EQ(d, MakeDefaultDcb());
}

TEST(DcbFields, SetTruncatesToTheFieldsWidth) {
    struct Case {
        const char* key;
        uint32_t value;
        uint32_t stored;
    };
    const std::vector<Case> cases = {
        {"BaudRate", 0xFFFFFFFFu, 0xFFFFFFFFu},
        {"fBinary", 2, 0},
        {"fBinary", 3, 1},
        {"fDtrControl", 2, 2},
        {"fDtrControl", 7, 3},
        {"fRtsControl", 5, 1},
        {"XonLim", 0x12345, 0x2345},
        {"ByteSize", 0x107, 7},
        {"XonChar", 273, 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + std::to_string(c.value));
        unsigned idx = 0;
        while (DcbFieldName(idx) != c.key) ++idx;
        DCB d{};
        SetDcbField(d, idx, c.value);
        EXPECT_EQ(GetDcbField(d, idx), c.stored);
    }
}

TEST(DcbFields, FlagFieldsSitInTheirBitsAndLeaveTheOthers) {
    DCB d{};
    d.SetfDtrControl(2);
    EXPECT_EQ(d.flags, 0x20u);  // bits 4-5
    d.flags = 0xFFFFFFFFu;
    SetDcbField(d, 5, 0);  // fDtrControl
    EXPECT_EQ(d.flags, 0xFFFFFFCFu);
    SetDcbField(d, 12, 0);  // fRtsControl, bits 12-13
    EXPECT_EQ(d.flags, 0xFFFFCFCFu);
    SetDcbField(d, 13, 0);  // fAbortOnError, bit 14
    EXPECT_EQ(d.flags, 0xFFFF8FCFu);
}

// Setting one field to all ones changes that field only: no two fields overlap.
TEST(DcbFields, EachFieldIsIndependent) {
    for (unsigned i = 0; i < DCB_FIELDS_COUNT; ++i) {
        DCB d{};
        SetDcbField(d, i, 0xFFFFFFFFu);
        EXPECT_NE(GetDcbField(d, i), 0u) << DcbFieldName(i);
        for (unsigned j = 0; j < DCB_FIELDS_COUNT; ++j)
            if (j != i) {
                EXPECT_EQ(GetDcbField(d, j), 0u) << DcbFieldName(i) << " " << j;
            }
    }
}

TEST(DcbFields, DiffersInNamedFieldsAndLengthOnly) {
    const DCB base = MakeDefaultDcb();
    EXPECT_FALSE(DcbDiffers(base, base));
    for (unsigned i = 0; i < DCB_FIELDS_COUNT; ++i) {
        DCB other = base;
        SetDcbField(other, i, GetDcbField(base, i) ^ 1u);
        EXPECT_TRUE(DcbDiffers(base, other)) << DcbFieldName(i);
    }
    DCB other = base;
    other.DCBlength = 12;
    EXPECT_TRUE(DcbDiffers(base, other));
    other = base;
    other.wReserved = 7;
    other.wReserved1 = 9;
    other.flags |= 0x80000000u;  // fDummy2
    EXPECT_FALSE(DcbDiffers(base, other));
}

TEST_F(DcbStoreTest, EmptySectionReadsAsTheDefaults) {
    PortSettings s = Unusual();
    s.dcb.DCBlength = sizeof(DCB);
    ReadPortSettings(s, ini, "EMPTY");
    EXPECT_EQ(s, PortSettings{});
    EXPECT_EQ(s.dcb.BaudRate, 9600u);
    EXPECT_EQ(s.dcb.ByteSize, 8);
    EXPECT_EQ(s.dcb.Parity, NOPARITY);
    EXPECT_EQ(s.dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(s.timeouts, MakeDefaultTimeouts());
    EXPECT_EQ(s.inQueueSize, 1024u);
    EXPECT_EQ(s.outQueueSize, 1024u);
}

TEST_F(DcbStoreTest, WrittenSectionHoldsThe31KeysInOrderAndReadsBack) {
    const PortSettings s = Unusual();
    WritePortSettings(s, ini, "COMPORT");
    std::vector<std::string> expected = kFieldKeys;
    expected.insert(expected.end(), kOtherKeys.begin(), kOtherKeys.end());
    EXPECT_EQ(ini.ReadSection("COMPORT"), expected);
    // Unsigned decimal, also for values past the signed range.
    EXPECT_EQ(ini.ReadString("COMPORT", "ReadIntervalTimeout", ""), "4294967295");
    EXPECT_EQ(ini.ReadString("COMPORT", "fDtrControl", ""), "3");
    EXPECT_EQ(ini.ReadString("COMPORT", "ErrorChar", ""), "255");

    PortSettings back;
    ReadPortSettings(back, ini, "COMPORT");
    EXPECT_EQ(back, s);
}

TEST_F(DcbStoreTest, StoredValuesAreTruncatedOnReading) {
    ini.WriteString("S", "fDtrControl", "7");
    ini.WriteString("S", "XonChar", "273");
    ini.WriteString("S", "XonLim", "70000");
    ini.WriteString("S", "fOutX", "2");
    ini.WriteString("S", "BaudRate", "not a number");
    PortSettings s;
    ReadPortSettings(s, ini, "S");
    EXPECT_EQ(s.dcb.fDtrControl(), 3u);
    EXPECT_EQ(s.dcb.XonChar, 17);
    EXPECT_EQ(s.dcb.XonLim, 70000 & 0xFFFF);
    EXPECT_EQ(s.dcb.fOutX(), 0u);
    EXPECT_EQ(s.dcb.BaudRate, 9600u);

    ini.WriteString("S", "fDtrControl", "2");
    ReadPortSettings(s, ini, "S");
    EXPECT_EQ(s.dcb.Bits(4, 2), 2u);
    WritePortSettings(s, ini, "T");
    EXPECT_EQ(ini.ReadString("T", "fDtrControl", ""), "2");
}

TEST_F(DcbStoreTest, PerPortFileLivesInTheSettingsFolder) {
    EXPECT_EQ(PerPortSettingsPath(), home.Dir() + "/MyCommPortsSetings.ini");
    const PortSettings s = Unusual();
    SavePerPortSettings("COM4", s);
    EXPECT_EQ(IniFile(PerPortSettingsPath()).ReadSections(), (std::vector<std::string>{"COM4"}));
    PortSettings back;
    LoadPerPortSettings("COM4", back);
    EXPECT_EQ(back, s);
    PortSettings other;
    LoadPerPortSettings("COM5", other);
    EXPECT_EQ(other, PortSettings{});
}

TEST_F(DcbStoreTest, EmptyNameDoesNothing) {
    SavePerPortSettings("", Unusual());
    EXPECT_FALSE(test::FileExists(PerPortSettingsPath()));
    SavePerPortSettings("COM4", PortSettings{});
    PortSettings s = Unusual();
    LoadPerPortSettings("", s);
    EXPECT_EQ(s, Unusual());
}

}  // namespace
