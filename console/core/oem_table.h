// Code page conversion used where the platform's ANSI-to-OEM conversion is absent
// (native builds and tests): Windows-1252 to code page 437, one byte to one byte.
#pragma once

#include <cstdint>

namespace console {

extern const uint8_t cp1252ToCp437[256];

}  // namespace console
