// Run-time lookup of oleacc.dll. Must never make the console depend on the DLL at load
// time: a missing DLL or entry point leaves a null pointer that callers skip.
#include "oleacc_api.h"

#include "system_library.h"

namespace console {
namespace win32 {
namespace oleacc {

namespace {

Api load() {
    Api api = {};
    HMODULE module = loadSystemLibrary(L"oleacc.dll");
    lookUpEntry(module, "LresultFromObject", api.lresultFromObject);
    lookUpEntry(module, "AccessibleObjectFromWindow", api.accessibleObjectFromWindow);
    return api;
}

}  // namespace

const Api& api() {
    static const Api loaded = load();  // thread-safe first use
    return loaded;
}

}  // namespace oleacc
}  // namespace win32
}  // namespace console
