#pragma once

// The kernel's termios2 carries any baud rate. It cannot share a unit with <termios.h>.
#include <asm/termbits.h>

#include "link/dcb.h"

namespace my::RS232 {

// Turns t, the device's current termios, into the raw line the settings ask for. Fields with
// no Linux meaning are left out. Returns 0, or EINVAL for values no line can take.
int BuildLineTermios(const DCB& dcb, termios2& t);

}  // namespace my::RS232
