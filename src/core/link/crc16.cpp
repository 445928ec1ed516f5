#include "link/crc16.h"

#include <array>

namespace {

constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t v = static_cast<uint16_t>(i << 8);
        for (int k = 0; k < 8; ++k)
            v = static_cast<uint16_t>((v & 0x8000) ? (v << 1) ^ 0x1021 : v << 1);
        t[i] = v;
    }
    return t;
}

// Built once, at compile time.
constexpr std::array<uint16_t, 256> kTable = MakeTable();

inline uint16_t Step(uint16_t reg, uint8_t b) {
    return static_cast<uint16_t>(((reg << 8) & 0xFFFF) ^ kTable[reg >> 8] ^ b);
}

}  // namespace

uint16_t Crc16TableEntry(uint8_t i) { return kTable[i]; }

uint16_t Crc16(const uint8_t* data, uint16_t length) {
    uint16_t reg = 0xFFFF;
    for (uint16_t i = 0; i < length; ++i) reg = Step(reg, data[i]);
    // Two zero bytes appended: the augmented form.
    reg = Step(reg, 0);
    reg = Step(reg, 0);
    return reg;
}
