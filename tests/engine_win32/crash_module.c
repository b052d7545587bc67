/* A test install module whose entries crash the ways a real one can, and one that returns
 * after a deep call, for the entry call's tests. Test-only; never ships with an installer. */
#include <windows.h>

#include "kelvane_install.h"

/* Writes to address 0 with the direction flag set and garbage in the registers a caller
 * keeps across calls: a host that went on without restoring them would fail. */
__declspec(dllexport) KelvaneBool kv_write_null(InstallHostInterface *host) {
#if defined(__x86_64__)
    __asm__ volatile("mov $1, %%rbx\n mov $2, %%rsi\n mov $3, %%rdi\n mov $4, %%r12\n mov $5, %%r13\n"
                     "mov $6, %%r14\n mov $7, %%r15\n mov $8, %%rbp\n pcmpeqd %%xmm6, %%xmm6\n std\n movl $0, 0"
                     ::: "rbx", "rsi", "rdi", "r12", "r13", "r14", "r15", "xmm6");
#else
    __asm__ volatile("mov $1, %%ebx\n mov $2, %%esi\n mov $3, %%edi\n mov $4, %%ebp\n std\n movl $0, 0"
                     ::: "ebx", "esi", "edi");
#endif
    return host != NULL;
}

/* Non-continuable, as an MSVC module's C++ throw is. */
__declspec(dllexport) KelvaneBool kv_raise(InstallHostInterface *host) {
    RaiseException(0xE0001234, EXCEPTION_NONCONTINUABLE, 0, NULL);
    return host != NULL;
}

/* Using buffer after the call keeps the recursion from becoming a loop; depth -1 never ends. */
static int Descend(volatile const char *above, int depth) {
    volatile char buffer[256] = {above[0]};
    return depth == 0 ? buffer[0] : Descend(buffer, depth - 1) + buffer[1];
}

__declspec(dllexport) KelvaneBool kv_overflow(InstallHostInterface *host) { return Descend("", -1) + !host; }
__declspec(dllexport) KelvaneBool kv_deep_return(InstallHostInterface *host) { return Descend("\1", 1000) + !host; }
