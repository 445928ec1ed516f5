#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "frame/ini_file.h"
#include "frame/my_exception.h"
#include "support/test_support.h"

namespace {

class IniTest : public ::testing::Test {
  protected:
    std::string dir_ = test::MakeTempDir("ini");
    std::string path_ = dir_ + "/config.ini";
};

TEST_F(IniTest, MissingFileAndKeyGiveDefaults) {
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadString("COMPORT", "Порт", "COM1"), "COM1");
    EXPECT_EQ(ini.ReadInteger("COMPORT", "BaudRate", 9600), 9600);
    EXPECT_TRUE(ini.ReadBool("MAIN", "показывать флэш", true));
    EXPECT_FALSE(ini.SectionExists("COMPORT"));
    EXPECT_FALSE(test::FileExists(path_));
}

TEST_F(IniTest, WritesReachTheFileAtOnce) {
    IniFile ini(path_);
    ini.WriteString("Установки МАСТЕР-СЛЭЙВ", "Задержка_записи_мсек", "15");
    ini.WriteInteger("Установки МАСТЕР-СЛЭЙВ", "количество_повторов_запроса", -3);
    ini.WriteBool("MAIN", "показывать флэш", true);
    EXPECT_EQ(test::ReadFile(path_),
              "[Установки МАСТЕР-СЛЭЙВ]\nЗадержка_записи_мсек=15\n"
              "количество_повторов_запроса=-3\n\n[MAIN]\nпоказывать флэш=1\n");
    // A second object on the same file (another copy of the program) sees the values.
    IniFile other(path_);
    EXPECT_EQ(other.ReadInteger("Установки МАСТЕР-СЛЭЙВ", "Задержка_записи_мсек", 0), 15);
    other.WriteInteger("Установки МАСТЕР-СЛЭЙВ", "Задержка_записи_мсек", 20);
    EXPECT_EQ(ini.ReadInteger("Установки МАСТЕР-СЛЭЙВ", "Задержка_записи_мсек", 0), 20);
    EXPECT_EQ(ini.ReadInteger("Установки МАСТЕР-СЛЭЙВ", "количество_повторов_запроса", 0), -3);
}

TEST_F(IniTest, LookUpIgnoresCaseCyrillicToo) {
    test::WriteFile(path_, "[Установки МАСТЕР-СЛЭЙВ]\nЛагать=1\n[Трансфер]\nПриоритет=4\n");
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("установки мастер-слэйв", "ЛАГАТЬ", 0), 1);
    EXPECT_EQ(ini.ReadInteger("ТРАНСФЕР", "приоритет", 0), 4);
    // A write with other case replaces the key instead of adding a second one.
    ini.WriteInteger("трансфер", "ПРИОРИТЕТ", 2);
    EXPECT_EQ(ini.ReadSection("Трансфер").size(), 1u);
    EXPECT_EQ(ini.ReadSections().size(), 2u);
    EXPECT_EQ(ini.ReadInteger("Трансфер", "Приоритет", 0), 2);
}

TEST_F(IniTest, NumbersReadBackAsWritten) {
    test::WriteFile(path_,
                    "[S]\nneg=-12\nhex=0x1F\nbits=4294967295\nbad=12abc\nempty=\nbig=99999999999\n"
                    "quoted=\"a b\"\nspaced =  7  \n");
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("S", "neg", 0), -12);
    EXPECT_EQ(ini.ReadInteger("S", "hex", 0), 31);
    EXPECT_EQ(ini.ReadInteger("S", "bits", 0), -1);
    EXPECT_EQ(ini.ReadUInt32("S", "bits", 0), 4294967295u);
    EXPECT_EQ(ini.ReadInteger("S", "bad", 5), 5);
    EXPECT_EQ(ini.ReadInteger("S", "empty", 5), 5);
    EXPECT_EQ(ini.ReadInteger("S", "big", 5), 5);
    EXPECT_EQ(ini.ReadString("S", "quoted", ""), "a b");
    EXPECT_EQ(ini.ReadInteger("S", "spaced", 0), 7);
}

TEST_F(IniTest, DamagedFileReadsAsDefaultsAndSurvivesWrites) {
    const char raw[] = "\x01\xFF\xFE garbage \x00\x80 bytes\x00";
    const std::string garbage(raw, sizeof raw - 1);
    const std::string hugeValue(3 * 1000 * 1000, '7');
    const std::string original = "[COMPORT]\n" + garbage +
                                 "\nстрока без равенства\nBaudRate=" + hugeValue +
                                 "\nПорт=\xD0\n[\xFF\xFF\n";
    test::WriteFile(path_, original);
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("COMPORT", "BaudRate", 9600), 9600);
    EXPECT_EQ(ini.ReadInteger("COMPORT", "строка без равенства", 1), 1);
    EXPECT_EQ(ini.ReadInteger("MAIN", "x", 3), 3);

    ini.WriteInteger("MAIN", "показывать флэш", 1);
    ini.WriteInteger("COMPORT", "Parity", 2);
    const std::string after = test::ReadFile(path_);
    // Every line of the damaged file is still there, byte for byte and in order.
    size_t at = 0;
    for (const std::string& line :
         {std::string("[COMPORT]"), garbage, std::string("строка без равенства"),
          "BaudRate=" + hugeValue, std::string("Порт=\xD0"), std::string("[\xFF\xFF")}) {
        size_t found = after.find(line + "\n", at);
        ASSERT_NE(found, std::string::npos) << "lost a line of " << line.size() << " bytes";
        at = found + line.size();
    }
    EXPECT_EQ(after.size(),
              original.size() + std::string("Parity=2\n\n[MAIN]\nпоказывать флэш=1\n").size());
    EXPECT_EQ(ini.ReadInteger("COMPORT", "Parity", 0), 2);
    EXPECT_EQ(ini.ReadInteger("MAIN", "показывать флэш", 0), 1);
}

TEST_F(IniTest, CrLfFileKeepsItsValues) {
    test::WriteFile(path_, "[FORM1]\r\nlength=44\r\nshowCmd=3\r\n");
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("FORM1", "showCmd", 0), 3);
    ini.WriteInteger("FORM1", "flags", 2);
    EXPECT_EQ(ini.ReadInteger("FORM1", "length", 0), 44);
    EXPECT_EQ(ini.ReadInteger("FORM1", "showCmd", 0), 3);
}

TEST_F(IniTest, FileWithByteOrderMarkKeepsItsFirstSection) {
    // Windows editors save UTF-8 with a byte order mark in front of the first section.
    test::WriteFile(path_, "\xEF\xBB\xBF[COMPORT]\nПорт=COM7\n");
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadString("COMPORT", "Порт", "COM1"), "COM7");
    ini.WriteString("COMPORT", "Порт", "COM8");
    EXPECT_EQ(ini.ReadSections().size(), 1u);
    EXPECT_EQ(IniFile(path_).ReadString("COMPORT", "Порт", "COM1"), "COM8");
    EXPECT_EQ(test::ReadFile(path_), "\xEF\xBB\xBF[COMPORT]\nПорт=COM8\n");
}

// A crash in the middle of a write must leave either the old or the new file, never a mix.
TEST_F(IniTest, KilledWriterLeavesOldOrNewFile) {
    const std::string a(200000, 'a'), b(200000, 'b');
    {
        IniFile ini(path_);
        ini.WriteString("MAIN", "keep", "1");
        ini.WriteString("MAIN", "v", a);
    }
    std::mt19937 rng(12345);
    for (int round = 0; round < 15; ++round) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            IniFile ini(path_);
            for (int i = 0;; ++i) ini.WriteString("MAIN", "v", i % 2 ? a : b);
        }
        ::usleep(2000 + rng() % 20000);
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        IniFile ini(path_);
        const std::string v = ini.ReadString("MAIN", "v", "");
        EXPECT_TRUE(v == a || v == b) << "round " << round << ": value of " << v.size() << " bytes";
        EXPECT_EQ(ini.ReadString("MAIN", "keep", ""), "1");
    }
}

TEST_F(IniTest, UnwritableFileRaises) {
    const std::string path = dir_ + "/нет/такой/папки.ini";
    IniFile ini(path);
    try {
        ini.WriteInteger("S", "k", 1);
        FAIL() << "no error";
    } catch (const MyExceptionPtr& e) {
        EXPECT_EQ(e->GetClassName(), "MyWindowsException");
        EXPECT_EQ(e->GetMsg(), WindowsErrorText(ENOENT) + " Ошибка записи файла настроек " + path);
    }
}

TEST_F(IniTest, DeleteKeyAndEraseSection) {
    IniFile ini(path_);
    ini.WriteInteger("A", "x", 1);
    ini.WriteInteger("A", "y", 2);
    ini.WriteInteger("B", "z", 3);
    ini.DeleteKey("a", "X");
    EXPECT_FALSE(ini.ValueExists("A", "x"));
    EXPECT_TRUE(ini.ValueExists("A", "y"));
    ini.EraseSection("A");
    EXPECT_FALSE(ini.SectionExists("A"));
    EXPECT_EQ(ini.ReadInteger("B", "z", 0), 3);
}

struct BoundedCase {
    const char* value;  // nullptr: key missing
    int32_t expected;
};

TEST_F(IniTest, BoundedReadFallsBackToDefault) {
    const BoundedCase cases[] = {{"49", 100},    {"50", 50},    {"2000", 2000}, {"2001", 100},
                                 {"12abc", 100}, {"", 100},     {"-60", 100},   {"0x100", 100},
                                 {"777", 777},   {nullptr, 100}};
    IniFile ini(path_);
    for (const BoundedCase& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(missing)");
        if (c.value)
            ini.WriteString("STATUS_PANEL", "0", c.value);
        else
            ini.DeleteKey("STATUS_PANEL", "0");
        EXPECT_EQ(ReadBoundedInt(ini, "STATUS_PANEL", "0", 50, 2000, 100), c.expected);
        int32_t v = 0;
        EXPECT_EQ(TryReadBoundedInt(ini, "STATUS_PANEL", "0", 50, 2000, v), c.expected != 100);
    }
}

TEST_F(IniTest, BoundedReadChecksItsBounds) {
    IniFile ini(path_);
    int32_t v = 0;
    struct Bad {
        int32_t lo, hi, def;
    };
    for (const Bad& b : {Bad{10, 5, 7}, Bad{0, 10, 11}, Bad{5, 10, 4}}) {
        try {
            ReadBoundedInt(ini, "S", "k", b.lo, b.hi, b.def);
            ADD_FAILURE() << b.lo << " " << b.hi << " " << b.def;
        } catch (const MyExceptionPtr& e) {
            EXPECT_EQ(e->GetMsg(), "valMin<=valMax && defVal<=valMax && valMin<=defVal");
        }
    }
    try {
        TryReadBoundedInt(ini, "S", "k", 10, 5, v);
        ADD_FAILURE();
    } catch (const MyExceptionPtr& e) {
        EXPECT_EQ(e->GetMsg(), "valMin<=valMax");
    }
}

class FakeWindow : public PlacementTarget {
  public:
    WindowPlacement GetPlacement() const override { return wp; }
    void SetPlacement(const WindowPlacement& p) override {
        wp = p;
        ++sets;
    }
    void Hide() override { hidden = true; }
    WindowPlacement wp;
    int sets = 0;
    bool hidden = false;
};

WindowPlacement Sample() {
    WindowPlacement wp;
    wp.length = 44;
    wp.flags = 2;
    wp.showCmd = 3;
    wp.ptMinPosition = {-1, -2};
    wp.ptMaxPosition = {-3, -4};
    wp.rcNormalPosition = {10, 20, 810, 620};
    return wp;
}

TEST_F(IniTest, PlacementRoundTripUsesTheElevenKeys) {
    IniFile ini(path_);
    FakeWindow w;
    w.wp = Sample();
    SaveWindowPlacement(w, ini, "окно0");
    EXPECT_EQ(ini.ReadSection("окно0"),
              (std::vector<std::string>{"length", "flags", "showCmd", "ptMinPosition.x",
                                        "ptMinPosition.y", "ptMaxPosition.x", "ptMaxPosition.y",
                                        "rcNormalPosition.left", "rcNormalPosition.top",
                                        "rcNormalPosition.right", "rcNormalPosition.bottom"}));
    FakeWindow back;
    LoadWindowPlacement(back, ini, "окно0");
    EXPECT_EQ(back.wp, Sample());
}

TEST_F(IniTest, PartialPlacementChangesOnlyWhatIsStored) {
    test::WriteFile(path_, "[FORM1]\nshowCmd=2\n");
    IniFile ini(path_);
    FakeWindow w;
    w.wp = Sample();
    LoadWindowPlacement(w, ini, "FORM1");
    WindowPlacement expected = Sample();
    expected.showCmd = 2;
    EXPECT_EQ(w.wp, expected);
    EXPECT_EQ(w.sets, 1);
}

TEST_F(IniTest, ConsolePlacementStartsFromZeroAndHidesUnlessShown) {
    IniFile ini(path_);
    {
        FakeWindow con;
        con.wp = Sample();
        EXPECT_FALSE(LoadConsolePlacement(con, ini, "Консоль"));
        EXPECT_TRUE(con.hidden);
        WindowPlacement zero;
        zero.length = 0;
        EXPECT_EQ(con.wp, zero);
    }
    for (int show = 0; show <= 11; ++show) {
        SCOPED_TRACE(show);
        ini.WriteInteger("Консоль", "showCmd", show);
        FakeWindow con;
        const bool shown = show == 1 || show == 3 || show == 4 || show == 5;
        EXPECT_EQ(LoadConsolePlacement(con, ini, "Консоль"), shown);
        EXPECT_EQ(con.hidden, !shown);
        EXPECT_EQ(con.wp.showCmd, show);
    }
}

TEST(ExeFolderTest, HomeOverridesAndEndsWithSlash) {
    {
        test::ScopedHome home("exe");
        EXPECT_EQ(ExeFolder(), home.Dir() + "/");
        ::setenv("ZELMAR_HOME", (home.Dir() + "/").c_str(), 1);
        EXPECT_EQ(ExeFolder(), home.Dir() + "/");
    }
    ::unsetenv("ZELMAR_HOME");
    const std::string exe = ExeFolder();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe.back(), '/');
    EXPECT_TRUE(test::FileExists(exe + program_invocation_short_name));
}

}  // namespace

TEST(IniFileSafety, LineBreaksInValuesDoNotAddLinesAndLinksAndModesSurvive) {
    test::ScopedHome home("ini-safety");
    const std::string real = home.Dir() + "/real.ini";
    const std::string link = home.Dir() + "/config.ini";
    test::WriteFile(real, "[A]\nx=1\n");
    ::chmod(real.c_str(), 0600);
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    IniFile ini(link);
    ini.WriteString("A", "y", "2\n[B]\nz=3");
    EXPECT_FALSE(ini.SectionExists("B"));
    EXPECT_EQ(ini.ReadString("A", "y", ""), "2 [B] z=3");
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(test::ReadFile(real), "[A]\nx=1\ny=2 [B] z=3\n");
}
