// The SHA-256 block function on x86's SHA extensions, for Sha256 to choose at run time.
// Only declarations: the implementation is compiled with the extensions enabled.
#pragma once

#include <stddef.h>
#include <stdint.h>

// KV_SHA256_PORTABLE_ONLY: for builds that compile every source with the same flags.
#if !defined(KV_SHA256_PORTABLE_ONLY) && (defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86))
#define KV_SHA256_X86 1
#else
#define KV_SHA256_X86 0
#endif

namespace engine {

#if KV_SHA256_X86
// True when the processor has the SHA extensions (and SSSE3 and SSE4.1 beside them).
bool Sha256X86Available();
// Compresses whole 64-byte blocks into state (a, b, ... h), as the portable code does.
// Call only when Sha256X86Available() said yes.
void Sha256X86Blocks(uint32_t state[8], const uint8_t* data, size_t blocks);
#endif

}  // namespace engine
