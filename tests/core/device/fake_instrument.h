#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "core/link/fake_port.h"
#include "device/device_link.h"
#include "frame/date_time.h"
#include "link/master_slave_io.h"
#include "link/zelmar_adpt.h"

namespace test {

// The instrument in process: a flash image served through a scripted port and the real
// exchange and codec, without timing. Installed as the device link while it lives.
class FakeInstrument : public Zelmar::DeviceLink {
public:
    FakeInstrument();
    ~FakeInstrument() override;

    ZelmarAdpt& Adapter() override { return adapter_; }
    bool ShowFlash() const override { return showFlash; }

    std::vector<uint8_t> flash;  // 0x380000 bytes, erased as 0xFF
    bool showFlash = false;
    // Reads touching [first, last] are answered with this error code.
    std::vector<std::pair<std::pair<uint32_t, uint32_t>, uint8_t>> refused;
    // Flash reads by start address (0x42 requests), and clock commands received.
    std::map<uint32_t, int> readsAt;
    int reads = 0;
    std::vector<std::vector<uint8_t>> clockRequests;
    // Called before each flash read is answered (a test may request a stop here).
    std::function<void(uint32_t addr)> beforeRead;

    // Record writers (BCD dates, big-endian values).
    void WriteHourRecord(uint32_t slot, TDateTime dt, uint8_t t, uint16_t battery,
                         const uint16_t c[4]);
    void WriteMinuteRecord(uint32_t slot, TDateTime dt, uint8_t t, uint8_t evt, bool fine,
                           uint8_t pressure, const uint16_t c[4]);
    // A written record whose date does not decode (month 0x13).
    void WriteBrokenHourRecord(uint32_t slot);
    void WriteBrokenMinuteRecord(uint32_t slot);
    void WriteDescriptor(uint32_t at, uint32_t minuteAddr, uint32_t hourAddr);

    MasterSlaveIOSettings& Settings() { return settings_; }

private:
    std::vector<FakePort::Chunk> Answer(const std::vector<uint8_t>& request);

    MasterSlaveIOSettings settings_;
    FakePort port_;
    MasterSlaveIOImpl link_;
    ZelmarAdpt adapter_;
    Zelmar::DeviceLink* previous_;
};

}  // namespace test
