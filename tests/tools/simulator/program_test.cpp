// The zelmar-sim program as the lead's scripts run it: a child process, real signals.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "flash_image.h"
#include "pty_client.h"
#include "scenario.h"
#include "support/test_support.h"

extern char** environ;

using namespace zelmar::sim;
using namespace simtest;

namespace {

class Program {
  public:
    Program(const std::vector<std::string>& args, const std::string& dir)
        : out_(dir + "/out.txt"), err_(dir + "/err.txt") {
        std::vector<std::string> all = {ZELMAR_SIM_EXE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&fa, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&pid_, ZELMAR_SIM_EXE, &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    // Exit code, or -1 if it did not end in time (it is then killed).
    int Wait(int timeoutMs = 20000) {
        for (int waited = 0; pid_ > 0; waited += 10) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (waited > timeoutMs) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    void Signal(int sig) { ::kill(pid_, sig); }
    std::string Out() const { return test::ReadFile(out_); }
    std::string Err() const { return test::ReadFile(err_); }

  private:
    pid_t pid_ = -1;
    std::string out_, err_;
};

bool WaitForCharDevice(const std::string& path) {
    for (int i = 0; i < 1000; ++i) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

const char* kEndText = "12.03.2013 10:00";
const TDateTime kEnd = EncodeDateTime(2013, 3, 12, 10, 0);

TEST(ZelmarSimProgram, SavesAScenarioImageWithoutServing) {
    const std::string dir = test::MakeTempDir("sim-prog");
    Program p(
        {"--scenario", "broken", "--end", kEndText, "--save-image", dir + "/b.img", "--no-serve"},
        dir);
    ASSERT_EQ(p.Wait(), 0) << p.Err();
    Scenario sc;
    ASSERT_TRUE(ScenarioByName("broken", kEnd, sc));
    EXPECT_TRUE(FlashImage::Load(dir + "/b.img") == BuildImage(sc));
    EXPECT_NE(p.Out().find(dir + "/b.img"), std::string::npos) << p.Out();
}

class ServeAndStop : public ::testing::TestWithParam<int> {};

TEST_P(ServeAndStop, AnswersThenRemovesItsLinkOnTheSignal) {
    const std::string dir = test::MakeTempDir("sim-prog");
    BuildImage(RealisticScenario(kEnd)).Save(dir + "/r.img");
    Program p({"--ports-dir", dir + "/ports", "--port", "COM3", "--image", dir + "/r.img",
               "--refuse-cell", "1"},
              dir);
    const std::string link = dir + "/ports/COM3";
    ASSERT_TRUE(WaitForCharDevice(link)) << p.Err();
    {
        PortClient client(link);
        ASSERT_TRUE(client.IsOpen());
        const FlashImage im = FlashImage::Load(dir + "/r.img");
        Bytes expected(8);
        im.Read(0x4FF8, expected.data(), 8);
        EXPECT_EQ(client.Exchange(MakeRead(0, 0x4FF8, 8)), MakeAnswer(0, expected));
        EXPECT_EQ(client.Exchange(MakeRead(1, 0x0000, 2)), MakeAnswer(1, {0x01}));
    }
    EXPECT_NE(p.Out().find(link), std::string::npos) << p.Out();
    p.Signal(GetParam());
    EXPECT_EQ(p.Wait(), 0) << p.Err();
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, ServeAndStop, ::testing::Values(SIGTERM, SIGINT));

TEST(ZelmarSimProgram, BadUsageExitsTwoAndErrorsExitOne) {
    const std::string dir = test::MakeTempDir("sim-prog");
    Program bad({"--fault", "smoke"}, dir);
    EXPECT_EQ(bad.Wait(), 2);
    EXPECT_NE(bad.Err().find("--fault"), std::string::npos) << bad.Err();
    EXPECT_NE(bad.Err().find("zelmar-sim [параметры]"), std::string::npos);

    Program missing({"--image", dir + "/none.img", "--ports-dir", dir}, dir);
    EXPECT_EQ(missing.Wait(), 1);
    EXPECT_NE(missing.Err().find(dir + "/none.img"), std::string::npos) << missing.Err();
}

}  // namespace
