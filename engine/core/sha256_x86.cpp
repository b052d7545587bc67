// SHA-256 blocks on the x86 SHA extensions, and the check whether the processor has them.
// Built with the extensions enabled for this file alone, so it must hold nothing that
// runs before the check says yes: no standard headers, no inline code shared with others.
#include "engine/core/sha256_x86.h"

#include "engine/core/sha256_rounds.h"

#if KV_SHA256_X86
#include <immintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

namespace engine {

namespace {

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
    message = _mm_add_epi32(words, _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256Rounds) + (group))); \
    state1 = _mm_sha256rnds2_epu32(state1, state0, message);                                              \
    message = _mm_shuffle_epi32(message, 0x0E);                                                           \
    state0 = _mm_sha256rnds2_epu32(state0, state1, message)

// Rounds of a group whose words feed the schedule: finish the next group's words with
// this one's, and start the words three groups on.
#define KV_ROUNDS4_SCHEDULE(current, previous, next, group, startNext)                        \
    message = _mm_add_epi32(current, _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256Rounds) + (group))); \
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
