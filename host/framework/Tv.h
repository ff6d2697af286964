#pragma once
// The host's side of TvControl: the display's own RIX ID, and a switch that makes it fail.
#include <cstdint>

namespace kw::host::tv {

void setDisplayId(uint8_t id);
uint8_t displayId();
// When unavailable, GetDisplayID answers 0 and writes nothing.
void setAvailable(bool available);

}  // namespace kw::host::tv
