// ByteSource over a Win32 file handle. Never opens or closes the handle: whoever
// passed it in owns it. Use one source per handle and thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "engine/core/byte_source.h"

namespace engine::win32 {

// One ReadFile per byte, so the file position is never ahead of what the reader has
// consumed: the module that owns the handle may mix its own reads with ours.
class SingleByteHandleSource final : public ByteSource {
public:
    explicit SingleByteHandleSource(HANDLE file) : file_(file) {}
    bool readByte(uint8_t& byte) override {
        DWORD got = 0;
        return ReadFile(file_, &byte, 1, &got, nullptr) && got == 1;
    }

private:
    HANDLE file_;
};

// Reads ahead in blocks; only for handles no one else reads. A failed or empty read
// delivers no byte, exactly as with single-byte reads, and the next call tries again.
class BufferedHandleSource final : public ByteSource {
public:
    explicit BufferedHandleSource(HANDLE file) : file_(file) {}
    bool readByte(uint8_t& byte) override {
        if (next_ == filled_) {
            DWORD got = 0;
            if (!ReadFile(file_, buffer_, sizeof buffer_, &got, nullptr) || got == 0) return false;
            next_ = 0;
            filled_ = got;
        }
        byte = buffer_[next_++];
        return true;
    }

private:
    HANDLE file_;
    uint8_t buffer_[4096];
    DWORD next_ = 0;
    DWORD filled_ = 0;
};

}  // namespace engine::win32
