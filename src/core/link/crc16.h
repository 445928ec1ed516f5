#pragma once

#include <cstddef>
#include <cstdint>

// CRC-16/AUG-CCITT of the instrument's frames (polynomial 0x1021, MSB first, computed in the
// augmented form from 0xFFFF; check value of "123456789" is 0xE5CC). Over a whole frame
// including its two CRC bytes (high byte first) the result is 0.
uint16_t Crc16(const uint8_t* data, uint16_t length);

// The table entry i of polynomial 0x1021.
uint16_t Crc16TableEntry(uint8_t i);
