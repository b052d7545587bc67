/* Printing for the sample install module: coloured lines through the host's
 * printText and setPrintColor, system error texts, and number formatting.
 * Keeps no state; every failure text goes out in red and the colour returns to 7. */
#ifndef SAMPLE_MODULE_OUTPUT_H
#define SAMPLE_MODULE_OUTPUT_H

#include <stddef.h>
#include <stdint.h>

#include "kelvane_install.h"

/* Console palette indices (PC text-mode order). */
#define COLOR_NORMAL 7u
#define COLOR_TITLE 11u    /* light cyan */
#define COLOR_PROGRESS 3u  /* cyan */
#define COLOR_DONE 10u     /* light green */
#define COLOR_WARNING 14u  /* yellow */
#define COLOR_FAILURE 4u   /* red, as the host's own failure texts */

/* "Sample install module for <program name>" on a line of its own, and the program folder. */
void PrintBanner(const InstallHostInterface *host);

/* text in color, then a line break; the colour stays set afterwards. */
void PrintLine(const InstallHostInterface *host, uint32_t color, const char *text);
/* text in color, the line left open for what follows. */
void PrintPiece(const InstallHostInterface *host, uint32_t color, const char *text);

/* text in red and, when code is not 0, "Error <code>: <system text>" in red
 * below it; then back to colour 7. PrintFailure2 joins what and subject with a blank. */
void PrintFailure(const InstallHostInterface *host, const char *text, unsigned long code);
void PrintFailure2(const InstallHostInterface *host, const char *what, const char *subject, unsigned long code);

/* "12.3 MB" (1 MB = 1,048,576 bytes), and "1234 bytes", cut to outSize. */
void FormatMegabytes(char *out, size_t outSize, uint64_t bytes);
void FormatBytes(char *out, size_t outSize, uint64_t bytes);

#endif
