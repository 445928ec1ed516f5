#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/my_port.h"

namespace test {

// A port whose answers are scripted: each write may be answered by chunks of bytes that
// "arrive" at given delays after the write. Counts what the exchange did to it.
class FakePort : public MyPort {
public:
    struct Chunk {
        int delayMs;
        std::vector<uint8_t> bytes;
    };
    // Called on every write with the request; returns the chunks of its answer.
    using Responder = std::function<std::vector<Chunk>(const std::vector<uint8_t>& request)>;

    explicit FakePort(Responder responder = nullptr) : responder_(std::move(responder)) {}

    std::string Description() const override { return "COM1 9600"; }
    size_t BytesAvailable() override;
    void Purge() override;

    void SetResponder(Responder r) { responder_ = std::move(r); }
    void FailOpen(bool fail) { failOpen_ = fail; }

    int writes = 0, purges = 0, opens = 0;
    std::vector<std::vector<uint8_t>> requests;

protected:
    void DoOpen() override;
    void DoClose() override {}
    size_t DoWrite(const uint8_t* buffer, size_t count) override;
    size_t DoRead(uint8_t* buffer, size_t count) override;

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        Clock::time_point at;
        std::vector<uint8_t> bytes;
    };
    void Arrive();

    Responder responder_;
    std::deque<Pending> pending_;
    std::vector<uint8_t> arrived_;
    bool failOpen_ = false;
};

// An answer frame with a correct CRC: 5A 50 <n-2> <number> <payload> <crc>.
std::vector<uint8_t> AnswerFrame(uint8_t number, const std::vector<uint8_t>& payload,
                                 uint8_t marker1 = 0x50);

}  // namespace test
