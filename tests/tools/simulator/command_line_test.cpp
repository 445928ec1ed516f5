#include "command_line.h"

#include <gtest/gtest.h>

using namespace zelmar::sim;

namespace {

bool Parse(std::vector<std::string> args, ProgramOptions& o, std::string& error) {
    return ParseCommandLine(args, o, error);
}

TEST(CommandLine, DefaultsAndAFullSet) {
    ProgramOptions o;
    std::string error;
    ASSERT_TRUE(Parse({}, o, error)) << error;
    EXPECT_EQ(o.sim.portName, "COM1");
    EXPECT_EQ(o.scenario, "realistic");
    EXPECT_EQ(o.sim.baud, 0u);

    ASSERT_TRUE(Parse(
        {"--port",      "COM7",      "--scenario",    "wrapped",   "--end",      "12.03.2013 10:05",
         "--baud",      "9600",      "--latency",     "20",        "--seed",     "42",
         "--fault",     "crc=0.25",  "--fault",       "silence:3", "--fault",    "split",
         "--split-gap", "80",        "--refuse-cell", "2",         "--refuse",   "0x300000:16:7",
         "--live",      "--verbose", "--save-image",  "x.img",     "--no-serve", "--ports-dir",
         "/tmp/p"},
        o, error))
        << error;
    EXPECT_EQ(o.sim.portName, "COM7");
    EXPECT_EQ(o.scenario, "wrapped");
    EXPECT_EQ(o.end, EncodeDateTime(2013, 3, 12, 10, 5));
    EXPECT_EQ(o.sim.baud, 9600u);
    EXPECT_EQ(o.sim.latencyMs, 20u);
    EXPECT_EQ(o.sim.seed, 42u);
    EXPECT_EQ(o.sim.splitGapMs, 80u);
    EXPECT_TRUE(o.sim.live);
    EXPECT_TRUE(o.sim.verbose);
    EXPECT_TRUE(o.noServe);
    EXPECT_EQ(o.saveImage, "x.img");
    EXPECT_EQ(o.sim.portsFolder, "/tmp/p");
    ASSERT_EQ(o.faults.size(), 3u);
    EXPECT_EQ(o.faults[0].first, Fault::BadCrc);
    EXPECT_EQ(o.faults[0].second, FaultMode::WithProbability(0.25));
    EXPECT_EQ(o.faults[1].first, Fault::Silence);
    EXPECT_EQ(o.faults[1].second, FaultMode::Next(3));
    EXPECT_EQ(o.faults[2].second, FaultMode::Always());
    ASSERT_EQ(o.refusals.size(), 2u);
    EXPECT_EQ(o.refusals[0].first, 0x1000u);
    EXPECT_EQ(o.refusals[1].first, 0x300000u);
    EXPECT_EQ(o.refusals[1].count, 16u);
    EXPECT_EQ(o.refusals[1].code, 7);
}

class BadUsage : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(BadUsage, IsRefusedWithAReason) {
    ProgramOptions o;
    std::string error;
    EXPECT_FALSE(Parse(GetParam(), o, error));
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadUsage,
    ::testing::Values(
        std::vector<std::string>{"--port", "COM0"}, std::vector<std::string>{"--port", "COM20"},
        std::vector<std::string>{"--port", "ttyS0"}, std::vector<std::string>{"--baud"},
        std::vector<std::string>{"--baud", "-5"}, std::vector<std::string>{"--baud", "96OO"},
        std::vector<std::string>{"--fault", "smoke"},
        std::vector<std::string>{"--fault", "crc=1.5"},
        std::vector<std::string>{"--fault", "crc:0"},
        std::vector<std::string>{"--fault", "crc=0.5:2"},
        std::vector<std::string>{"--scenario", "nonsense"},
        std::vector<std::string>{"--end", "32.01.2013 10:00"},
        std::vector<std::string>{"--end", "12.03.2013"},
        std::vector<std::string>{"--end", "12.03.1999 10:00"},
        std::vector<std::string>{"--image", "a", "--scenario", "empty"},
        std::vector<std::string>{"--no-serve"}, std::vector<std::string>{"--refuse-cell", "5"},
        std::vector<std::string>{"--refuse", "0x380000"},
        std::vector<std::string>{"--refuse", "0x10:1:0"}, std::vector<std::string>{"--what"}));

TEST(CommandLine, DateTimeText) {
    TDateTime t = 0;
    ASSERT_TRUE(ParseDateTimeText("01.02.2014 03:04:05", t));
    EXPECT_EQ(t, EncodeDateTime(2014, 2, 1, 3, 4, 5));
    EXPECT_FALSE(ParseDateTimeText("01.02.2014 03:04 x", t));
    EXPECT_FALSE(ParseDateTimeText("29.02.2013 03:04", t));
}

}  // namespace
