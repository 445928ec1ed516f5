// The link end to end: the real port on a pseudo-terminal, the exchange and the codec, against
// the virtual instrument.
#include <gtest/gtest.h>

#include <sys/file.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "flash_image.h"
#include "frame/my_exception.h"
#include "frame/ui_call.h"
#include "link/master_slave_io.h"
#include "link/rs232_port.h"
#include "link/zelmar_adpt.h"
#include "simulator.h"
#include "support/test_support.h"
#include "transfer/transfer_control.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zelmar::sim::Fault;
using zelmar::sim::FaultMode;

zelmar::sim::FlashImage TestImage() {
    zelmar::sim::FlashImage image;
    for (uint32_t i = 0; i < 32; ++i) image.SetByte(0x4000 + i, static_cast<uint8_t>(i * 7));
    return image;
}

class LinkOverPty : public ::testing::Test {
protected:
    LinkOverPty() : home_("link-pty") {
        ModuleImpl::Create();
        ::setenv("ZELMAR_PORTS_DIR", home_.Dir().c_str(), 1);
        sim_ = std::make_unique<zelmar::sim::Simulator>(TestImage());
        sim_->Start();
        settings.writeDelayMs = 0;
        settings.answerTimeoutMs = 300;
        settings.charWaitMs = 10;
        link.SetPort(&port);
    }
    ~LinkOverPty() override {
        port.Close();
        sim_.reset();
        ::unsetenv("ZELMAR_PORTS_DIR");
    }

    std::string ErrorOfRead() {
        try {
            adapter.Request(0x42, {0x00, 0x40, 0x00, 0x07});
        } catch (const MyExceptionPtr& e) {
            return e->GetMsg();
        }
        return "<no error>";
    }

    test::ScopedHome home_;
    std::unique_ptr<zelmar::sim::Simulator> sim_;
    my::RS232::Port port;
    MasterSlaveIOSettings settings;
    MasterSlaveIOImpl link{settings};
    ZelmarAdpt adapter{link};
};

TEST_F(LinkOverPty, WorkedFramesGoOnTheWireByteForByte) {
    adapter.Request(0x42, {0x00, 0x40, 0x00, 0x07});
    EXPECT_EQ(sim_->LastRequest(), (Bytes{0xA5, 0xA0, 0x09, 0x00, 0x42, 0x00, 0x40, 0x00, 0x07, 0x2E, 0x09}));
    ASSERT_EQ(adapter.AnswerSize(), 8u);
    EXPECT_EQ(Bytes(adapter.AnswerData(), adapter.AnswerData() + 8), (Bytes{0, 7, 14, 21, 28, 35, 42, 49}));
    EXPECT_EQ(link.RxdSize(), 14u);
    adapter.Request(0x33, {0x12, 0x34, 0x56});
    EXPECT_EQ(sim_->LastRequest(), (Bytes{0xA5, 0xA0, 0x08, 0x01, 0x33, 0x12, 0x34, 0x56, 0x24, 0x26}));
    EXPECT_EQ(Bytes(link.Rxd(), link.Rxd() + link.RxdSize()), (Bytes{0x5A, 0x50, 0x05, 0x01, 0x00, 0x0F, 0xA8}));
    adapter.Request(0x35, {0x13, 0x03, 0x12});
    EXPECT_EQ(sim_->LastRequest(), (Bytes{0xA5, 0xA0, 0x08, 0x02, 0x35, 0x13, 0x03, 0x12, 0x4E, 0x1F}));
    const DateParts d = DecodeDate(sim_->InstrumentNow());
    EXPECT_EQ(d.year, 2013);
    EXPECT_EQ(d.month, 3);
    EXPECT_EQ(d.day, 12);
}

TEST_F(LinkOverPty, RequestNumber255IsFollowedBy0) {
    for (int i = 0; i < 256; ++i) adapter.Request(0x42, {0x00, 0x40, 0x00, 0x01});
    EXPECT_EQ(sim_->LastRequest()[3], 255);
    adapter.Request(0x42, {0x00, 0x40, 0x00, 0x01});
    EXPECT_EQ(sim_->LastRequest()[3], 0);
}

TEST_F(LinkOverPty, ASilentInstrumentIsAskedThreeTimesThenReportedMissing) {
    settings.retryCount = 3;
    settings.answerTimeoutMs = 80;
    settings.showPackets = true;
    sim_->SetFault(Fault::Silence, FaultMode::Always());
    test::ConsoleCapture cap;
    EXPECT_EQ(ErrorOfRead(), "COM1 9600 не отвечает!");
    EXPECT_EQ(sim_->RequestCount(0x42), 3u);
    const std::string text = cap.Text();
    size_t at = 0;
    for (const char* piece : {" Таймаут 1. Повтор №1 из 3.\n", " Таймаут 2. Повтор №2 из 3.\n",
                              " Таймаут 3. нет ответа!\n"}) {
        const size_t hit = text.find(piece, at);
        ASSERT_NE(hit, std::string::npos) << piece << "\n" << text;
        at = hit;
    }
}

TEST_F(LinkOverPty, AnAnswerSplitCloserThanTheCharacterWaitIsOneAnswer) {
    settings.charWaitMs = 30;
    sim_->SetSplitGapMs(8);
    sim_->SetFault(Fault::Split, FaultMode::Next(1));
    EXPECT_EQ(ErrorOfRead(), "<no error>");
    EXPECT_EQ(adapter.AnswerSize(), 8u);

    // A gap longer than the character wait ends the answer after its first part.
    settings.charWaitMs = 5;
    sim_->SetSplitGapMs(60);
    sim_->SetFault(Fault::Split, FaultMode::Next(1));
    EXPECT_NE(ErrorOfRead(), "<no error>");
    // The purge at the next send discards the rest.
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    EXPECT_EQ(ErrorOfRead(), "<no error>");
}

TEST_F(LinkOverPty, EveryAnswerFaultHasItsMessage) {
    struct Case {
        Fault fault;
        std::string prefix;
    } cases[] = {
        {Fault::Truncate, "несовпадение длины ответа 11!=12"},
        {Fault::Garbage, "несовпадение маркера 0x5A5х!"},
        {Fault::WrongNumber, "несовпадение номера комманд запроса"},
        {Fault::BadCrc, "несовпадение CRC ответа"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(zelmar::sim::FaultName(c.fault));
        sim_->SetFault(c.fault, FaultMode::Next(1));
        const std::string err = ErrorOfRead();
        EXPECT_EQ(err.rfind(c.prefix, 0), 0u) << err;
    }
    sim_->RefuseReads({0x4000, 8, 3});
    EXPECT_EQ(ErrorOfRead(), "Прибор вернул код ошибки 3");
    sim_->ClearRefusals();
    EXPECT_EQ(ErrorOfRead(), "<no error>");
}

TEST_F(LinkOverPty, AStopEndsTheCollectingAtOnceOffTheCreatorThread) {
    test::TestControl control;
    test::ScopedTransferControl scoped(&control);
    settings.answerTimeoutMs = 600000;  // without the stop the worker would wait ten minutes
    sim_->SetFault(Fault::Silence, FaultMode::Always());
    std::string err;
    std::thread worker([&] { err = ErrorOfRead(); });
    ASSERT_TRUE(sim_->WaitForFrames(1, std::chrono::milliseconds(2000)));
    control.stop = true;
    worker.join();
    // Nothing came: the no-answer error, at once.
    EXPECT_EQ(err, "COM1 9600 не отвечает!");
    // The next request sends nothing while the stop holds; the codec returns without checking.
    const uint64_t frames = sim_->Counters().frames;
    std::thread again([&] { err = ErrorOfRead(); });
    again.join();
    EXPECT_EQ(err, "<no error>");
    EXPECT_EQ(sim_->Counters().frames, frames);
}

TEST_F(LinkOverPty, ABusyPortIsReportedAndFreedForALaterOpen) {
    port.Open();
    my::RS232::Port other;
    try {
        other.Open();
        FAIL() << "opened a busy port";
    } catch (const MyExceptionPtr& e) {
        EXPECT_NE(e->GetMsg().find("Порт COM1 занят!"), std::string::npos) << e->GetMsg();
    }
    EXPECT_FALSE(other.IsOpen());
    port.Close();
    other.Open();
    EXPECT_TRUE(other.IsOpen());
}

TEST_F(LinkOverPty, AVanishedDeviceGivesAClearErrorAndTheLinkComesBack) {
    EXPECT_EQ(ErrorOfRead(), "<no error>");
    sim_->Vanish();
    const std::string err = ErrorOfRead();
    EXPECT_NE(err, "<no error>");
    EXPECT_NE(err.find("::"), std::string::npos) << err;  // names the failing system call
    port.Close();
    sim_->Rebind();
    EXPECT_EQ(ErrorOfRead(), "<no error>");
}

}  // namespace
