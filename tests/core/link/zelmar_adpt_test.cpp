#include "link/zelmar_adpt.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/link/fake_port.h"
#include "frame/my_exception.h"
#include "frame/ui_call.h"
#include "link/master_slave_io.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(Crc16, KnownAnswers) {
    const char* check = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(check), 9), 0xE5CC);
    EXPECT_EQ(Crc16TableEntry(1), 0x1021);
    EXPECT_EQ(Crc16TableEntry(128), 0x9188);
    EXPECT_EQ(Crc16TableEntry(255), 0x1EF0);
    const Bytes frame = {0x5A, 0x50, 0x05, 0x01, 0x00, 0x0F, 0xA8};
    EXPECT_EQ(Crc16(frame.data(), 7), 0);
}

TEST(ZelmarFrames, WorkedRequestFrames) {
    EXPECT_EQ(ZelmarAdpt::BuildFrame(0, 0x42, {0x00, 0x40, 0x00, 0x07}),
              (Bytes{0xA5, 0xA0, 0x09, 0x00, 0x42, 0x00, 0x40, 0x00, 0x07, 0x2E, 0x09}));
    EXPECT_EQ(ZelmarAdpt::BuildFrame(1, 0x33, {0x12, 0x34, 0x56}),
              (Bytes{0xA5, 0xA0, 0x08, 0x01, 0x33, 0x12, 0x34, 0x56, 0x24, 0x26}));
    EXPECT_EQ(ZelmarAdpt::BuildFrame(2, 0x35, {0x13, 0x03, 0x12}),
              (Bytes{0xA5, 0xA0, 0x08, 0x02, 0x35, 0x13, 0x03, 0x12, 0x4E, 0x1F}));
    EXPECT_EQ(test::AnswerFrame(1, {0x00}), (Bytes{0x5A, 0x50, 0x05, 0x01, 0x00, 0x0F, 0xA8}));
}

Bytes WithCrc(Bytes f) {
    const uint16_t crc = Crc16(f.data(), static_cast<uint16_t>(f.size()));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    return f;
}

TEST(ZelmarFrames, AnswerChecksInOrder) {
    struct Case {
        const char* name;
        Bytes answer;
        uint8_t number;
        std::string message;  // empty: accepted
        bool zelmarClass;
    };
    const Bytes good8 = WithCrc({0x5A, 0x50, 0x06, 0x07, 0xAA, 0xBB});
    Bytes badCrc = good8;
    badCrc.back() ^= 0x01;
    char crcMsg[64];
    std::snprintf(crcMsg, sizeof crcMsg, "несовпадение CRC ответа %04X!=%04X",
                  Crc16(good8.data(), 6), Crc16(good8.data(), 6) ^ 0x0001);
    const Case cases[] = {
        {"three bytes", {0x5A, 0x51, 0x05}, 0,
         "длина ответа [5a, 51, 5] равна 3, должна быть не менее 5.", true},
        {"six bytes", {0x5A, 0x50, 0x04, 0x00, 0x00, 0x00}, 0,
         "длина ответа [5a, 50, 4, 0, 0, 0] равна 6, должна быть не менее 5.", true},
        {"marker 5A 5F", WithCrc({0x5A, 0x5F, 0x05, 0x00, 0x00}), 0, "", false},
        {"marker 5A 60", WithCrc({0x5A, 0x60, 0x05, 0x00, 0x00}), 0,
         "несовпадение маркера 0x5A5х!", false},
        {"marker 5B 50", WithCrc({0x5B, 0x50, 0x05, 0x00, 0x00}), 0,
         "несовпадение маркера 0x5A5х!", false},
        {"length byte", WithCrc({0x5A, 0x50, 0x06, 0x00, 0x00}), 0,
         "несовпадение длины ответа 5!=6", true},
        {"request number", WithCrc({0x5A, 0x50, 0x05, 0x04, 0x00}), 3,
         "несовпадение номера комманд запроса 3 и ответа 4", true},
        {"number 255", WithCrc({0x5A, 0x50, 0x05, 0xFF, 0x00}), 255, "", false},
        {"error code", WithCrc({0x5A, 0x50, 0x05, 0x00, 0x03}), 0, "Прибор вернул код ошибки 3",
         true},
        {"8 bytes with non-zero byte 4 are data", good8, 7, "", false},
        {"corrupted CRC", badCrc, 7, crcMsg, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            ZelmarAdpt::CheckAnswer(c.answer.data(), c.answer.size(), c.number);
            EXPECT_EQ(c.message, "") << "accepted";
        } catch (const MyExceptionPtr& e) {
            EXPECT_EQ(e->GetMsg(), c.message);
            EXPECT_EQ(dynamic_cast<MyZelmarException*>(e.get()) != nullptr, c.zelmarClass);
        }
    }
}

class AdapterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ModuleImpl::Create();
        settings.writeDelayMs = 0;
        settings.answerTimeoutMs = 100;
        settings.charWaitMs = 2;
        link.SetPort(&port);
    }
    MasterSlaveIOSettings settings;
    MasterSlaveIOImpl link{settings};
    ZelmarAdpt adapter{link};
    // Echoes every request with a status "done", as the instrument does for the clock commands.
    test::FakePort port{[](const Bytes& req) {
        return std::vector<test::FakePort::Chunk>{{1, test::AnswerFrame(req[3], {0x00})}};
    }};
};

TEST_F(AdapterTest, RequestNumberRunsOnAndWrapsFrom255To0) {
    for (int i = 0; i < 257; ++i) {
        ASSERT_EQ(adapter.NextRequestNumber(), static_cast<uint8_t>(i));
        adapter.Request(0x33, {0x12, 0x34, 0x56});
    }
    ASSERT_EQ(port.requests.size(), 257u);
    EXPECT_EQ(port.requests[255][3], 255);
    EXPECT_EQ(port.requests[256][3], 0);
    EXPECT_EQ(adapter.AnswerSize(), 1u);
    EXPECT_EQ(adapter.AnswerData()[0], 0);
}

TEST_F(AdapterTest, AnswerPayloadIsReadInPlace) {
    port.SetResponder([](const Bytes& req) {
        Bytes data(static_cast<size_t>(req[8]) + 1);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 3);
        return std::vector<test::FakePort::Chunk>{{1, test::AnswerFrame(req[3], data)}};
    });
    adapter.Request(0x42, {0x00, 0x40, 0x00, 0x07});
    ASSERT_EQ(adapter.AnswerSize(), 8u);
    EXPECT_EQ(adapter.AnswerData(), link.Rxd() + 4);
    EXPECT_EQ(adapter.AnswerData()[7], 21);
    EXPECT_EQ(port.requests[0],
              (Bytes{0xA5, 0xA0, 0x09, 0x00, 0x42, 0x00, 0x40, 0x00, 0x07, 0x2E, 0x09}));
}

TEST_F(AdapterTest, AFailedCheckLeavesTheNumberAdvanced) {
    port.SetResponder([](const Bytes& req) {
        return std::vector<test::FakePort::Chunk>{{1, test::AnswerFrame(req[3] + 1, {0x00})}};
    });
    EXPECT_THROW(adapter.Request(0x33, {1, 2, 3}), MyExceptionPtr);
    EXPECT_EQ(adapter.NextRequestNumber(), 1);
}

}  // namespace
