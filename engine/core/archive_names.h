// The archive's paths as Windows will see them once unpacked under a folder: UTF-8 decoding,
// device names, NTFS case twins, file/folder clashes, short-name look-alikes and full length.
// Portable and pure: never touches files, never includes windows.h, never asks the system.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace engine {

// UTF-8 to UTF-16, refusing invalid UTF-8 (overlong forms, surrogates, above U+10FFFF, truncated).
bool Utf8ToUtf16(const std::string& utf8, std::u16string* out);

// Every path (as ArchiveEntry::path gives it, '\' between parts) as Windows will see it under a
// folder whose own path, trailing backslash included, is rootLength UTF-16 units long: valid UTF-8,
// device names (superscript digits too), NTFS case twins, a file and a folder of the same name,
// 8.3-looking names, and each full path within 259 UTF-16 units. False with why (names the entry).
bool CheckArchiveNames(const std::vector<std::string>& paths, size_t rootLength, std::string* why);

}  // namespace engine
