#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "core/link/pty_pair.h"
#include "link/rs232_port.h"
#include "support/test_support.h"

// How the read and write timeouts shape a read: only lower bounds of elapsed time are
// checked (a busy machine may make any wait longer, never shorter), and upper ones only
// where the alternative is a wait many times as long.
namespace {

using Clock = std::chrono::steady_clock;
using my::RS232::Port;
using std::chrono::milliseconds;
using test::Caught;

int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - t).count();
}

class Rs232TimeoutsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ports.Bind("COM1", pty.SlavePath());
        port.Open();
    }
    void SetTimeouts(const COMMTIMEOUTS& t) {
        PortSettings s = port.Settings();
        s.timeouts = t;
        port.ApplySettings(s);
    }
    // Sends bytes from the instrument's side after a pause, on its own thread.
    void SendLater(int afterMs, std::vector<uint8_t> bytes) {
        senders.emplace_back([this, afterMs, bytes] {
            std::this_thread::sleep_for(milliseconds(afterMs));
            pty.WriteMaster(bytes);
        });
    }
    void TearDown() override {
        for (auto& t : senders) t.join();
    }

    test::ScopedPortsFolder ports;
    test::PtyPair pty;
    Port port;
    std::vector<std::thread> senders;
    uint8_t buf[16] = {};
};

TEST_F(Rs232TimeoutsTest, IntervalMaxWithZeroTotalsReturnsWhatIsWaitingAtOnce) {
    SetTimeouts({MAXDWORD, 0, 0, 0, 0});
    EXPECT_EQ(port.Read(buf, sizeof buf), 0u);
    pty.WriteMaster({1, 2, 3});
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(port.Read(buf, sizeof buf), 3u);
    EXPECT_EQ(port.Read(buf, sizeof buf), 0u);
}

TEST_F(Rs232TimeoutsTest, TotalTimeoutIsMultiplierTimesCountPlusConstant) {
    SetTimeouts({0, 20, 100, 0, 0});
    auto start = Clock::now();
    EXPECT_EQ(port.Read(buf, 5), 0u);
    EXPECT_GE(MsSince(start), 200);

    pty.WriteMaster({1, 2, 3});
    start = Clock::now();
    EXPECT_EQ(port.Read(buf, 10), 3u);  // fewer than asked is no error
    EXPECT_GE(MsSince(start), 300);
}

TEST_F(Rs232TimeoutsTest, DefaultTimeoutsGiveUpOnSilence) {
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buf, 2), 0u);
    EXPECT_GE(MsSince(start), 50 * 2 + 100);
}

TEST_F(Rs232TimeoutsTest, IntervalTimeoutEndsAReadAfterAGap) {
    SetTimeouts({50, 0, 0, 0, 0});
    SendLater(20, {1, 2});
    SendLater(1500, {3, 4});
    // No total timeout: waits for the first byte, then ends at the first long gap.
    EXPECT_EQ(port.Read(buf, 4), 2u);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[1], 2);
}

TEST_F(Rs232TimeoutsTest, IntervalTimeoutGathersBytesArrivingCloseTogether) {
    SetTimeouts({3000, 0, 0, 0, 0});
    SendLater(10, {1, 2});
    SendLater(100, {3, 4});
    EXPECT_EQ(port.Read(buf, 4), 4u);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(Rs232TimeoutsTest, FirstByteModeReturnsOnTheFirstByteOrTheConstant) {
    SetTimeouts({MAXDWORD, MAXDWORD, 5000, 0, 0});
    SendLater(50, {9});
    auto start = Clock::now();
    EXPECT_EQ(port.Read(buf, sizeof buf), 1u);
    EXPECT_LT(MsSince(start), 5000);

    SetTimeouts({MAXDWORD, MAXDWORD, 100, 0, 0});
    start = Clock::now();
    EXPECT_EQ(port.Read(buf, sizeof buf), 0u);
    EXPECT_GE(MsSince(start), 100);
}

TEST_F(Rs232TimeoutsTest, DeviceVanishingDuringAWaitEndsTheRead) {
    SetTimeouts({0, 0, 0, 0, 0});  // would wait for ever for the bytes
    senders.emplace_back([this] {
        std::this_thread::sleep_for(milliseconds(100));
        pty.CloseMaster();
    });
    MyExceptionPtr e = Caught([&] { port.Read(buf, 4); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->GetMsg(), WindowsErrorText(EIO) + " ::ReadFile");
}

}  // namespace
