// SHA-256 (FIPS 180-4), written for the archive's integrity checks. Portable; no global
// state. Not constant-time and not meant for secrets: it only checks file contents.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

// How blocks are compressed: the portable code, or the processor's SHA instructions
// where it has them (chosen once per process; both give the same digests).
enum class Sha256Engine { Portable, ProcessorExtensions };

class Sha256 {
public:
    Sha256();  // the fastest engine the processor offers
    explicit Sha256(Sha256Engine engine);  // that engine; the portable one where it is missing
    // The engine a default-made object uses.
    static Sha256Engine fastestEngine();
    // Any number of calls, any sizes. Any thread, one at a time per object.
    void update(const void* data, size_t size);
    // Pads and writes the digest; the object starts over afterwards.
    void finish(uint8_t (&digest)[32]);

private:
    using Blocks = void (*)(uint32_t state[8], const uint8_t* data, size_t blocks);
    void reset();

    Blocks blocks_;
    uint32_t state_[8];
    uint8_t block_[64];
    size_t blockUsed_ = 0;
    uint64_t totalBytes_ = 0;
};

void Sha256Of(const void* data, size_t size, uint8_t (&digest)[32]);

}  // namespace engine
