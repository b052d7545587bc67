// Byte-at-a-time input for the line readers: a file handle on Windows, a buffer in
// tests and fuzzing. Portable: no platform header, no global state.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The next byte, or false when none came. The readers treat end of input and a
    // failed read alike, so an implementation need not tell them apart. Called on the
    // reader's thread only; a source is not shared between threads.
    virtual bool readByte(uint8_t& byte) = 0;
};

class MemoryByteSource final : public ByteSource {
public:
    MemoryByteSource(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    bool readByte(uint8_t& byte) override {
        if (position_ >= size_) return false;
        byte = data_[position_++];
        return true;
    }
    size_t consumed() const { return position_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

}  // namespace engine
