#include "frame/startup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/console.h"
#include "frame/ini_file.h"
#include "frame/my_exception.h"
#include "frame/ui_call.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

class HomeEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ModuleImpl::Create();
        home = std::make_unique<test::ScopedHome>("startup");
        // No archiver: the dumped log stays in Log/ under its time name.
        savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
        ::setenv("PATH", test::MakeTempDir("empty-path").c_str(), 1);
    }
    void TearDown() override {
        ::setenv("PATH", savedPath.c_str(), 1);
        home.reset();
    }
    static inline std::unique_ptr<test::ScopedHome> home;
    std::string savedPath;
};
[[maybe_unused]] ::testing::Environment* const g_env =
    ::testing::AddGlobalTestEnvironment(new HomeEnvironment);

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::remove_all(LogDir());
        GUIConsole::Instance().Free();
        GUIConsole::Instance().Buffer().Clear();
    }
    static std::string LogDir() { return ExeFolder() + "Log"; }

    // Every step records its name; `failing` raises instead.
    StartupSlots Recording(const std::string& failing = "", std::function<void()> raise = nullptr) {
        StartupSlots s;
        auto step = [this, failing, raise](const std::string& name) {
            return [this, failing, raise, name] {
                steps.push_back(name);
                if (name == "obtainControlSystem")
                    consoleReadyAtControlSystem = GUIConsole::Instance().IsAllocated();
                if (name == failing) raise();
            };
        };
        s.clearMainWindow = step("clearMainWindow");
        s.obtainControlSystem = step("obtainControlSystem");
        s.obtainTransferManager = step("obtainTransferManager");
        s.runApplication = step("runApplication");
        s.stopPolling = step("stopPolling");
        s.destroyMainWindow = step("destroyMainWindow");
        s.destroyControlSystem = step("destroyControlSystem");
        s.destroyTransferManager = step("destroyTransferManager");
        return s;
    }

    // The run's log files: the dump renamed to its time of day.
    std::vector<std::string> LogFiles() const {
        std::vector<std::string> out;
        if (!fs::exists(LogDir())) return out;
        for (const auto& e : fs::directory_iterator(LogDir())) out.push_back(e.path().string());
        return out;
    }

    std::vector<std::string> steps;
    bool consoleReadyAtControlSystem = false;
};

const std::vector<std::string> kAllSteps = {
    "clearMainWindow", "obtainControlSystem", "obtainTransferManager", "runApplication",
    "stopPolling",     "destroyMainWindow",   "destroyControlSystem",  "destroyTransferManager"};

TEST_F(StartupTest, StepsRunInOrderAndTheConsoleReachesTheLog) {
    test::BoxRecorder boxes;
    EXPECT_EQ(RunApplication(Recording()), 0);
    EXPECT_EQ(steps, kAllSteps);
    EXPECT_TRUE(consoleReadyAtControlSystem);
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_FALSE(GUIConsole::Instance().IsAllocated());

    const std::vector<std::string> logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);  // dumped once; STDOUT.LOG is renamed
    EXPECT_NE(logs[0], LogDir() + "/STDOUT.LOG");
    EXPECT_EQ(test::ReadFile(logs[0]),
              "GUI CON initialized.\nсохраняю содержимое консоли в логфайл\n");
}

TEST_F(StartupTest, EmptySlotsLeaveTheirPlaceEmpty) {
    StartupSlots s;
    EXPECT_EQ(RunApplication(s), 0);
    EXPECT_EQ(LogFiles().size(), 1u);
}

TEST_F(StartupTest, FailingStepIsReportedAndTheLogIsStillWritten) {
    test::BoxRecorder boxes;
    static FileLine where;
    StartupSlots s = Recording("obtainControlSystem", [] {
        where = MY_HERE;
        Raise<MyException>(where, "Не удалось прочитать настройку");
    });
    EXPECT_EQ(RunApplication(s), 0);
    EXPECT_EQ(steps, (std::vector<std::string>{"clearMainWindow", "obtainControlSystem"}));

    const std::string text =
        std::to_string(where.line) + ":startup_test.cpp\nНе удалось прочитать настройку";
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, text);
    EXPECT_EQ(boxes.Boxes()[0].caption, "ЗЕЛМАР");
    EXPECT_EQ(boxes.Boxes()[0].type, MB_ICONERROR | MB_SYSTEMMODAL);

    const std::vector<std::string> logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(test::ReadFile(logs[0]), "GUI CON initialized.\nИсключение! Выход из приложения!\n" +
                                           text + "\nсохраняю содержимое консоли в логфайл\n");
}

TEST_F(StartupTest, ForeignFailureInShutdownGetsTheEntryPointsLocation) {
    test::BoxRecorder boxes;
    StartupSlots s = Recording("destroyControlSystem", [] { throw std::runtime_error("диск"); });
    EXPECT_EQ(RunApplication(s), 0);
    EXPECT_EQ(steps, std::vector<std::string>(kAllSteps.begin(), kAllSteps.end() - 1));
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    const std::string& box = boxes.Boxes()[0].text;
    EXPECT_NE(box.find(":startup.cpp\nstd::runtime_error:диск"), std::string::npos) << box;
    EXPECT_EQ(LogFiles().size(), 1u);
}

TEST_F(StartupTest, NestedCausesAreJoinedInTheBox) {
    test::BoxRecorder boxes;
    StartupSlots s = Recording("obtainTransferManager", [] {
        auto cause = std::make_shared<MyException>(FileLine{7, "ini.cpp"}, "нет файла");
        Raise<MyException>(FileLine{9, "ctrl.cpp"}, "нет настроек", cause);
    });
    RunApplication(s);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "9:ctrl.cpp\nнет настроек\n\t7:ini.cpp\nнет файла");
}

TEST_F(StartupTest, FailureInTheMessageLoopGoesToTheDisplayAndShutdownFollows) {
    test::BoxRecorder boxes;
    std::vector<std::string> shown;
    SetApplicationExceptionDisplay([&](const std::string& m) { shown.push_back(m); });
    StartupSlots s = Recording("runApplication", [] { throw std::string("окно"); });
    EXPECT_EQ(RunApplication(s), 0);
    SetApplicationExceptionDisplay(nullptr);
    EXPECT_EQ(steps, kAllSteps);
    EXPECT_EQ(shown, (std::vector<std::string>{"окно"}));
    EXPECT_TRUE(boxes.Boxes().empty());
    const std::vector<std::string> logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(test::ReadFile(logs[0]).find("Исключение!"), std::string::npos);
}

TEST(ParamStrTest, ExactCaseSensitiveOverAllWords) {
    MyParamStrT& p = MyParamStrT::Instance();
    ASSERT_FALSE(p.Words().empty());
    EXPECT_TRUE(p.Contains(p.Words()[0]));  // word 0 is the program path
    const std::vector<std::string> saved = p.Words();
    p.SetWords({"/opt/zelmar/zelmar", "-x", "-debug"});
    EXPECT_TRUE(p.Contains("-debug"));
    EXPECT_TRUE(p.Contains("/opt/zelmar/zelmar"));
    EXPECT_FALSE(p.Contains("-DEBUG"));
    EXPECT_FALSE(p.Contains("-debu"));
    EXPECT_FALSE(p.Contains("debug"));
    EXPECT_FALSE(p.Contains(""));
    p.SetWords({"/opt/zelmar/zelmar"});
    EXPECT_FALSE(p.Contains("-debug"));
    p.SetWords(saved);
}

}  // namespace
