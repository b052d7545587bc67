// The one function kelvane.exe exports: install modules find the payload extension through
// it (sdk/kelvane_payload.h). Nothing else is exported.
#include "engine/win32/payload_api.h"

extern "C" __declspec(dllexport) const KelvanePayloadApi* KELVANE_CDECL kelvane_payload_api(uint32_t version) {
    return engine::win32::PayloadApi(version);
}
