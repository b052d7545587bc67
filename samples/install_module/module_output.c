/* Printing for the sample install module. Line texts are composed in bounded
 * buffers and cut, never overrun; the host is reached only through its services. */
#include "module_output.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

void PrintLine(const InstallHostInterface *host, uint32_t color, const char *text) {
    host->setPrintColor(color);
    host->printText(text, NULL, 0, 1);
}

void PrintPiece(const InstallHostInterface *host, uint32_t color, const char *text) {
    host->setPrintColor(color);
    host->printText(text, NULL, 0, 0);
}

void PrintBanner(const InstallHostInterface *host) {
    char line[512];
    snprintf(line, sizeof line, "Sample install module for %s",
             host->programName != NULL ? host->programName : "(no name)");
    /* The installer's welcome text leaves its last line open. */
    host->setPrintColor(COLOR_TITLE);
    host->printText(line, NULL, 1, 1);
    snprintf(line, sizeof line, "Program folder: %s",
             host->programDirectory != NULL ? host->programDirectory : "(unknown)");
    PrintLine(host, COLOR_NORMAL, line);
}

/* The system's text for code on one line, or "unknown error". */
static void SystemErrorText(unsigned long code, char *out, size_t outSize) {
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, (DWORD)code, 0,
                                  text, (DWORD)sizeof text, NULL);
    char *stop;
    if (length == 0) {
        snprintf(out, outSize, "unknown error");
        return;
    }
    text[sizeof text - 1] = '\0';
    stop = strpbrk(text, "\r\n");
    if (stop != NULL) *stop = '\0';
    snprintf(out, outSize, "%s", text);
}

void PrintFailure(const InstallHostInterface *host, const char *text, unsigned long code) {
    char line[768];
    char system[512];
    PrintLine(host, COLOR_FAILURE, text);
    if (code != 0) {
        SystemErrorText(code, system, sizeof system);
        snprintf(line, sizeof line, "Error %lu: %s", code, system);
        PrintLine(host, COLOR_FAILURE, line);
    }
    host->setPrintColor(COLOR_NORMAL);
}

void PrintFailure2(const InstallHostInterface *host, const char *what, const char *subject, unsigned long code) {
    char line[768];
    snprintf(line, sizeof line, "%s %s", what, subject);
    PrintFailure(host, line, code);
}

/* Decimal digits of value; printf's 64-bit conversions differ between C runtimes. */
static void FormatUnsigned(char *out, size_t outSize, uint64_t value) {
    char digits[24];
    size_t count = 0;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    if (outSize == 0) return;
    {
        size_t i = 0;
        while (count > 0 && i + 1 < outSize) out[i++] = digits[--count];
        out[i] = '\0';
    }
}

void FormatMegabytes(char *out, size_t outSize, uint64_t bytes) {
    char whole[24];
    const unsigned tenths = (unsigned)(((bytes & 0xFFFFFu) * 10u) >> 20);
    FormatUnsigned(whole, sizeof whole, bytes >> 20);
    snprintf(out, outSize, "%s.%u MB", whole, tenths);
}

void FormatBytes(char *out, size_t outSize, uint64_t bytes) {
    char digits[24];
    FormatUnsigned(digits, sizeof digits, bytes);
    snprintf(out, outSize, "%s bytes", digits);
}
