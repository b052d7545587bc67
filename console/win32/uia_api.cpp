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
const IID IID_ValueProvider = {0xc7935180, 0x6fb3, 0x4201, {0xb1, 0x74, 0x7d, 0xf7, 0x3a, 0xdb, 0xf6, 0x4a}};

namespace {

Api load() {
    Api api = {};
    // System folder only: a DLL of that name planted beside the program is never taken.
    HMODULE module = loadSystemLibrary(L"uiautomationcore.dll");
    lookUpEntry(module, "UiaReturnRawElementProvider", api.returnRawElementProvider);
    lookUpEntry(module, "UiaHostProviderFromHwnd", api.hostProviderFromHwnd);
    lookUpEntry(module, "UiaRaiseAutomationEvent", api.raiseAutomationEvent);
    lookUpEntry(module, "UiaRaiseNotificationEvent", api.raiseNotificationEvent);
    lookUpEntry(module, "UiaClientsAreListening", api.clientsAreListening);
    lookUpEntry(module, "UiaDisconnectProvider", api.disconnectProvider);
    lookUpEntry(module, "UiaGetReservedMixedAttributeValue", api.getReservedMixedAttributeValue);
    lookUpEntry(module, "UiaGetReservedNotSupportedValue", api.getReservedNotSupportedValue);
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
