#pragma once

#include <cstdint>

#include "frame/date_time.h"

namespace Zelmar {

// One decoded archive record (hour or minute). dateTime 0 marks a slot without a valid record.
struct ArchItem {
    TDateTime dateTime = 0;
    double t = 0;         // temperature, whole degrees Celsius
    double battery = 0;   // hour records: battery value in thousandths
    double pressure = 0;  // minute records
    double c[4] = {0, 0, 0, 0};
    uint32_t evt = 0;     // minute records: event bits 0…7
    bool isRead = false;
    bool isErased = false;  // every byte of the raw record was 0xFF
    int32_t idx = -1;       // slot index in its archive
};

}  // namespace Zelmar
