#include "link/master_slave_io.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/link/fake_port.h"
#include "frame/console.h"
#include "frame/ini_file.h"
#include "frame/my_exception.h"
#include "frame/ui_call.h"
#include "support/test_support.h"
#include "transfer/transfer_control.h"

namespace {

using test::FakePort;

using test::ScopedTransferControl;
using test::TestControl;

// Runs the exchange on a thread of its own, where a stop can cancel it; the error's message
// lands in msg.
std::thread TransferOffTheCreator(MasterSlaveIOImpl& link, const std::vector<uint8_t>& request,
                                  std::string& msg) {
    return std::thread([&link, &request, &msg] {
        msg = test::ErrorOf([&] { link.Transfer(request, true); });
    });
}

class ExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ModuleImpl::Create();
        settings.writeDelayMs = 0;
        settings.answerTimeoutMs = 60;
        settings.charWaitMs = 10;
    }
    MasterSlaveIOSettings settings;
    const std::vector<uint8_t> request = {0xA5, 0xA0, 0x05, 0x00, 0x42, 0x11, 0x22};
};

std::string ExpectNoAnswer(MasterSlaveIOImpl& link, const std::vector<uint8_t>& req) {
    try {
        link.Transfer(req, true);
    } catch (const MyExceptionPtr& e) {
        EXPECT_NE(dynamic_cast<MyNoAnswerException*>(e.get()), nullptr) << e->GetMsg();
        return e->GetMsg();
    }
    ADD_FAILURE() << "no exception";
    return "";
}

TEST_F(ExchangeTest, SilentInstrumentIsAskedRetryCountTimesWithTheTrace) {
    struct Case {
        int retryCount;
        int sends;
    };
    for (Case c : {Case{0, 1}, Case{1, 1}, Case{3, 3}}) {
        SCOPED_TRACE(c.retryCount);
        FakePort port;
        settings.retryCount = c.retryCount;
        settings.showPackets = true;
        MasterSlaveIOImpl link(settings);
        link.SetPort(&port);
        bool handlerCalled = false;
        link.SetNoAnswerHandler([&] { handlerCalled = true; });
        test::ConsoleCapture cap;
        EXPECT_EQ(ExpectNoAnswer(link, request), "COM1 9600 не отвечает!");
        EXPECT_EQ(port.writes, c.sends);
        EXPECT_EQ(port.purges, c.sends);
        EXPECT_TRUE(handlerCalled);
        const std::string text = cap.Text();
        if (c.retryCount == 3) {
            size_t at = 0;
            for (const char* piece :
                 {"Соединение с \"COM1 9600\" ....\n", "Соединение установлено.\n",
                  "txd:\n0000\tA5 A0 05 00 42 11 22 \n", " мсек  Таймаут 1. Повтор №1 из 3.\n",
                  "txd:\n", " мсек  Таймаут 2. Повтор №2 из 3.\n", "txd:\n",
                  " мсек  Таймаут 3. нет ответа!\n"}) {
                size_t hit = text.find(piece, at);
                ASSERT_NE(hit, std::string::npos) << piece << "\nin:\n" << text;
                at = hit + std::string(piece).size();
            }
            EXPECT_EQ(text.find("Повтор №3"), std::string::npos);
        }
    }
}

TEST_F(ExchangeTest, ChunksCloserThanTheCharacterWaitAreOneAnswer) {
    FakePort port([](const std::vector<uint8_t>&) {
        return std::vector<FakePort::Chunk>{{2, {1, 2, 3}}, {6, {4, 5}}};
    });
    settings.charWaitMs = 15;
    MasterSlaveIOImpl link(settings);
    link.SetPort(&port);
    link.Transfer(request, true);
    ASSERT_EQ(link.RxdSize(), 5u);
    EXPECT_EQ(std::vector<uint8_t>(link.Rxd(), link.Rxd() + 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST_F(ExchangeTest, AGapLongerThanTheCharacterWaitEndsTheAnswerAndThePurgeDropsTheRest) {
    FakePort port([](const std::vector<uint8_t>&) {
        return std::vector<FakePort::Chunk>{{2, {1, 2, 3}}, {45, {4, 5}}};
    });
    settings.charWaitMs = 5;
    settings.answerTimeoutMs = 200;
    MasterSlaveIOImpl link(settings);
    link.SetPort(&port);
    link.Transfer(request, true);
    EXPECT_EQ(link.RxdSize(), 3u);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    port.SetResponder([](const std::vector<uint8_t>&) {
        return std::vector<FakePort::Chunk>{{1, {9}}};
    });
    link.Transfer(request, true);
    ASSERT_EQ(link.RxdSize(), 1u);
    EXPECT_EQ(link.Rxd()[0], 9);
}

TEST_F(ExchangeTest, BytesOfTheLastAttemptAreKeptAfterItsTimeout) {
    // A character wait longer than the timeout: the pause after the last chunk already counts
    // as a timeout, with bytes in hand. Earlier attempts discard them by sending again; the
    // last attempt returns them.
    FakePort port([](const std::vector<uint8_t>&) {
        return std::vector<FakePort::Chunk>{{1, {1, 2}}, {4, {3}}};
    });
    settings.charWaitMs = 40;
    settings.answerTimeoutMs = 30;
    settings.retryCount = 2;
    settings.showPackets = true;
    MasterSlaveIOImpl link(settings);
    link.SetPort(&port);
    test::ConsoleCapture cap;
    link.Transfer(request, true);
    EXPECT_EQ(port.writes, 2);
    ASSERT_EQ(link.RxdSize(), 3u);
    const std::string text = cap.Text();
    EXPECT_NE(text.find(" Таймаут 1. Повтор №1 из 2.\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" Таймаут 2.rxd:\n0000\t01 02 03 \n"), std::string::npos) << text;
}

TEST_F(ExchangeTest, WithoutTraceOnlyTheConnectionLinesAppear) {
    FakePort port([](const std::vector<uint8_t>&) {
        return std::vector<FakePort::Chunk>{{1, {7, 7}}};
    });
    MasterSlaveIOImpl link(settings);
    link.SetPort(&port);
    test::ConsoleCapture cap;
    link.Transfer(request, true);
    link.Transfer(request, true);
    EXPECT_EQ(cap.Text(), "Соединение с \"COM1 9600\" ....\nСоединение установлено.\n");
    EXPECT_EQ(port.opens, 1);
}

TEST_F(ExchangeTest, SendWithoutAnswerOnlyWrites) {
    FakePort port;
    MasterSlaveIOImpl link(settings);
    link.SetPort(&port);
    link.Transfer(request, false);
    EXPECT_EQ(port.writes, 1);
    ASSERT_EQ(port.requests.size(), 1u);
    EXPECT_EQ(port.requests[0], request);
}

TEST_F(ExchangeTest, AFailedOpenPassesTheErrorOnAndLeavesThePortClosed) {
    FakePort port;
    port.FailOpen(true);
    settings.writeDelayMs = 0;
    MasterSlaveIOImpl link(settings);
    link.SetPort(&port);
    TestControl control;
    ScopedTransferControl scoped(&control);
    // Off the creator thread, so the pause after the failure goes through the stop-aware Wait.
    std::string msg;
    std::thread worker = TransferOffTheCreator(link, request, msg);
    worker.join();
    EXPECT_EQ(msg, "open refused");
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.writes, 0);
    EXPECT_GE(control.waits.load(), 1);
}

TEST_F(ExchangeTest, AStopBeforeTheExchangeSendsNothingAndKeepsThePreviousAnswer) {
    FakePort port([](const std::vector<uint8_t>&) {
        return std::vector<FakePort::Chunk>{{1, {1, 2}}};
    });
    MasterSlaveIOImpl link(settings);
    link.SetPort(&port);
    link.Transfer(request, true);
    ASSERT_EQ(link.RxdSize(), 2u);

    TestControl control;
    control.stop = true;
    ScopedTransferControl scoped(&control);
    test::ConsoleCapture cap;
    std::thread worker([&] {
        EXPECT_TRUE(link.IsCancelled());
        link.Transfer(request, true);
    });
    worker.join();
    EXPECT_EQ(port.writes, 1);
    EXPECT_EQ(link.RxdSize(), 2u);
    EXPECT_EQ(cap.Text(), "Отмена трансфера! Поток остановлен!\n");

    // The creator thread is never cancelled.
    EXPECT_FALSE(link.IsCancelled());
    link.Transfer(request, true);
    EXPECT_EQ(port.writes, 2);
}

TEST_F(ExchangeTest, AStopWhileCollectingEndsAtOnceWithTheNoAnswerError) {
    FakePort port;  // silent
    settings.answerTimeoutMs = 5000;
    MasterSlaveIOImpl link(settings);
    link.SetPort(&port);
    TestControl control;
    ScopedTransferControl scoped(&control);
    std::string msg;
    std::thread worker = TransferOffTheCreator(link, request, msg);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    control.stop = true;
    worker.join();  // would take 5 s without the stop
    EXPECT_EQ(msg, "COM1 9600 не отвечает!");
    EXPECT_EQ(port.writes, 1);
}

TEST_F(ExchangeTest, NegativeSettingsDoNotMakeTheLinkWait) {
    FakePort port;
    settings.writeDelayMs = -100000;
    settings.answerTimeoutMs = -1;
    settings.charWaitMs = -5;
    settings.retryCount = -3;
    MasterSlaveIOImpl link(settings);
    link.SetPort(&port);
    EXPECT_EQ(ExpectNoAnswer(link, request), "COM1 9600 не отвечает!");
    EXPECT_EQ(port.writes, 1);
}

TEST_F(ExchangeTest, MissingPortAndEmptyRequestAreProgrammingErrors) {
    MasterSlaveIOImpl link(settings);
    try {
        link.Transfer(request, true);
        FAIL();
    } catch (const MyExceptionPtr& e) {
        EXPECT_EQ(e->GetMsg(), "port_");
    }
    FakePort port;
    link.SetPort(&port);
    try {
        link.Transfer(nullptr, 0, false);
        FAIL();
    } catch (const MyExceptionPtr& e) {
        EXPECT_EQ(e->GetMsg(), "txdSz>0");
    }
}

TEST(ExchangeSettings, LoadTakesDefaultsAndSaveWritesTheFiveKeysInOrder) {
    test::ScopedHome home("mssettings");
    IniFile ini(home.Dir() + "/config.ini");
    MasterSlaveIOSettings s;
    s.writeDelayMs = 1;
    LoadMasterSlaveIOSettings(s, ini, "Установки МАСТЕР-СЛЭЙВ");
    EXPECT_EQ(s, MasterSlaveIOSettings{});

    s = {7, 700, 3, 4, true};
    SaveMasterSlaveIOSettings(s, ini, "Установки МАСТЕР-СЛЭЙВ");
    EXPECT_EQ(test::ReadFile(ini.FileName()),
              "[Установки МАСТЕР-СЛЭЙВ]\n"
              "таймаут_ожидания_ответа_мсек=700\n"
              "длительность_ожидания_символа_приёма_мсек=3\n"
              "Задержка_записи_мсек=7\n"
              "лагать=1\n"
              "количество_повторов_запроса=4\n");
    MasterSlaveIOSettings back;
    LoadMasterSlaveIOSettings(back, ini, "Установки МАСТЕР-СЛЭЙВ");
    EXPECT_EQ(back, s);
}

}  // namespace
