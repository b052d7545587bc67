// The reference count the console's COM objects share: one reference at creation, the
// object deleted at its last release. Any thread; holds nothing but the count.
#pragma once

#include <windows.h>

namespace console {
namespace win32 {

// Object derives from ComRefCount<Object> and names it a friend when its destructor is
// private.
template <typename Object>
class ComRefCount {
protected:
    ULONG addReference() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG releaseReference() {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete static_cast<Object*>(this);
        return static_cast<ULONG>(left);
    }

private:
    volatile LONG refs_ = 1;
};

}  // namespace win32
}  // namespace console
