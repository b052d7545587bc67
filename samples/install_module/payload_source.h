/* Where the sample's files come from: the archive of a one-file installer, through the
 * host's payload extension, or the program folder beside an ordinary installer. */
#ifndef SAMPLE_PAYLOAD_SOURCE_H
#define SAMPLE_PAYLOAD_SOURCE_H

#include <stdint.h>

/* True when the host offers the extension and its archive has a "payload" folder. */
int SamplePayloadInArchive(void);

/* The size of payload\name in the archive; false when it holds no such file. */
int SamplePayloadSize(const char *name, uint64_t *size);

/* Extracts payload\name to destination (ANSI), replacing a file already there only
 * once the new one is whole. False with the reason in failure. */
int SamplePayloadExtract(const char *name, const char *destination, char *failure, size_t failureSize);

/* The installation's progress on the taskbar button, where the host shows it. */
void SamplePayloadProgress(unsigned done, unsigned total, int failed);

#endif
