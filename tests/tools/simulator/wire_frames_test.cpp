#include "wire_frames.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "faults.h"
#include "link/crc16.h"

using namespace zelmar::sim;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

const Bytes kRead8At4000 = {0xA5, 0xA0, 0x09, 0x00, 0x42, 0x00, 0x40, 0x00, 0x07, 0x2E, 0x09};
const Bytes kSetTime = {0xA5, 0xA0, 0x08, 0x01, 0x33, 0x12, 0x34, 0x56, 0x24, 0x26};
const Bytes kSetDate = {0xA5, 0xA0, 0x08, 0x02, 0x35, 0x13, 0x03, 0x12, 0x4E, 0x1F};

TEST(WireFrames, BuildsTheWorkedFrames) {
    EXPECT_EQ(BuildReadRequest(0, 0x4000, 8), kRead8At4000);
    EXPECT_EQ(BuildRequest(1, kCmdSetTime, {0x12, 0x34, 0x56}), kSetTime);
    EXPECT_EQ(BuildRequest(2, kCmdSetDate, {0x13, 0x03, 0x12}), kSetDate);
    EXPECT_EQ(BuildStatusAnswer(1, 0), Bytes({0x5A, 0x50, 0x05, 0x01, 0x00, 0x0F, 0xA8}));
}

TEST(WireFrames, ReadAnswerLayout) {
    const uint8_t data[4] = {1, 2, 3, 4};
    const Bytes a = BuildAnswer(7, data, 4);
    ASSERT_EQ(a.size(), 10u);
    EXPECT_EQ(a[0], 0x5A);
    EXPECT_EQ(a[1] >> 4, 5);
    EXPECT_EQ(a[2], a.size() - 2);
    EXPECT_EQ(a[3], 7);
    EXPECT_EQ(Bytes(a.begin() + 4, a.end() - 2), Bytes({1, 2, 3, 4}));
    const uint16_t crc = Crc16(a.data(), 8);
    EXPECT_EQ(a[8], crc >> 8);
    EXPECT_EQ(a[9], crc & 0xFF);
    EXPECT_TRUE(FrameCrcOk(a));
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct StreamCase {
    const char* name;
    Bytes stream;
    std::vector<Bytes> frames;  // expected, in order
    int badFrames;
    uint64_t skipped;
};

class Assembler : public ::testing::TestWithParam<StreamCase> {};

TEST_P(Assembler, FindsTheFramesInTheStream) {
    const StreamCase& c = GetParam();
    RequestAssembler as;
    std::vector<Bytes> frames;
    int bad = 0;
    // Fed one byte at a time: the frames must come out the same as from one chunk.
    const auto t = Clock::now();
    for (uint8_t b : c.stream) {
        as.Feed(&b, 1, t);
        for (;;) {
            RequestAssembler::Result r = as.Next();
            if (r.outcome == RequestAssembler::Outcome::NeedMore) break;
            if (r.outcome == RequestAssembler::Outcome::Frame)
                frames.push_back(r.request.frame);
            else
                ++bad;
        }
    }
    EXPECT_EQ(frames, c.frames);
    EXPECT_EQ(bad, c.badFrames);
    EXPECT_EQ(as.SkippedBytes(), c.skipped);
}

Bytes WithBadCrc(Bytes f) {
    f.back() ^= 0x40;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Assembler,
    ::testing::Values(
        StreamCase{"plain", Concat({kRead8At4000, kSetTime}), {kRead8At4000, kSetTime}, 0, 0},
        StreamCase{
            "garbage_before", Concat({{0x00, 0x5A, 0xA0, 0xA5}, kSetDate}), {kSetDate}, 0, 4},
        StreamCase{"bad_crc_then_good", Concat({WithBadCrc(kSetTime), kSetDate}), {kSetDate}, 1, 9},
        // A frame that starts inside a rejected one is still found.
        StreamCase{"frame_inside_bad_length",
                   Concat({{0xA5, 0xA0, 0x02}, kRead8At4000}),
                   {kRead8At4000},
                   1,
                   2},
        StreamCase{"frame_inside_bad_crc",
                   Concat({{0xA5, 0xA0, 0x09, 0x00, 0x42}, kRead8At4000, {0, 0, 0, 0, 0, 0}}),
                   {kRead8At4000},
                   1,
                   10}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WireFrames, AStalledPartialFrameIsForgotten) {
    RequestAssembler as;
    const auto t0 = Clock::now();
    const Bytes stray = {0xA5, 0xA0, 0x30};  // claims 50 bytes
    as.Feed(stray.data(), stray.size(), t0);
    EXPECT_EQ(as.Next().outcome, RequestAssembler::Outcome::NeedMore);
    const auto t1 = t0 + RequestAssembler::kStaleAfter + std::chrono::milliseconds(1);
    as.Feed(kSetTime.data(), kSetTime.size(), t1);
    const RequestAssembler::Result r = as.Next();
    ASSERT_EQ(r.outcome, RequestAssembler::Outcome::Frame);
    EXPECT_EQ(r.request.frame, kSetTime);
    EXPECT_EQ(r.request.firstByteAt, t1);
    EXPECT_EQ(as.SkippedBytes(), 3u);
}

TEST(FaultSwitches, NextRequestsHitsExactlyN) {
    FaultSwitches f(1);
    f.Set(Fault::Truncate, FaultMode::Next(3));
    int hits = 0;
    for (int i = 0; i < 10; ++i) hits += f.Fire(Fault::Truncate);
    EXPECT_EQ(hits, 3);
    EXPECT_EQ(f.Get(Fault::Truncate), FaultMode::Off());
    EXPECT_FALSE(f.Fire(Fault::Silence));
}

TEST(FaultSwitches, ProbabilityFollowsTheSeed) {
    auto pattern = [](uint64_t seed) {
        FaultSwitches f(seed);
        f.Set(Fault::BadCrc, FaultMode::WithProbability(0.3));
        std::vector<bool> out;
        for (int i = 0; i < 2000; ++i) out.push_back(f.Fire(Fault::BadCrc));
        return out;
    };
    const std::vector<bool> a = pattern(7);
    EXPECT_EQ(a, pattern(7));
    EXPECT_NE(a, pattern(8));
    const auto hits = std::count(a.begin(), a.end(), true);
    EXPECT_GT(hits, 450);
    EXPECT_LT(hits, 750);

    FaultSwitches f(1);
    f.Set(Fault::Split, FaultMode::WithProbability(0.0));
    f.Set(Fault::Garbage, FaultMode::Always());
    for (int i = 0; i < 100; ++i) {
        EXPECT_FALSE(f.Fire(Fault::Split));
        EXPECT_TRUE(f.Fire(Fault::Garbage));
    }
}

TEST(FaultSwitches, NamesRoundTrip) {
    for (int i = 0; i < kFaultCount; ++i) {
        Fault f;
        ASSERT_TRUE(FaultFromName(FaultName(static_cast<Fault>(i)), f));
        EXPECT_EQ(static_cast<int>(f), i);
    }
    Fault f;
    EXPECT_FALSE(FaultFromName("CRC", f));
}

}  // namespace
