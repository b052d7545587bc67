// SHA-256 blocks on the x86 SHA extensions, and the check whether the processor has them.
// Built with the extensions enabled for this file alone, so it must hold nothing that
// runs before the check says yes: no standard headers, no inline code shared with others.
#include "engine/core/sha256_x86.h"

#if KV_SHA256_X86
#include <immintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

namespace engine {

namespace {

alignas(16) const uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

void Cpuid(unsigned leaf, unsigned subleaf, unsigned (&regs)[4]) {
#if defined(_MSC_VER)
    int r[4];
    __cpuidex(r, static_cast<int>(leaf), static_cast<int>(subleaf));
    for (int i = 0; i < 4; ++i) regs[i] = static_cast<unsigned>(r[i]);
#else
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
    __get_cpuid_count(leaf, subleaf, &regs[0], &regs[1], &regs[2], &regs[3]);
#endif
}

}  // namespace

bool Sha256X86Available() {
    unsigned regs[4];
    Cpuid(0, 0, regs);
    if (regs[0] < 7) return false;
    Cpuid(1, 0, regs);
    const bool ssse3 = (regs[2] & (1u << 9)) != 0, sse41 = (regs[2] & (1u << 19)) != 0;
    Cpuid(7, 0, regs);
    return ssse3 && sse41 && (regs[1] & (1u << 29)) != 0;
}

// Four rounds: two of sha256rnds2, each taking two words of message plus constants.
#define KV_ROUNDS4(words, group)                                                                          \
    message = _mm_add_epi32(words, _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants) + (group))); \
    state1 = _mm_sha256rnds2_epu32(state1, state0, message);                                              \
    message = _mm_shuffle_epi32(message, 0x0E);                                                           \
    state0 = _mm_sha256rnds2_epu32(state0, state1, message)

// Rounds of a group whose words feed the schedule: finish the next group's words with
// this one's, and start the words three groups on.
#define KV_ROUNDS4_SCHEDULE(current, previous, next, group, startNext)                        \
    message = _mm_add_epi32(current, _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants) + (group))); \
    state1 = _mm_sha256rnds2_epu32(state1, state0, message);                                  \
    next = _mm_sha256msg2_epu32(_mm_add_epi32(next, _mm_alignr_epi8(current, previous, 4)), current); \
    message = _mm_shuffle_epi32(message, 0x0E);                                               \
    state0 = _mm_sha256rnds2_epu32(state0, state1, message);                                  \
    if (startNext) previous = _mm_sha256msg1_epu32(previous, current)

void Sha256X86Blocks(uint32_t state[8], const uint8_t* data, size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    // The instructions keep the state as ABEF and CDGH.
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i state0 = _mm_alignr_epi8(cdab, efgh, 8);     // ABEF
    __m128i state1 = _mm_blend_epi16(efgh, cdab, 0xF0);  // CDGH
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i savedAbef = state0, savedCdgh = state1;
        __m128i message;
        __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)), byteSwap);
        __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16)), byteSwap);
        __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 32)), byteSwap);
        __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 48)), byteSwap);
        KV_ROUNDS4(w0, 0);
        KV_ROUNDS4(w1, 1);
        w0 = _mm_sha256msg1_epu32(w0, w1);
        KV_ROUNDS4(w2, 2);
        w1 = _mm_sha256msg1_epu32(w1, w2);
        KV_ROUNDS4_SCHEDULE(w3, w2, w0, 3, true);
        KV_ROUNDS4_SCHEDULE(w0, w3, w1, 4, true);
        KV_ROUNDS4_SCHEDULE(w1, w0, w2, 5, true);
        KV_ROUNDS4_SCHEDULE(w2, w1, w3, 6, true);
        KV_ROUNDS4_SCHEDULE(w3, w2, w0, 7, true);
        KV_ROUNDS4_SCHEDULE(w0, w3, w1, 8, true);
        KV_ROUNDS4_SCHEDULE(w1, w0, w2, 9, true);
        KV_ROUNDS4_SCHEDULE(w2, w1, w3, 10, true);
        KV_ROUNDS4_SCHEDULE(w3, w2, w0, 11, true);
        KV_ROUNDS4_SCHEDULE(w0, w3, w1, 12, true);
        KV_ROUNDS4_SCHEDULE(w1, w0, w2, 13, false);
        KV_ROUNDS4_SCHEDULE(w2, w1, w3, 14, false);
        KV_ROUNDS4(w3, 15);
        state0 = _mm_add_epi32(state0, savedAbef);
        state1 = _mm_add_epi32(state1, savedCdgh);
    }
    const __m128i feba = _mm_shuffle_epi32(state0, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(state1, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));     // DCBA
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));    // HGFE
}

#undef KV_ROUNDS4
#undef KV_ROUNDS4_SCHEDULE

}  // namespace engine

#endif
