#pragma once

#include <cstdint>
#include <string>

#include "device/arch_item.h"

namespace Zelmar {

namespace Evt::Bit {
constexpr unsigned count = 8;
}

// The name of event bit n; empty for n ≥ 8.
std::string EvtBitName(unsigned n);
bool HasEvtBit(const ArchItem& item, unsigned n);  // n ≥ 8 is a programming error
// The names of the set bits, each followed by one blank.
std::string EvtText(const ArchItem& item);

std::string ItemHeaderText(const ArchItem& item);  // "[idx], dd.mm.yy, hh:nn" or "[idx], FF"
std::string HourItemText(const ArchItem& item);
std::string MinuteItemText(const ArchItem& item);

}  // namespace Zelmar
