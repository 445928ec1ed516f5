#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>

#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "device/zelmar_hrd.h"
#include "frame/ini_file.h"
#include "frame/ui_call.h"
#include "link/rs232_port.h"
#include "scenario.h"
#include "simulator.h"
#include "support/test_support.h"

extern char** environ;

namespace {

TEST(CliOptions, GoodAndBadCommandLines) {
    struct Case {
        std::vector<std::string> args;
        bool ok;
        cli::Command command;
    } cases[] = {
        {{"ports"}, true, cli::Command::Ports},
        {{"--port", "COM3", "--trace", "clock"}, true, cli::Command::Clock},
        {{"info"}, true, cli::Command::Info},
        {{"flash", "0x4000", "32"}, true, cli::Command::Flash},
        {{"flash", "16384", "2"}, true, cli::Command::Flash},
        {{"read", "minute", "11.12.2026 10:00", "11.12.2026 11:00"}, true, cli::Command::Read},
        {{}, false, cli::Command::Help},
        {{"flash", "0x4000", "33"}, false, cli::Command::Flash},
        {{"flash", "0x4000", "1"}, false, cli::Command::Flash},
        {{"flash", "-5", "4"}, false, cli::Command::Flash},
        {{"flash", "0x1000000", "4"}, false, cli::Command::Flash},
        {{"flash", "12z", "4"}, false, cli::Command::Flash},
        {{"read", "day", "11.12.2026 10:00", "11.12.2026 11:00"}, false, cli::Command::Read},
        {{"read", "hour", "31.02.2026 10:00", "11.12.2026 11:00"}, false, cli::Command::Read},
        {{"read", "hour", "11.12.2026 10:00"}, false, cli::Command::Read},
        {{"clock", "now"}, false, cli::Command::Clock},
        {{"--port"}, false, cli::Command::Help},
        {{"--frobnicate", "info"}, false, cli::Command::Help},
        {{"dance"}, false, cli::Command::Help},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        SCOPED_TRACE(joined);
        cli::Options o;
        std::string err;
        EXPECT_EQ(cli::ParseOptions(c.args, o, err), c.ok) << err;
        if (c.ok) EXPECT_EQ(o.command, c.command);
        else EXPECT_FALSE(err.empty());
    }
    cli::Options o;
    std::string err;
    ASSERT_TRUE(cli::ParseOptions({"--port", "COM3", "flash", "0x4010", "20"}, o, err));
    EXPECT_EQ(o.port, "COM3");
    EXPECT_EQ(o.addr, 0x4010u);
    EXPECT_EQ(o.count, 20);
    ASSERT_TRUE(cli::ParseOptions({"read", "hour", "01.03.2013 08:00", "15.07.2013 20:05"}, o, err));
    EXPECT_TRUE(o.hour);
    EXPECT_EQ(o.from, EncodeDateTime(2013, 3, 1, 8, 0));
    EXPECT_EQ(o.to, EncodeDateTime(2013, 7, 15, 20, 5));
}

TEST(CliOutput, CsvRowsAreAscendingWithinTheRangeOnePerDateTime) {
    Zelmar::ArchMapT map;
    Zelmar::ArchItem a;
    a.dateTime = EncodeDateTime(2013, 3, 12, 10, 5);
    a.idx = 7;
    a.t = 21;
    a.pressure = 0.97;
    a.c[0] = 20.89;
    a.evt = 17;
    map[a.dateTime] = a;
    Zelmar::ArchItem b = a;
    b.dateTime = EncodeDateTime(2013, 3, 12, 11, 0);
    map[b.dateTime] = b;
    EXPECT_EQ(cli::ReadCsv(map, EncodeDateTime(2013, 3, 12, 10, 0), EncodeDateTime(2013, 3, 12, 10, 59)),
              "idx;date;time;t;battery;pressure;c1;c2;c3;c4;evt\n"
              "7;12.03.2013;10:05;21;0;0.97;20.89;0;0;0;17\n");
    EXPECT_EQ(cli::FlashDump(0x4000, std::vector<uint8_t>(17, 0xAB)),
              "004000\tAB AB AB AB AB AB AB AB AB AB AB AB AB AB AB AB\n004010\tAB\n");
}

struct Ran {
    int code = -1;
    std::string out, err;
};

// Runs the program; `during` (if given) is called with its pid while it runs.
Ran RunCli(const std::vector<std::string>& args, const std::string& dir,
           const std::function<void(pid_t)>& during = nullptr) {
    std::vector<std::string> all = {ZELMAR_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string outPath = dir + "/out.txt", errPath = dir + "/err.txt";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    Ran r;
    if (posix_spawn(&pid, ZELMAR_CLI_PATH, &fa, nullptr, argv.data(), environ) != 0) return r;
    posix_spawn_file_actions_destroy(&fa);
    if (during) during(pid);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = test::ReadFile(outPath);
    r.err = test::ReadFile(errPath);
    return r;
}

const TDateTime kEnd = EncodeDateTime(2026, 12, 11, 12, 0);

class CliProgram : public ::testing::Test {
protected:
    CliProgram() : home_("cli") {
        ModuleImpl::Create();
        ::setenv("ZELMAR_PORTS_DIR", home_.Dir().c_str(), 1);
        scenario_ = zelmar::sim::RealisticScenario(kEnd);
        sim_ = std::make_unique<zelmar::sim::Simulator>(zelmar::sim::BuildImage(scenario_));
        sim_->Start();
        IniFile ini(home_.Dir() + "/config.ini");
        ini.WriteInteger("Установки МАСТЕР-СЛЭЙВ", "Задержка_записи_мсек", 0);
        ini.WriteInteger("Установки МАСТЕР-СЛЭЙВ", "длительность_ожидания_символа_приёма_мсек", 3);
    }
    ~CliProgram() override { ::unsetenv("ZELMAR_PORTS_DIR"); }

    test::ScopedHome home_;
    zelmar::sim::Scenario scenario_;
    std::unique_ptr<zelmar::sim::Simulator> sim_;
};

TEST_F(CliProgram, InfoPrintsTheContextTableAndTheBounds) {
    Ran r = RunCli({"info"}, home_.Dir());
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < r.out.size()) {
        size_t end = r.out.find('\n', pos);
        lines.push_back(r.out.substr(pos, end - pos));
        pos = end + 1;
    }
    ASSERT_EQ(lines.size(), 9u) << r.out;
    EXPECT_EQ(lines[0], "Параметр;Канал 1;Канал 2;Канал 3;Канал 4");
    EXPECT_EQ(lines[1].rfind("Тип ячейки;" + Zelmar::CellTypeName(scenario_.cells[0].type) + ";", 0), 0u);
    EXPECT_EQ(lines[2].rfind("Дата регулировки;", 0), 0u);
    EXPECT_EQ(lines[3].rfind("ПГС 0;", 0), 0u);
    EXPECT_EQ(lines[6].rfind("Порог 2;", 0), 0u);
    const int hourNewest = zelmar::sim::NewestSlot(scenario_.hour);
    const int minuteNewest = zelmar::sim::NewestSlot(scenario_.minute);
    EXPECT_EQ(lines[7], "Часовой архив: idxEnd_=" + std::to_string(hourNewest) + ", idx0_=0");
    EXPECT_EQ(lines[8], "Минутный архив: idxEnd_=" + std::to_string(minuteNewest) + ", idx0_=0");
    EXPECT_EQ(sim_->RequestCount(0x33), 1u);
    // The run followed the start-up order: its console went to the log.
    EXPECT_TRUE(test::FileExists(home_.Dir() + "/Log"));
}

TEST_F(CliProgram, ReadPrintsExactlyTheRecordsOfTheRangeEachReadOnce) {
    Ran r = RunCli({"read", "minute", "11.12.2026 10:00", "11.12.2026 10:30"}, home_.Dir());
    ASSERT_EQ(r.code, 0) << r.err;
    size_t rows = 0;
    std::string lastTime;
    for (size_t pos = r.out.find('\n') + 1; pos < r.out.size(); pos = r.out.find('\n', pos) + 1) {
        const std::string line = r.out.substr(pos, r.out.find('\n', pos) - pos);
        ++rows;
        const std::string time = line.substr(line.find(';', line.find(';') + 1) + 1, 5);
        EXPECT_GT(time, lastTime) << line;
        lastTime = time;
        EXPECT_EQ(line.find(";11.12.2026;"), line.find(';')) << line;
    }
    EXPECT_EQ(rows, 31u) << r.out;
    EXPECT_EQ(r.out.rfind("idx;date;time;t;battery;pressure;c1;c2;c3;c4;evt\n", 0), 0u);
    for (const auto& [addr, n] : sim_->Counters().readsByAddress) EXPECT_EQ(n, 1u) << std::hex << addr;
}

TEST_F(CliProgram, FlashAndClock) {
    Ran r = RunCli({"flash", "0x300000", "18"}, home_.Dir());
    ASSERT_EQ(r.code, 0) << r.err;
    // Two lines: sixteen bytes, then two.
    EXPECT_EQ(r.out.find('\n'), std::string("300000\t").size() + 16 * 3 - 1) << r.out;
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1, 7), "300010\t");
    EXPECT_EQ(r.out.size() - r.out.find('\n') - 1, std::string("300010\tAB CD\n").size());
    uint8_t first = 0;
    sim_->ModifyImage([&](zelmar::sim::FlashImage& im) { first = im.Byte(0x300000); });
    char expect[16];
    std::snprintf(expect, sizeof expect, "300000\t%02X ", first);
    EXPECT_EQ(r.out.rfind(expect, 0), 0u) << r.out;

    r = RunCli({"clock"}, home_.Dir());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.size(), std::string("dd.mm.yyyy hh:nn:ss\n").size()) << r.out;
    EXPECT_EQ(sim_->RequestCount(0x35), 1u);
}

TEST_F(CliProgram, ErrorsAndBadUsage) {
    Ran r = RunCli({"read", "hour", "yesterday", "today"}, home_.Dir());
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("Использование"), std::string::npos) << r.err;

    r = RunCli({"--port", "COM7", "clock"}, home_.Dir());
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("COM-порт c символическим именем \"COM7\" не представлен в системе!"),
              std::string::npos)
        << r.err;
    // The override is for one run: the configured port stays COM1.
    EXPECT_EQ(IniFile(home_.Dir() + "/config.ini").ReadString("COMPORT", "Порт", ""), "COM1");

    sim_->RefuseReads({0x300000, 16, 4});
    r = RunCli({"flash", "0x300000", "16"}, home_.Dir());
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Прибор вернул код ошибки 4"), std::string::npos) << r.err;
}

TEST_F(CliProgram, CtrlCStopsThePollingCleanlyAndExits130) {
    sim_->SetBaud(9600);  // a day of minute records takes minutes at this speed
    Ran r = RunCli({"read", "minute", "10.12.2026 12:00", "11.12.2026 12:00"}, home_.Dir(), [&](pid_t pid) {
        ASSERT_TRUE(sim_->WaitForFrames(20, std::chrono::seconds(30)));
        ::kill(pid, SIGINT);
    });
    EXPECT_EQ(r.code, 130) << r.err;
    EXPECT_NE(r.err.find("Прервано пользователем."), std::string::npos) << r.err;
    const uint64_t frames = sim_->Counters().frames;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(sim_->Counters().frames, frames);  // nothing is asked any more
    IniFile ini(home_.Dir() + "/config.ini");
    EXPECT_EQ(ini.ReadString("COMPORT", "Порт", ""), "COM1");  // the settings were written back
    EXPECT_TRUE(ini.ValueExists("Трансфер", "приоритет_второго_потока"));
    // The port was closed: another program may open it now.
    my::RS232::Port port;
    EXPECT_NO_THROW(port.Open());
}

TEST_F(CliProgram, PortsListsTheBoundPorts) {
    Ran r = RunCli({"ports"}, home_.Dir());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "COM1\t" + sim_->SlavePath() + "\n");
}

}  // namespace
