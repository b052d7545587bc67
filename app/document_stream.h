// Streaming the two documents into the rich-edit control: the read positions and the
// EM_STREAMIN callbacks. Never reads beyond a document's length, nor from a missing one.
#pragma once

#include <windows.h>
#include <richedit.h>

#include <cstdint>

namespace app {

// Next byte that each callback delivers; ShowPage sets it to 0 before each stream.
// Main thread only (the control calls back synchronously inside EM_STREAMIN).
extern int32_t g_licenceReadPos;
extern int32_t g_warningReadPos;

// Copies up to requested bytes of the document from *position on, advances *position
// and stores the count in *delivered; 0 bytes once nothing remains, when the document
// is null, or when requested is not positive. Always returns 0 (go on).
DWORD DeliverDocumentBytes(const char* text, uint32_t length, int32_t* position, LPBYTE buffer, LONG requested,
                           LONG* delivered);

// The EDITSTREAM callbacks over engine::win32::g_licenceText and g_warningText.
DWORD CALLBACK LicenceStreamCallback(DWORD_PTR cookie, LPBYTE buffer, LONG requested, LONG* delivered);
DWORD CALLBACK WarningStreamCallback(DWORD_PTR cookie, LPBYTE buffer, LONG requested, LONG* delivered);

}  // namespace app
