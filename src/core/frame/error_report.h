#pragma once

#include "frame/my_exception.h"

// Only inside a catch(...) handler, where the failure cannot be passed on (destructors,
// shutdown steps): prints the exception chain in red on the console and, with withBox, shows it
// in an owner-less box captioned "ЗЕЛМАР". Never throws.
void ReportCurrentException(const FileLine& where, bool withBox) noexcept;
