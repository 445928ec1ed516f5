#include "simulator.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <thread>

#include "frame/my_exception.h"
#include "link/port_names.h"
#include "pty_client.h"
#include "support/test_support.h"

using namespace zelmar::sim;
using namespace simtest;
using std::chrono::milliseconds;

namespace {

// A recognisable image: byte i of the first 64 KiB holds i mod 251.
FlashImage PatternImage() {
    FlashImage im;
    for (uint32_t a = 0; a < 0x10000; ++a) im.SetByte(a, static_cast<uint8_t>(a % 251));
    return im;
}

Bytes ImageBytes(const FlashImage& im, uint32_t addr, uint32_t count) {
    Bytes b(count);
    im.Read(addr, b.data(), count);
    return b;
}

bool IsCharDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

class SimulatorTest : public ::testing::Test {
  protected:
    void SetUp() override { StartWith(SimulatorOptions{}); }

    void StartWith(SimulatorOptions o) {
        client_.reset();
        sim_.reset();
        if (dir_.empty()) dir_ = test::MakeTempDir("sim");
        o.portsFolder = dir_;
        sim_ = std::make_unique<Simulator>(image_, o);
        sim_->Start();
        client_ = std::make_unique<PortClient>(sim_->LinkPath());
        ASSERT_TRUE(client_->IsOpen());
    }

    Bytes Exchange(const Bytes& request) { return client_->Exchange(request); }

    FlashImage image_ = PatternImage();
    std::string dir_;
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<PortClient> client_;
};

TEST_F(SimulatorTest, BindsTheLinkToAPseudoTerminal) {
    EXPECT_EQ(sim_->LinkPath(), dir_ + "/COM1");
    EXPECT_TRUE(IsCharDevice(sim_->LinkPath()));
    EXPECT_EQ(sim_->SlavePath().rfind("/dev/pts/", 0), 0u);
    // The ports folder rule points at the same link.
    ::setenv("ZELMAR_PORTS_DIR", dir_.c_str(), 1);
    EXPECT_TRUE(IsPortPresent("COM1"));
    ::unsetenv("ZELMAR_PORTS_DIR");
}

TEST_F(SimulatorTest, AnswersTheWorkedReadFrame) {
    const Bytes answer =
        Exchange({0xA5, 0xA0, 0x09, 0x00, 0x42, 0x00, 0x40, 0x00, 0x07, 0x2E, 0x09});
    EXPECT_EQ(answer, MakeAnswer(0, ImageBytes(image_, 0x4000, 8)));
    ASSERT_EQ(answer.size(), 14u);
    EXPECT_EQ(answer[2], 12);
    EXPECT_TRUE(CrcOk(answer));
    EXPECT_EQ(sim_->RequestCount(0x42), 1u);
    EXPECT_EQ(sim_->ReadCount(0x4000), 1u);
    EXPECT_EQ(sim_->LastRequest(), MakeRead(0, 0x4000, 8));
}

TEST_F(SimulatorTest, ReadsOfEveryAllowedSize) {
    for (uint32_t count : {2u, 17u, 32u}) {
        const uint32_t addr = 0x1234 + count;
        EXPECT_EQ(Exchange(MakeRead(static_cast<uint8_t>(count), addr, count)),
                  MakeAnswer(static_cast<uint8_t>(count), ImageBytes(image_, addr, count)))
            << count;
    }
    // The last 32 bytes of the image are readable.
    EXPECT_EQ(Exchange(MakeRead(9, flash::kSize - 32, 32)),
              MakeAnswer(9, ImageBytes(image_, flash::kSize - 32, 32)));
}

TEST_F(SimulatorTest, SetTimeAndDateAreKept) {
    EXPECT_EQ(Exchange({0xA5, 0xA0, 0x08, 0x01, 0x33, 0x12, 0x34, 0x56, 0x24, 0x26}),
              Bytes({0x5A, 0x50, 0x05, 0x01, 0x00, 0x0F, 0xA8}));
    EXPECT_EQ(Exchange({0xA5, 0xA0, 0x08, 0x02, 0x35, 0x13, 0x03, 0x12, 0x4E, 0x1F}),
              MakeAnswer(2, {0x00}));
    const TDateTime expected = EncodeDateTime(2013, 3, 12, 12, 34, 56);
    // A second of slack for the exchanges themselves.
    EXPECT_NEAR((sim_->InstrumentNow() - expected) * 86400.0, 0.5, 1.5);
    EXPECT_NE(sim_->ClockOffsetMs(), 0);
    // The clock runs on from the value set.
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_GE((sim_->InstrumentNow() - expected) * 86400.0, 0.3);
}

struct RefusalCase {
    const char* name;
    Bytes request;  // request number 5
    uint8_t status;
};

class Refusals : public SimulatorTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusals, AnswerWithAnErrorCode) {
    const TDateTime before = sim_->InstrumentNow();
    EXPECT_EQ(Exchange(GetParam().request), MakeAnswer(5, {GetParam().status}));
    EXPECT_EQ(sim_->Counters().errorAnswers, 1u);
    // A refused clock value leaves the clock alone.
    EXPECT_LT(std::fabs(sim_->InstrumentNow() - before) * 86400.0, 2.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Refusals,
    ::testing::Values(
        RefusalCase{"count_1", MakeRead(5, 0x100, 1), kStatusBadRead},
        RefusalCase{"count_33", MakeRead(5, 0x100, 33), kStatusBadRead},
        RefusalCase{"past_the_end", MakeRead(5, flash::kSize - 16, 32), kStatusBadRead},
        RefusalCase{"start_past_the_end", MakeRead(5, 0xFFFFF0, 4), kStatusBadRead},
        RefusalCase{"read_payload_short", MakeRequest(5, 0x42, {0x00, 0x40, 0x00}),
                    kStatusBadPayload},
        RefusalCase{"hour_25", MakeRequest(5, 0x33, {0x25, 0x00, 0x00}), kStatusBadValue},
        RefusalCase{"minute_not_bcd", MakeRequest(5, 0x33, {0x12, 0x1A, 0x00}), kStatusBadValue},
        RefusalCase{"day_30_feb", MakeRequest(5, 0x35, {0x13, 0x02, 0x30}), kStatusBadValue},
        RefusalCase{"month_13", MakeRequest(5, 0x35, {0x13, 0x13, 0x01}), kStatusBadValue},
        RefusalCase{"date_payload_long", MakeRequest(5, 0x35, {0x13, 0x03, 0x12, 0x00}),
                    kStatusBadPayload}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimulatorTest, RefusedRangeGetsItsErrorCode) {
    sim_->RefuseReads({0x1000, 1, 6});
    EXPECT_EQ(Exchange(MakeRead(1, 0x1000, 2)), MakeAnswer(1, {0x06}));
    // Touching the range from below counts too; reads beside it do not.
    EXPECT_EQ(Exchange(MakeRead(2, 0x0FF0, 32)), MakeAnswer(2, {0x06}));
    EXPECT_EQ(Exchange(MakeRead(3, 0x1002, 2)), MakeAnswer(3, ImageBytes(image_, 0x1002, 2)));
    EXPECT_EQ(Exchange(MakeRead(4, 0x0FFE, 2)), MakeAnswer(4, ImageBytes(image_, 0x0FFE, 2)));
    sim_->ClearRefusals();
    EXPECT_EQ(Exchange(MakeRead(5, 0x1000, 2)), MakeAnswer(5, ImageBytes(image_, 0x1000, 2)));
    EXPECT_EQ(sim_->Counters().errorAnswers, 2u);
}

TEST_F(SimulatorTest, BadFramesGetNoAnswerAndAreCounted) {
    Bytes badCrc = MakeRead(0, 0x4000, 8);
    badCrc[9] ^= 0x01;
    EXPECT_TRUE(Exchange(badCrc).empty());
    EXPECT_TRUE(Exchange(MakeRequest(1, 0x77, {0x01})).empty());  // unknown command
    ASSERT_TRUE(sim_->WaitForFrames(2, milliseconds(1000)));
    const SimulatorCounters c = sim_->Counters();
    EXPECT_EQ(c.badFrames, 2u);
    EXPECT_EQ(c.frames, 0u);
    EXPECT_EQ(c.answers, 0u);
    EXPECT_EQ(c.byCommand.at(0x77), 1u);
    // The line still works.
    EXPECT_EQ(Exchange(MakeRead(2, 0x10, 2)), MakeAnswer(2, ImageBytes(image_, 0x10, 2)));
}

TEST_F(SimulatorTest, GarbageBeforeARequestAndARequestInTwoPieces) {
    Bytes noisy = {0x00, 0xFF, 0x5A};
    const Bytes r = MakeRead(3, 0x20, 4);
    noisy.insert(noisy.end(), r.begin(), r.end());
    EXPECT_EQ(Exchange(noisy), MakeAnswer(3, ImageBytes(image_, 0x20, 4)));
    EXPECT_EQ(sim_->Counters().skippedBytes, 3u);

    const Bytes r2 = MakeRead(4, 0x30, 4);
    client_->Write(Bytes(r2.begin(), r2.begin() + 5));
    std::this_thread::sleep_for(milliseconds(20));
    const ssize_t n = ::write(client_->Fd(), r2.data() + 5, r2.size() - 5);
    ASSERT_EQ(n, static_cast<ssize_t>(r2.size() - 5));
    EXPECT_EQ(client_->ReadAnswer(), MakeAnswer(4, ImageBytes(image_, 0x30, 4)));
}

TEST_F(SimulatorTest, CountsReadsByAddress) {
    const uint32_t addrs[] = {0x300000, 0x300010, 0x300020, 0x300010};
    uint8_t num = 0;
    for (uint32_t a : addrs) ASSERT_EQ(Exchange(MakeRead(num++, a, 16)).size(), 22u);
    EXPECT_EQ(sim_->ReadCount(0x300000), 1u);
    EXPECT_EQ(sim_->ReadCount(0x300010), 2u);
    EXPECT_EQ(sim_->ReadCount(0x300030), 0u);
    EXPECT_EQ(sim_->RequestCount(0x42), 4u);
    sim_->ResetCounters();
    EXPECT_EQ(sim_->ReadCount(0x300010), 0u);
}

// Each fault, switched on for the next request, as the master sees it on the line.
struct FaultCase {
    Fault fault;
    // Checks the bytes received against the correct answer.
    void (*check)(const std::vector<Chunk>& chunks, const Bytes& correct);
};

Bytes Join(const std::vector<Chunk>& chunks) {
    Bytes b;
    for (const Chunk& c : chunks) b.insert(b.end(), c.bytes.begin(), c.bytes.end());
    return b;
}

class Faults : public SimulatorTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(Faults, AreVisibleOnTheWireForOneRequestOnly) {
    sim_->SetSplitGapMs(120);
    sim_->SetTruncateBytes(3);
    sim_->SetGarbageBytes(4);
    sim_->SetFault(GetParam().fault, FaultMode::Next(1));
    const Bytes request = MakeRead(7, 0x4000, 8);
    const Bytes correct = MakeAnswer(7, ImageBytes(image_, 0x4000, 8));
    client_->Write(request);
    GetParam().check(client_->ReadChunks(milliseconds(250)), correct);
    EXPECT_EQ(sim_->Counters().faultsFired[static_cast<size_t>(GetParam().fault)], 1u);
    // The next request is answered properly.
    EXPECT_EQ(Exchange(MakeRead(8, 0x4000, 8)), MakeAnswer(8, ImageBytes(image_, 0x4000, 8)));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Faults,
    ::testing::Values(FaultCase{Fault::Silence, [](const std::vector<Chunk>& c,
                                                   const Bytes&) { EXPECT_TRUE(c.empty()); }},
                      FaultCase{Fault::BadCrc,
                                [](const std::vector<Chunk>& c, const Bytes& ok) {
                                    const Bytes b = Join(c);
                                    ASSERT_EQ(b.size(), ok.size());
                                    EXPECT_FALSE(CrcOk(b));
                                    EXPECT_EQ(Bytes(b.begin(), b.end() - 2),
                                              Bytes(ok.begin(), ok.end() - 2));
                                }},
                      FaultCase{Fault::Truncate,
                                [](const std::vector<Chunk>& c, const Bytes& ok) {
                                    EXPECT_EQ(Join(c), Bytes(ok.begin(), ok.end() - 3));
                                }},
                      FaultCase{Fault::Split,
                                [](const std::vector<Chunk>& c, const Bytes& ok) {
                                    EXPECT_EQ(Join(c), ok);
                                    ASSERT_GE(c.size(), 2u);
                                    milliseconds longest(0);
                                    for (size_t i = 1; i < c.size(); ++i)
                                        longest = std::max(longest,
                                                           std::chrono::duration_cast<milliseconds>(
                                                               c[i].at - c[i - 1].at));
                                    // Longer than a char wait of 10 ms by far.
                                    EXPECT_GE(longest.count(), 90);
                                }},
                      FaultCase{Fault::Garbage,
                                [](const std::vector<Chunk>& c, const Bytes& ok) {
                                    const Bytes b = Join(c);
                                    ASSERT_EQ(b.size(), ok.size() + 4);
                                    EXPECT_EQ(Bytes(b.begin() + 4, b.end()), ok);
                                    EXPECT_NE(b[0], 0x5A);
                                }},
                      FaultCase{Fault::WrongNumber,
                                [](const std::vector<Chunk>& c, const Bytes& ok) {
                                    const Bytes b = Join(c);
                                    ASSERT_EQ(b.size(), ok.size());
                                    EXPECT_EQ(b[3], ok[3] + 1);
                                    EXPECT_TRUE(CrcOk(b));
                                }}),
    [](const auto& info) { return std::string(FaultName(info.param.fault)); });

TEST_F(SimulatorTest, SilenceForTheNextTwoRequests) {
    sim_->SetFault(Fault::Silence, FaultMode::Next(2));
    EXPECT_TRUE(Exchange(MakeRead(0, 0x10, 2)).empty());
    EXPECT_TRUE(Exchange(MakeRead(1, 0x10, 2)).empty());
    EXPECT_EQ(Exchange(MakeRead(2, 0x10, 2)).size(), 8u);
    EXPECT_EQ(sim_->Counters().silenced, 2u);
    EXPECT_EQ(sim_->GetFault(Fault::Silence), FaultMode::Off());
}

TEST_F(SimulatorTest, ErrorAnswersCanBeFaultyToo) {
    sim_->RefuseReads({0x0, 1, 1});
    sim_->SetFault(Fault::WrongNumber, FaultMode::Always());
    const Bytes b = Exchange(MakeRead(4, 0x0, 2));
    EXPECT_EQ(b, MakeAnswer(5, {0x01}));
}

TEST_F(SimulatorTest, ByteTimingFollowsTheBaudRate) {
    // Figures are the benchmark's; here only that the wire time is there, roughly.
    StartWith([] {
        SimulatorOptions o;
        o.baud = 9600;
        return o;
    }());
    const Bytes request = MakeRead(0, 0x100, 32);  // 11 bytes out, 38 back
    client_->Write(request);
    Clock::time_point last;
    const Bytes b = client_->ReadExactly(38, last);
    ASSERT_EQ(b, MakeAnswer(0, ImageBytes(image_, 0x100, 32)));
    const double ms = std::chrono::duration<double, std::milli>(last - client_->SentAt()).count();
    const double expected = (11 + 38) * 10.0 / 9600 * 1000;
    EXPECT_GT(ms, 0.8 * expected);
    EXPECT_LT(ms, 1.5 * expected);

    // The turnaround latency comes on top.
    sim_->SetLatencyMs(100);
    client_->Write(MakeRead(1, 0x100, 32));
    const Bytes b2 = client_->ReadExactly(38, last);
    ASSERT_EQ(b2.size(), 38u);
    const double ms2 = std::chrono::duration<double, std::milli>(last - client_->SentAt()).count();
    EXPECT_GT(ms2, 0.8 * (expected + 100));
    EXPECT_LT(ms2, 1.5 * (expected + 100));
}

TEST_F(SimulatorTest, VanishThenRebind) {
    sim_->Vanish();
    EXPECT_TRUE(sim_->IsVanished());
    pollfd p{client_->Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    uint8_t byte;
    errno = 0;
    const ssize_t n = ::read(client_->Fd(), &byte, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << n << " " << errno;
    client_.reset();
    EXPECT_FALSE(IsCharDevice(sim_->LinkPath()));
    // Requests meanwhile are nobody's; the simulator keeps serving after the rebind.
    sim_->Rebind();
    EXPECT_FALSE(sim_->IsVanished());
    EXPECT_TRUE(IsCharDevice(sim_->LinkPath()));
    client_ = std::make_unique<PortClient>(sim_->LinkPath());
    ASSERT_TRUE(client_->IsOpen());
    EXPECT_EQ(Exchange(MakeRead(0, 0x40, 2)), MakeAnswer(0, ImageBytes(image_, 0x40, 2)));
}

TEST_F(SimulatorTest, StopRemovesTheLinkAndAStaleLinkIsReplaced) {
    const std::string link = sim_->LinkPath();
    client_.reset();
    sim_->Stop();
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);
    sim_->Stop();  // twice is harmless

    // A link left by a simulator that died.
    ASSERT_EQ(::symlink("/dev/pts/987654", link.c_str()), 0);
    SimulatorOptions o;
    o.portsFolder = dir_;
    Simulator again(image_, o);
    again.Start();
    EXPECT_TRUE(IsCharDevice(link));
    EXPECT_EQ(again.SlavePath().rfind("/dev/pts/", 0), 0u);
}

TEST_F(SimulatorTest, RefusesAPortThatIsTakenAndLeavesItAlone) {
    SimulatorOptions o;
    o.portsFolder = dir_;
    Simulator second(image_, o);
    try {
        second.Start();
        FAIL() << "a second simulator on the same port started";
    } catch (const MyExceptionPtr& e) {
        EXPECT_NE(e->GetMsg().find("COM1"), std::string::npos) << e->GetMsg();
    }
    EXPECT_EQ(Exchange(MakeRead(0, 0x40, 2)).size(), 8u);

    // A port bound to something that is not ours.
    const std::string com2 = dir_ + "/COM2";
    ASSERT_EQ(::symlink("/dev/null", com2.c_str()), 0);
    o.portName = "COM2";
    Simulator third(image_, o);
    try {
        third.Start();
        FAIL() << "took over a foreign link";
    } catch (const MyExceptionPtr& e) {
        EXPECT_NE(e->GetMsg().find("COM2"), std::string::npos) << e->GetMsg();
    }
    std::string target(64, '\0');
    target.resize(static_cast<size_t>(::readlink(com2.c_str(), target.data(), target.size())));
    EXPECT_EQ(target, "/dev/null");
    EXPECT_FALSE(third.IsRunning());
}

TEST_F(SimulatorTest, VerboseLogsRequestsAndAnswers) {
    std::vector<std::string> lines;
    std::mutex m;
    SimulatorOptions o;
    o.verbose = true;
    o.portsFolder = dir_;
    client_.reset();
    sim_.reset();
    sim_ = std::make_unique<Simulator>(image_, o);
    sim_->SetLogSink([&](const std::string& l) {
        std::lock_guard lock(m);
        lines.push_back(l);
    });
    sim_->Start();
    client_ = std::make_unique<PortClient>(sim_->LinkPath());
    ASSERT_EQ(Exchange({0xA5, 0xA0, 0x08, 0x01, 0x33, 0x12, 0x34, 0x56, 0x24, 0x26}).size(), 7u);
    sim_->SetFault(Fault::BadCrc, FaultMode::Next(1));
    ASSERT_EQ(Exchange(MakeRead(2, 0x10, 2)).size(), 8u);
    sim_->Stop();
    std::lock_guard lock(m);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines[0].find("A5 A0 08 01 33 12 34 56 24 26"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("5A 50 05 01 00 0F A8"), std::string::npos) << lines[1];
    // Starts with the time of day.
    EXPECT_EQ(lines[0][2], ':');
    // The trace says which fault hit an answer.
    ASSERT_GE(lines.size(), 4u);
    EXPECT_NE(lines[3].find("crc"), std::string::npos) << lines[3];
}

TEST_F(SimulatorTest, LiveRecordsFollowTheClockTheToolSet) {
    Scenario sc = RealisticScenario(EncodeDateTime(2013, 3, 12, 10, 0));
    client_.reset();
    sim_.reset();
    SimulatorOptions o;
    o.portsFolder = dir_;
    sim_ = std::make_unique<Simulator>(BuildImage(sc), o);
    sim_->Start();
    client_ = std::make_unique<PortClient>(sim_->LinkPath());
    // Just before a new hour of a day long past.
    ASSERT_EQ(Exchange(MakeRequest(0, 0x33, {0x16, 0x59, 0x59})), MakeAnswer(0, {0x00}));
    ASSERT_EQ(Exchange(MakeRequest(1, 0x35, {0x14, 0x07, 0x01})), MakeAnswer(1, {0x00}));
    sim_->SetLive(true);
    const uint32_t d = flash::DescriptorSlotAddr(sc.descriptor.areaSlot);
    const uint32_t firstFree = flash::MinuteSlotAddr(sc.minute.count);
    const Clock::time_point end = Clock::now() + milliseconds(4000);
    while (sim_->Image().Long(d) == firstFree && Clock::now() < end)
        std::this_thread::sleep_for(milliseconds(50));
    sim_->SetLive(false);
    // The new record and the moved descriptor, read over the line.
    const Bytes desc = Exchange(MakeRead(2, d, 8));
    ASSERT_EQ(desc.size(), 14u);
    EXPECT_EQ(
        Bytes(desc.begin() + 4, desc.begin() + 8),
        Bytes({0x00, static_cast<uint8_t>((firstFree + 32) >> 16),
               static_cast<uint8_t>((firstFree + 32) >> 8), static_cast<uint8_t>(firstFree + 32)}));
    const Bytes rec = Exchange(MakeRead(3, firstFree, 8));
    ASSERT_EQ(rec.size(), 14u);
    EXPECT_EQ(Bytes(rec.begin() + 4, rec.begin() + 9), Bytes({0x14, 0x07, 0x01, 0x17, 0x00}));
}

}  // namespace
