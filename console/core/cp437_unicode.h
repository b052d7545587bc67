// The console's character set in Unicode: each code page 437 code as the UTF-16 unit
// of the glyph the console draws for it. A constant table; generated, see the .cpp.
#pragma once

#include <cstdint>

namespace console {

extern const uint16_t cp437ToUnicode[256];

}  // namespace console
