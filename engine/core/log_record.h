// The bytes of one installation log record and the log file's path. Portable: builds
// bytes only; opening, locking and writing the file belong to the Win32 layer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

// Local time as the platform reports it (the fields of a SYSTEMTIME).
struct LogTime {
    uint16_t year;
    uint16_t month;
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
};

// "(dd/mm/yyyy hh:mm:ss) " is 22 bytes; a field wider than its pad (a five-digit
// year) widens the prefix rather than being cut, up to this many bytes.
constexpr size_t kLogPrefixMax = 38;
constexpr size_t kLogPathSize = 260;  // 259 characters and the NUL
// The temp directory already ends with a backslash; the doubled one is deliberate.
constexpr char kLogFileName[] = "\\setup-internet-gui.log";

// Writes the prefix (no NUL) and returns its length. Any thread.
size_t FormatLogPrefix(const LogTime& time, char (&prefix)[kLogPrefixMax]);

// Room enough for a record with a text of textLength bytes (the widest prefix
// assumed), or 0 if that overflows size_t.
size_t LogRecordSize(size_t textLength);

// Prefix, the text's bytes unchanged, CR LF: one record, ready for a single write.
// Returns its size, or 0 (writing nothing) when capacity is too small: a record is
// never cut. Any thread.
size_t BuildLogRecord(const LogTime& time, const char* text, size_t textLength, char* out, size_t capacity);

// tempDirectory followed by kLogFileName. False, with path left empty, when the
// directory is empty or the whole would not fit in 259 characters.
bool ComposeLogPath(const char* tempDirectory, size_t tempLength, char (&path)[kLogPathSize]);

}  // namespace engine
