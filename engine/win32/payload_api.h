// The host's payload extension for install modules (sdk/kelvane_payload.h): listing the
// archive's files and extracting them straight to their places. Holds no module state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/core/archive.h"

#include "sdk/kelvane_payload.h"

namespace engine::win32 {

// The extension of that version (1 or 2; 1 without setOutcome, its size saying so), or
// null when this host offers no such version. Without a payload it lists nothing and
// extracts nothing. Any thread, after the start-up check.
const KelvanePayloadApi* PayloadApi(uint32_t version);

// What the module last gave setOutcome; 0 when nothing. Any thread.
uint32_t ModuleOutcome();

// The extension's work on any archive ReadArchive accepted; the functions it publishes
// pass the embedded one. As listEntries and extract in sdk/kelvane_payload.h, with the
// failure given whole. Any thread.
int32_t ListArchiveEntries(const ArchiveIndex& index, const char* folder, KelvanePayloadEach each, void* context);
bool ExtractFromArchive(const uint8_t* data, size_t size, const ArchiveIndex& index, const char* path,
                        const wchar_t* destination, KelvanePayloadProgress progress, void* context,
                        std::string* failure);

// text into out of size bytes, NUL-ended: whole when it fits, else cut at the start of a
// UTF-8 character and ended with "..."; below 4 bytes, the empty text.
void CopyFailureText(const std::string& text, char* out, uint32_t size);

// Where setProgress goes (the main window's taskbar button); null drops it. Set once
// before the module runs.
using TaskbarProgress = void (*)(uint32_t state, uint64_t done, uint64_t total);
void SetTaskbarProgress(TaskbarProgress sink);

}  // namespace engine::win32
