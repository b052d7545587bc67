// Stream-in callbacks of the pages dialog. Bounded by the length the loader gave with
// each document; a read position outside it delivers nothing.
#include "app/document_stream.h"

#include <cstring>

#include "engine/win32/setup_description.h"

namespace app {

int32_t g_licenceReadPos = 0;
int32_t g_warningReadPos = 0;

DWORD DeliverDocumentBytes(const char* text, uint32_t length, int32_t* position, LPBYTE buffer, LONG requested,
                           LONG* delivered) {
    LONG count = 0;
    if (text != nullptr && buffer != nullptr && requested > 0 && *position >= 0 &&
        static_cast<uint32_t>(*position) < length) {
        const uint32_t remaining = length - static_cast<uint32_t>(*position);
        count = remaining < static_cast<uint32_t>(requested) ? static_cast<LONG>(remaining) : requested;
        memcpy(buffer, text + *position, static_cast<size_t>(count));
        *position += count;
    }
    if (delivered != nullptr) *delivered = count;
    return 0;
}

DWORD CALLBACK LicenceStreamCallback(DWORD_PTR, LPBYTE buffer, LONG requested, LONG* delivered) {
    return DeliverDocumentBytes(engine::win32::g_licenceText, engine::win32::g_licenceTextLength, &g_licenceReadPos,
                                buffer, requested, delivered);
}

DWORD CALLBACK WarningStreamCallback(DWORD_PTR, LPBYTE buffer, LONG requested, LONG* delivered) {
    return DeliverDocumentBytes(engine::win32::g_warningText, engine::win32::g_warningTextLength, &g_warningReadPos,
                                buffer, requested, delivered);
}

}  // namespace app
