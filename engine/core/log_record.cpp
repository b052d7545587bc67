// Log record and log path building. Portable, no state; formats digits by hand so the
// result does not depend on the C runtime's printf flavour or locale.
#include "engine/core/log_record.h"

#include <cstring>

namespace engine {

namespace {

// "%.Nd" for a non-negative value: at least minDigits digits, zero-padded.
size_t AppendPadded(char* out, uint16_t value, size_t minDigits) {
    char digits[5];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value = static_cast<uint16_t>(value / 10);
    } while (value != 0);
    size_t written = 0;
    for (size_t pad = count; pad < minDigits; ++pad) out[written++] = '0';
    while (count > 0) out[written++] = digits[--count];
    return written;
}

}  // namespace

size_t FormatLogPrefix(const LogTime& time, char (&prefix)[kLogPrefixMax]) {
    size_t n = 0;
    prefix[n++] = '(';
    n += AppendPadded(prefix + n, time.day, 2);
    prefix[n++] = '/';
    n += AppendPadded(prefix + n, time.month, 2);
    prefix[n++] = '/';
    n += AppendPadded(prefix + n, time.year, 4);
    prefix[n++] = ' ';
    n += AppendPadded(prefix + n, time.hour, 2);
    prefix[n++] = ':';
    n += AppendPadded(prefix + n, time.minute, 2);
    prefix[n++] = ':';
    n += AppendPadded(prefix + n, time.second, 2);
    prefix[n++] = ')';
    prefix[n++] = ' ';
    return n;
}

size_t LogRecordSize(size_t textLength) {
    if (textLength > SIZE_MAX - kLogPrefixMax - 2) return 0;
    return kLogPrefixMax + textLength + 2;
}

size_t BuildLogRecord(const LogTime& time, const char* text, size_t textLength, char* out, size_t capacity) {
    char prefix[kLogPrefixMax];
    const size_t prefixLength = FormatLogPrefix(time, prefix);
    if (text == nullptr) textLength = 0;
    if (textLength > SIZE_MAX - prefixLength - 2) return 0;
    const size_t total = prefixLength + textLength + 2;
    if (out == nullptr || total > capacity) return 0;
    std::memcpy(out, prefix, prefixLength);
    if (textLength > 0) std::memcpy(out + prefixLength, text, textLength);
    out[prefixLength + textLength] = '\r';
    out[prefixLength + textLength + 1] = '\n';
    return total;
}

bool ComposeLogPath(const char* tempDirectory, size_t tempLength, char (&path)[kLogPathSize]) {
    constexpr size_t nameLength = sizeof kLogFileName - 1;
    path[0] = '\0';
    if (tempDirectory == nullptr || tempLength == 0 || tempLength > kLogPathSize - 1 - nameLength) return false;
    std::memcpy(path, tempDirectory, tempLength);
    std::memcpy(path + tempLength, kLogFileName, nameLength + 1);
    return true;
}

}  // namespace engine
