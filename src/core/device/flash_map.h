#pragma once

#include <cstdint>

// Where things lie in the instrument's flash (byte addresses, 24 bits on the wire).
namespace Zelmar::Flash {

constexpr uint32_t hContext0 = 0x0000;      // cell i's context at hContext0 + 0x1000 * i
constexpr uint32_t hContextStep = 0x1000;
constexpr uint32_t hDescriptor0 = 0x4000;   // 8-byte buffer descriptor slots
constexpr uint32_t hDescriptor1 = 0x5FFF;
constexpr uint32_t hMin0 = 0x8000;          // minute archive
constexpr uint32_t hMin1 = 0x2FFFFF;
constexpr uint32_t hHour0 = 0x300000;       // hour archive
constexpr uint32_t hHour1 = 0x37FFFF;
constexpr uint32_t kFlashSize = 0x380000;

// One circular array of fixed-size records.
template <uint32_t RecSize, uint32_t First, uint32_t Last>
struct Array {
    static constexpr uint32_t recSize = RecSize;
    static constexpr uint32_t first = First;
    static constexpr uint32_t last = Last;
    static constexpr uint32_t count = (Last + 1 - First) / RecSize;
};

using HourArray = Array<16, 3145728, 3670015>;
using MinuteArray = Array<32, 32768, 3145727>;
static_assert(HourArray::first == hHour0 && HourArray::last == hHour1 && HourArray::count == 32768);
static_assert(MinuteArray::first == hMin0 && MinuteArray::last == hMin1 &&
              MinuteArray::count == 97280);

}  // namespace Zelmar::Flash
