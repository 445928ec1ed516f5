#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/crc16.h"

class MasterSlaveIOImpl;

// The instrument's frame codec: packs a command and its payload into a request frame with the
// running request number and CRC, has it exchanged, and checks the answer. The answer's
// payload is read in place from the exchange's receive buffer.
//
// Request: A5 A0 <n-2> <number> <code> <payload…> <CRC hi> <CRC lo>
// Answer:  5A 5x <n-2> <number> <payload…> <CRC hi> <CRC lo>
class ZelmarAdpt {
public:
    static constexpr uint8_t kCmdReadFlash = 0x42;
    static constexpr uint8_t kCmdSetTime = 0x33;
    static constexpr uint8_t kCmdSetDate = 0x35;

    explicit ZelmarAdpt(MasterSlaveIOImpl& link) : link_(link) {}
    ZelmarAdpt(const ZelmarAdpt&) = delete;
    ZelmarAdpt& operator=(const ZelmarAdpt&) = delete;

    void Request(uint8_t code, const std::vector<uint8_t>& payload);
    // The last answer's payload (byte 4 on), null / 0 when it had fewer than 7 bytes.
    const uint8_t* AnswerData() const;
    size_t AnswerSize() const;

    // The number the next request will carry.
    uint8_t NextRequestNumber() const { return number_; }

    // The request frame for a command, as Request() sends it.
    static std::vector<uint8_t> BuildFrame(uint8_t number, uint8_t code,
                                           const std::vector<uint8_t>& payload);
    // Raises the first failing answer check for a request numbered `number`.
    static void CheckAnswer(const uint8_t* answer, size_t n, uint8_t number);

    MasterSlaveIOImpl& Link() { return link_; }

private:
    MasterSlaveIOImpl& link_;
    uint8_t number_ = 0;
};
