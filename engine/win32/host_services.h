// The four file services handed to the install module, with the exact __cdecl
// signatures of its call block. They keep no state; lists they build are never freed.
#pragma once

#include <windows.h>

#include "sdk/kelvane_install.h"

namespace engine::win32 {

// One line (at most 255 bytes kept, the rest of a longer line dropped) from a file the
// module opened, read one byte at a time so the file position stays exact. Returns 1
// when a line end ended it, 0 at end of file or on a read failure (an invalid handle
// gives an empty line and 0). line must hold 256 bytes; null reads nothing and gives 0.
KelvaneBool __cdecl readLine(HANDLE file, char* line);

// Opens fileName without sharing and builds its list; null when it cannot be opened,
// holds no key=value line, or memory runs out. The list is never freed.
KeyValueList __cdecl loadKeyValues(const char* fileName);

// Lookups as the module calls them; only the low 8 bits of upper count.
const char* __cdecl getValue(const KeyValueNode* list, const char* key, KelvaneBool upper);
int32_t __cdecl getIntValue(const KeyValueNode* list, const char* key);

// Puts the four services above into the module's interface block.
void SetFileServices(InstallHostInterface& host);

}  // namespace engine::win32
