// Run-time lookup of uiautomationcore.dll and the identifiers of the text interfaces.
// Must never make the console depend on the DLL at load time: a missing DLL or entry
// point leaves a null pointer, and every caller skips what it cannot call.
#include "uia_api.h"

#include "system_library.h"

namespace console {
namespace win32 {
namespace uia {

const IID IID_TextRangeProvider = {0x5347ad7b, 0xc355, 0x46f8, {0xaf, 0xf5, 0x90, 0x90, 0x33, 0x58, 0x2f, 0x63}};
const IID IID_TextProvider = {0x3589c92c, 0x63f3, 0x4367, {0x99, 0xbb, 0xad, 0xa6, 0x53, 0xb7, 0x7c, 0xf2}};

namespace {

template <typename Function>
void lookUp(HMODULE module, const char* name, Function& slot) {
    slot = module != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                             : nullptr;
}

Api load() {
    Api api = {};
    // System folder only: a DLL of that name planted beside the program is never taken.
    HMODULE module = loadSystemLibrary(L"uiautomationcore.dll");
    lookUp(module, "UiaReturnRawElementProvider", api.returnRawElementProvider);
    lookUp(module, "UiaHostProviderFromHwnd", api.hostProviderFromHwnd);
    lookUp(module, "UiaRaiseAutomationEvent", api.raiseAutomationEvent);
    lookUp(module, "UiaRaiseNotificationEvent", api.raiseNotificationEvent);
    lookUp(module, "UiaClientsAreListening", api.clientsAreListening);
    lookUp(module, "UiaDisconnectProvider", api.disconnectProvider);
    lookUp(module, "UiaGetReservedMixedAttributeValue", api.getReservedMixedAttributeValue);
    lookUp(module, "UiaGetReservedNotSupportedValue", api.getReservedNotSupportedValue);
    return api;
}

}  // namespace

const Api& api() {
    static const Api loaded = load();  // thread-safe first use
    return loaded;
}

}  // namespace uia
}  // namespace win32
}  // namespace console
