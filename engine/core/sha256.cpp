// SHA-256 as FIPS 180-4 describes it: 64-byte blocks, 64 rounds, big-endian words and a
// big-endian bit length in the padding. Portable; no tables beyond the round constants.
#include "engine/core/sha256.h"

#include <cstring>

#include "engine/core/sha256_rounds.h"
#include "engine/core/sha256_x86.h"

namespace engine {

namespace {

constexpr uint32_t kInitial[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

inline uint32_t Rotr(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t LoadBig32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void StoreBig32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

void PortableBlocks(uint32_t state[8], const uint8_t* data, size_t blocks) {
    for (; blocks > 0; --blocks, data += 64) {
        uint32_t w[64];
        for (int t = 0; t < 16; ++t) w[t] = LoadBig32(data + 4 * t);
        for (int t = 16; t < 64; ++t) {
            const uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int t = 0; t < 64; ++t) {
            const uint32_t sum1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
            const uint32_t choose = (e & f) ^ (~e & g);
            const uint32_t t1 = h + sum1 + choose + kSha256Rounds[t] + w[t];
            const uint32_t sum0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
            const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
            const uint32_t t2 = sum0 + majority;
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

bool HasProcessorExtensions() {
#if KV_SHA256_X86
    static const bool available = Sha256X86Available();
    return available;
#else
    return false;
#endif
}

}  // namespace

Sha256Engine Sha256::fastestEngine() {
    return HasProcessorExtensions() ? Sha256Engine::ProcessorExtensions : Sha256Engine::Portable;
}

Sha256::Sha256() : Sha256(fastestEngine()) {}

Sha256::Sha256(Sha256Engine engine) : blocks_(PortableBlocks) {
#if KV_SHA256_X86
    if (engine == Sha256Engine::ProcessorExtensions && HasProcessorExtensions()) blocks_ = Sha256X86Blocks;
#else
    (void)engine;
#endif
    reset();
}

void Sha256::reset() {
    std::memcpy(state_, kInitial, sizeof state_);
    blockUsed_ = 0;
    totalBytes_ = 0;
}

void Sha256::update(const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    totalBytes_ += size;
    if (blockUsed_ != 0) {
        const size_t take = size < 64 - blockUsed_ ? size : 64 - blockUsed_;
        std::memcpy(block_ + blockUsed_, bytes, take);
        blockUsed_ += take;
        bytes += take;
        size -= take;
        if (blockUsed_ < 64) return;
        blocks_(state_, block_, 1);
        blockUsed_ = 0;
    }
    // Whole blocks straight from the caller's memory: no copy for the bulk of a file.
    const size_t whole = size / 64;
    if (whole != 0) blocks_(state_, bytes, whole);
    bytes += whole * 64;
    size -= whole * 64;
    if (size != 0) std::memcpy(block_, bytes, size);
    blockUsed_ = size;
}

void Sha256::finish(uint8_t (&digest)[32]) {
    const uint64_t bitLength = totalBytes_ * 8;
    block_[blockUsed_++] = 0x80;
    if (blockUsed_ > 56) {
        std::memset(block_ + blockUsed_, 0, 64 - blockUsed_);
        blocks_(state_, block_, 1);
        blockUsed_ = 0;
    }
    std::memset(block_ + blockUsed_, 0, 56 - blockUsed_);
    StoreBig32(block_ + 56, uint32_t(bitLength >> 32));
    StoreBig32(block_ + 60, uint32_t(bitLength));
    blocks_(state_, block_, 1);
    for (int i = 0; i < 8; ++i) StoreBig32(digest + 4 * i, state_[i]);
    reset();
}

void Sha256Of(const void* data, size_t size, uint8_t (&digest)[32]) {
    Sha256 hash;
    hash.update(data, size);
    hash.finish(digest);
}

}  // namespace engine
