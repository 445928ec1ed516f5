#include <gtest/gtest.h>

#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "frame/console.h"
#include "frame/date_time.h"
#include "frame/ini_file.h"
#include "frame/log_files.h"
#include "frame/ui_call.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

// The console computes its log folder once per process, so the whole program shares one home.
class HomeEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ModuleImpl::Create();
        home = std::make_unique<test::ScopedHome>("console");
    }
    void TearDown() override { home.reset(); }
    static inline std::unique_ptr<test::ScopedHome> home;
};
[[maybe_unused]] ::testing::Environment* const g_env =
    ::testing::AddGlobalTestEnvironment(new HomeEnvironment);

std::string LogDir() {
    return GUIConsole::Instance().LogDir();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// A stand-in archiver: records its working folder and arguments, and proves it was waited for
// by writing its last line only after a pause.
class FakeRar {
  public:
    FakeRar() : path_(ExeFolder() + "rar"), record_(ExeFolder() + "rar-call.txt") {
        std::remove(record_.c_str());
        test::WriteFile(path_,
                        "#!/bin/sh\n"
                        "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"" +
                            record_ + "\"\nsleep 0.3\necho finished >> \"" + record_ + "\"\n");
        ::chmod(path_.c_str(), 0755);
    }
    ~FakeRar() {
        std::remove(path_.c_str());
        std::remove(record_.c_str());
    }
    std::vector<std::string> Call() const { return Lines(test::ReadFile(record_)); }

  private:
    std::string path_, record_;
};

// Keeps PATH free of any archiver the machine may have.
class NoArchiverOnPath {
  public:
    NoArchiverOnPath() : saved_(std::getenv("PATH") ? std::getenv("PATH") : "") {
        ::setenv("PATH", test::MakeTempDir("empty-path").c_str(), 1);
    }
    ~NoArchiverOnPath() { ::setenv("PATH", saved_.c_str(), 1); }

  private:
    std::string saved_;
};

class ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ResetConsole();
        fs::remove_all(LogDir());
        fs::create_directories(LogDir());
    }
    ConsoleScreenBuffer& Buffer() { return GUIConsole::Instance().Buffer(); }
};

TEST_F(ConsoleTest, NothingLandsBeforeAllocateAndTheFirstLineIsTheGreeting) {
    GUIConsole::Instance().Free();
    Buffer().Clear();
    ConsolePrint("до консоли\n");
    ConsolePrintColored("красным\n", ConColorRed);
    EXPECT_TRUE(test::ConsoleRows().empty());
    EXPECT_FALSE(GUIConsole::Instance().IsAllocated());

    GUIConsole::Instance().Allocate();
    GUIConsole::Instance().Allocate();  // idempotent: one greeting
    ConsolePrint("первая ");
    std::cout << "из cout" << ' ' << 42 << "\n";
    EXPECT_EQ(test::ConsoleRows(),
              (std::vector<std::string>{"GUI CON initialized.", "первая из cout 42"}));
    EXPECT_EQ(LogDir(), ExeFolder() + "Log");
    EXPECT_EQ(GUIConsole::Instance().StdoutLogPath(), ExeFolder() + "Log/STDOUT.LOG");
    EXPECT_EQ(GUIConsole::Instance().ArchiveName(), "log.rar");
}

TEST_F(ConsoleTest, ScreenBufferIsEightyByNineThousand) {
    EXPECT_EQ(Buffer().Width(), 80);
    EXPECT_EQ(Buffer().Height(), 9999);
    ConsolePrint(std::string(85, 'x'));
    EXPECT_EQ(test::ConsoleRows(),
              (std::vector<std::string>{std::string(80, 'x'), std::string(5, 'x')}));
}

TEST(ConsoleScreenBufferTest, WrapsScrollsAndJoinsSplitCharacters) {
    ConsoleScreenBuffer b(8, 3);
    b.Write("ab\tc");  // the tab fills the row up to column 8 and wraps
    b.Write("\rZ\n");
    EXPECT_EQ(b.RowText(0), "ab      ");
    EXPECT_EQ(b.RowText(1), "Z       ");
    // A character split over two writes (an unbuffered stream writes byte by byte).
    b.Write("\xD0");
    b.Write("\x96!");
    EXPECT_EQ(b.RowText(2), "Ж!      ");
    EXPECT_EQ(b.Cursor(), (ConsolePos{2, 2}));
    b.Write("\n");  // the buffer is full: the top row scrolls away
    EXPECT_EQ(b.RowText(0), "Z       ");
    EXPECT_EQ(b.RowText(1), "Ж!      ");
    EXPECT_EQ(b.RowText(2), "        ");
    b.Write("\xFF");
    EXPECT_EQ(b.RowText(2), "?       ");
}

TEST(ConsoleScreenBufferTest, ManyLinesKeepTheLastRows) {
    ConsoleScreenBuffer b(kConsoleWidth, kConsoleHeight);
    for (int i = 0; i < 10005; ++i) b.Write(std::to_string(i) + "\n");
    // 10005 line breaks on 9999 rows: the cursor sits on the last row, below line 10004.
    auto row = [&](int y) {
        std::string r = b.RowText(y);
        return r.substr(0, r.find(' '));
    };
    EXPECT_EQ(b.Cursor(), (ConsolePos{0, kConsoleHeight - 1}));
    EXPECT_EQ(row(kConsoleHeight - 2), "10004");
    EXPECT_EQ(row(0), std::to_string(10004 - (kConsoleHeight - 2)));
}

TEST_F(ConsoleTest, ColoursChangeOnlyTheirBitsAndAreRestored) {
    struct Case {
        const char* name;
        const ConsoleColor& color;
        uint16_t onGrey;
    };
    const Case cases[] = {{"magenta", ConColorMagenta, 0x0D},
                          {"cyan", ConColorCyan, 0x0B},
                          {"blue", ConColorBlue, 0x09},
                          {"red", ConColorRed, 0x0C},
                          {"yellow", ConColorYellow, 0x0E}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ResetConsole();
        ConsolePrintColored("x", c.color);
        ConsolePrint("y");
        const std::vector<ConsoleCell> cells = Buffer().RowCells(0);
        EXPECT_EQ(cells[0].attr, c.onGrey);
        EXPECT_EQ(cells[1].attr, kConsoleDefaultAttr);
    }
    // Background bits stay; a nested guard restores the outer colour.
    Buffer().SetAttribute(0x17);
    {
        ConsoleScreenAtrributesHolder outer(ConColorYellow);
        EXPECT_EQ(Buffer().Attribute(), 0x1E);
        {
            ConsoleScreenAtrributesHolder inner(ConColorRed);
            EXPECT_EQ(Buffer().Attribute(), 0x1C);
        }
        EXPECT_EQ(Buffer().Attribute(), 0x1E);
    }
    EXPECT_EQ(Buffer().Attribute(), 0x17);
}

TEST_F(ConsoleTest, ProgressIsRewrittenInPlace) {
    ConsolePrint("Чтение: ");
    ConsoleMultioutputHelper progress;
    progress.Print("длинный текст 100");
    EXPECT_EQ(test::ConsoleRows(), (std::vector<std::string>{"Чтение: длинный текст 100"}));
    progress.Print("ok");
    EXPECT_EQ(test::ConsoleRows(), (std::vector<std::string>{"Чтение: ok"}));
    EXPECT_EQ(Buffer().Cursor(), (ConsolePos{8, 0}));
    progress.Print("");
    EXPECT_EQ(test::ConsoleRows(), (std::vector<std::string>{"Чтение:"}));
    progress.Print("50%");
    ConsolePrint("\nдальше\n");
    EXPECT_EQ(test::ConsoleRows(), (std::vector<std::string>{"Чтение: 50%", "дальше"}));
}

TEST_F(ConsoleTest, AutoQuoteFramesAScope) {
    {
        myIO::AutoQuote q("CtrlSysImpl::Impl::~Impl");
        ConsolePrint("внутри\n");
    }
    EXPECT_EQ(test::ConsoleRows(), (std::vector<std::string>{"<CtrlSysImpl::Impl::~Impl>", "внутри",
                                                             "<\\CtrlSysImpl::Impl::~Impl>"}));
}

TEST_F(ConsoleTest, DumpWritesOnlyRowsWithText) {
    ConsolePrint("строка 0\nстрока 1 \t \nстрока 2\n\n\n  строка 5   ");
    const std::string path = LogDir() + "/sub/dump.log";
    fs::create_directories(LogDir() + "/sub");
    test::WriteFile(path, std::string(100000, 'z'));  // an old, longer file is replaced
    DumpConsoleBuffer(Buffer(), path);
    EXPECT_EQ(test::ReadFile(path), "строка 0\nстрока 1\nстрока 2\n  строка 5\n");
    DumpConsoleBuffer(Buffer(), LogDir() + "/new/dir/dump.log");
    EXPECT_EQ(test::ReadFile(LogDir() + "/new/dir/dump.log"), test::ReadFile(path));
}

TEST(LogNamesTest, DateFolderAndTimeName) {
    const TDateTime t = EncodeDateTime(2013, 7, 15, 9, 5, 3);
    EXPECT_EQ(LogDateFolder(t), "2013/07_" + LongMonthName(7) + "/15");
    EXPECT_EQ(LogDateFolder(t), "2013/07_Июль/15");
    EXPECT_EQ(LogTimeName(t), "9_5_3");
    EXPECT_EQ(LogDateFolder(EncodeDateTime(2020, 11, 1, 23, 59, 59)), "2020/11_Ноябрь/1");
    EXPECT_EQ(LogTimeName(EncodeDateTime(2020, 11, 1, 23, 59, 59)), "23_59_59");
}

TEST_F(ConsoleTest, ArchiverRunsInTheLogFolderWithItsCommandLine) {
    FakeRar rar;
    test::BoxRecorder boxes;
    const std::string file = LogDir() + "/STDOUT.LOG";
    test::WriteFile(file, "лог\n");
    ArchiveFileWithRar(file, "2013/07_Июль/15/9_5_3.log", "log.rar");
    EXPECT_EQ(rar.Call(), (std::vector<std::string>{fs::canonical(LogDir()).string(), "m",
                                                    "-mc10t+", "-ap2013/07_Июль/15/", "log.rar",
                                                    "9_5_3.log", "finished"}));
    EXPECT_FALSE(test::FileExists(file));
    EXPECT_EQ(test::ReadFile(LogDir() + "/9_5_3.log"), "лог\n");
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(ConsoleTest, WithoutArchiverTheTimeNamedFileStays) {
    NoArchiverOnPath noPath;
    test::BoxRecorder boxes;
    ASSERT_EQ(FindArchiver(), "");
    const std::string file = LogDir() + "/STDOUT.LOG";
    test::WriteFile(file, "лог\n");
    ArchiveFileWithRar(file, "2013/07_Июль/15/9_5_3.log", "log.rar");
    EXPECT_FALSE(test::FileExists(file));
    EXPECT_EQ(test::ReadFile(LogDir() + "/9_5_3.log"), "лог\n");
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(ConsoleTest, RelativeLogFileStaysInItsFolder) {
    NoArchiverOnPath noPath;
    const fs::path saved = fs::current_path();
    fs::current_path(LogDir());
    test::WriteFile("STDOUT.LOG", "x");
    ArchiveFileWithRar("STDOUT.LOG", "2013/07_Июль/15/9_5_3.log", "log.rar");
    fs::current_path(saved);
    EXPECT_EQ(test::ReadFile(LogDir() + "/9_5_3.log"), "x");
}

TEST_F(ConsoleTest, DumpToLogArchivesTheConsoleUnderTodaysName) {
    FakeRar rar;
    ConsolePrint("последняя строка\n");
    const TDateTime before = Now();
    GUIConsole::Instance().DumpToLog();
    const TDateTime after = Now();
    const std::vector<std::string> call = rar.Call();
    ASSERT_EQ(call.size(), 7u);
    const std::string name = call[5];
    EXPECT_TRUE(name == LogTimeName(before) + ".log" || name == LogTimeName(after) + ".log")
        << name;
    EXPECT_TRUE(call[3] == "-ap" + LogDateFolder(before) + "/" ||
                call[3] == "-ap" + LogDateFolder(after) + "/")
        << call[3];
    EXPECT_EQ(test::ReadFile(LogDir() + "/" + name), "последняя строка\n");
    EXPECT_FALSE(test::FileExists(GUIConsole::Instance().StdoutLogPath()));
}

TEST_F(ConsoleTest, DumpToLogDoesNothingWithoutConsole) {
    GUIConsole::Instance().Free();
    GUIConsole::Instance().DumpToLog();
    EXPECT_TRUE(fs::is_empty(LogDir()));
}

TEST_F(ConsoleTest, FileHelpersReportFailures) {
    test::BoxRecorder boxes;
    const std::string deep = LogDir() + "/a/b/c";
    EXPECT_TRUE(MakeDir(deep));
    EXPECT_TRUE(MakeDir(deep));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_TRUE(boxes.Boxes().empty());

    test::WriteFile(LogDir() + "/file", "");
    EXPECT_FALSE(MakeDir(LogDir() + "/file/sub"));
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text.rfind(
                  "Ошибка при создании каталога.\n" + LogDir() + "/file/sub\n", 0),
              0u)
        << boxes.Boxes()[0].text;
    EXPECT_EQ(boxes.Boxes()[0].caption, "Последняя WIN-ошибка.");

    boxes.Clear();
    const std::string from = LogDir() + "/absent", to = LogDir() + "/x/y/target";
    EXPECT_FALSE(MoveFileTo(from, to));
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Ошибка при переименовании файла.\n" + from + "\n" + to +
                                         "\n" + WindowsErrorText(ENOENT));

    boxes.Clear();
    test::WriteFile(from, "1");
    EXPECT_TRUE(MoveFileTo(from, to));
    EXPECT_EQ(test::ReadFile(to), "1");
    EXPECT_TRUE(boxes.Boxes().empty());
}

}  // namespace

// A process with a terminal notes Ctrl+C on the console and goes on (exit code 0, not killed).
[[noreturn]] void CtrlCInATerminal() {
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) std::_Exit(2);
    ::dup2(slave, STDIN_FILENO);
    ModuleImpl::Create();
    test::ResetConsole();
    ::raise(SIGINT);
    ModuleImpl::Instance().ServeFor(std::chrono::milliseconds(500));
    const bool noted = test::ConsoleText().find("---Ctrl+Break pressed!---") != std::string::npos;
    std::_Exit(noted ? 0 : 3);
}

TEST(ConsoleCtrlC, IsNotedOnTheConsoleAndTheProcessGoesOn) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(CtrlCInATerminal(), ::testing::ExitedWithCode(0), "");
}
