#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/flash_map.h"

namespace zelmar::sim {

// The flash map of the core (device/flash_map.h) in the simulator's terms.
namespace flash {
constexpr uint32_t kSize = Zelmar::Flash::kFlashSize;
constexpr uint32_t kCellContext[4] = {Zelmar::Flash::hContext0,
                                      Zelmar::Flash::hContext0 + Zelmar::Flash::hContextStep,
                                      Zelmar::Flash::hContext0 + 2 * Zelmar::Flash::hContextStep,
                                      Zelmar::Flash::hContext0 + 3 * Zelmar::Flash::hContextStep};
constexpr uint32_t kDescriptorFirst = Zelmar::Flash::hDescriptor0;
constexpr uint32_t kDescriptorLast = Zelmar::Flash::hDescriptor1;
constexpr uint32_t kDescriptorSlotSize = 8;
constexpr uint32_t kDescriptorSlots = (kDescriptorLast + 1 - kDescriptorFirst) / 8;  // 1024
constexpr uint32_t kMinuteFirst = Zelmar::Flash::MinuteArray::first;
constexpr uint32_t kMinuteLast = Zelmar::Flash::MinuteArray::last;
constexpr uint32_t kMinuteRecordSize = Zelmar::Flash::MinuteArray::recSize;
constexpr int32_t kMinuteSlots = Zelmar::Flash::MinuteArray::count;  // 97280
constexpr uint32_t kHourFirst = Zelmar::Flash::HourArray::first;
constexpr uint32_t kHourLast = Zelmar::Flash::HourArray::last;
constexpr uint32_t kHourRecordSize = Zelmar::Flash::HourArray::recSize;
constexpr int32_t kHourSlots = Zelmar::Flash::HourArray::count;  // 32768

constexpr uint32_t MinuteSlotAddr(int32_t slot) {
    return kMinuteFirst + static_cast<uint32_t>(slot) * kMinuteRecordSize;
}
constexpr uint32_t HourSlotAddr(int32_t slot) {
    return kHourFirst + static_cast<uint32_t>(slot) * kHourRecordSize;
}
constexpr uint32_t DescriptorSlotAddr(uint32_t slot) {
    return kDescriptorFirst + slot * kDescriptorSlotSize;
}
}  // namespace flash

// The instrument's whole flash: 0x380000 bytes, erased (0xFF) until written. Multi-byte
// values are big-endian, as everywhere on the instrument. An access outside the image is a
// programming error (failed check).
class FlashImage {
  public:
    FlashImage();

    // Reads an image file of exactly flash::kSize bytes; raises MyException naming the file
    // when it cannot be read or has another size.
    static FlashImage Load(const std::string& path);
    // Writes the image atomically (temporary file, then rename); raises naming the file.
    void Save(const std::string& path) const;

    static bool Contains(uint32_t addr, size_t count) {
        return addr <= flash::kSize && count <= flash::kSize - addr;
    }

    uint8_t Byte(uint32_t addr) const;
    uint16_t Word(uint32_t addr) const;
    uint32_t Long(uint32_t addr) const;
    void Read(uint32_t addr, uint8_t* out, size_t count) const;

    void SetByte(uint32_t addr, uint8_t value);
    void SetWord(uint32_t addr, uint16_t value);
    void SetLong(uint32_t addr, uint32_t value);
    void Write(uint32_t addr, const uint8_t* data, size_t count);
    void Write(uint32_t addr, const std::vector<uint8_t>& data) {
        Write(addr, data.data(), data.size());
    }
    // Back to 0xFF.
    void Erase(uint32_t addr, size_t count);
    bool IsErased(uint32_t addr, size_t count) const;

    const uint8_t* Data() const { return bytes_.data(); }
    bool operator==(const FlashImage& other) const { return bytes_ == other.bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

}  // namespace zelmar::sim
