#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "device/arch_item.h"
#include "device/flash_map.h"
#include "frame/date_time.h"

// The operations on the instrument: flash reads, the clock, the cell contexts, the buffer
// descriptor search and the record readers. They reach the instrument through the installed
// DeviceLink (device/device_link.h).
namespace Zelmar {

// Reads count (2…32) bytes of flash at addr: one request.
void ReadFlash(uint32_t addr, uint8_t* buffer, int count);
// The first of two bytes at addr; 255 when the instrument refuses with an error code.
uint8_t ReadFlashByte(uint32_t addr);
uint16_t ReadFlashWord(uint32_t addr);  // big-endian

// Sets the instrument's clock to the PC's local date and time (set-time, then set-date);
// returns the date-time sent (whole seconds).
TDateTime SetDeviceClock();

// The decoded context of one cell.
struct CellContext {
    uint32_t type = 0;  // 255 when the instrument refused the read
    TDateTime calibrated = 0;  // 0 when the stored date-time is not valid
    double pgs0 = 0;
    double pgs3 = 0;
    double threshold1 = 0;
    double threshold2 = 0;
};
using CellContexts = std::array<CellContext, 4>;

// Reads the four contexts, cell 1 to cell 4 (six requests each). A failure leaves the cells
// already read filled and the rest untouched.
void ReadContext(CellContexts& cells);
std::string CellTypeName(uint32_t code);

uint8_t IntToBcd(int v);
// Decimal text of the high nibble followed by that of the low nibble: 0x25 → 25, 0x1A → 110.
int BcdToInt(uint8_t b);
// Year from 2000; bit 7 of the hour ignored; 0 when the parts are not a valid date-time.
TDateTime BcdToDateTime(uint8_t yy, uint8_t mm, uint8_t dd, uint8_t hh, uint8_t mi);

namespace Hard {
using FlasData = std::map<uint32_t, uint8_t>;  // flash bytes seen by one descriptor search
}

// The address of the first descriptor slot found in [lo, hi] (upper half searched first),
// -1 when there is none, 0 when the search was stopped.
int32_t FindDescriptor(uint32_t lo, uint32_t hi);
// Finds and checks the descriptor: the hour and the minute archive's addresses.
void FindBufferDescriptors(uint32_t& hourAddr, uint32_t& minuteAddr);

// Record readers: one flash read each; decode into item and print the record's line.
void ReadHourItem(uint32_t addy, ArchItem& item);
void ReadMinuteItem(uint32_t addy, ArchItem& item);

// Decoding of raw records (what the readers do after the read).
void DecodeHourItem(const uint8_t* raw, uint32_t addy, ArchItem& item);
void DecodeMinuteItem(const uint8_t* raw, uint32_t addy, ArchItem& item);

}  // namespace Zelmar
