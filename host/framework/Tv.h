#pragma once
// The host's side of TvControl: the display's own RIX ID (1 until the host sets it), and a
// switch that makes it fail.
#include <cstdint>

namespace kw::host::tv {

void setDisplayId(uint8_t id);
uint8_t displayId();
// When unavailable, GetDisplayID answers 0 and writes nothing. Available by default.
void setAvailable(bool available);
bool available();

}  // namespace kw::host::tv
