/* What the product file's checks and its placeholders share inside the core: ASCII
 * text helpers, problem sentences and the placeholder kinds. Private to
 * modules/standard/core; portable C99. */
#ifndef KV_STANDARD_PRODUCT_TEXT_H
#define KV_STANDARD_PRODUCT_TEXT_H

#include <stddef.h>

#include "product.h"

#define MESSAGE_SIZE 1200

/* Placeholder kinds, so that a check can allow only some of them. */
enum { PH_FOLDER = 1, PH_APP = 2, PH_PRODUCT = 4, PH_ALL = 7 };

char KvpUpperAscii(char c);
int KvpEqualNoCase(const char *a, const char *b, size_t length);
int KvpStartsNoCase(const char *text, const char *prefix);
int KvpWordIs(const char *text, const char *word);
int KvpIsDigit(char c);
int KvpHexDigit(char c);
/* Well-formed UTF-8 without overlong forms, surrogates or values past U+10FFFF: the
 * module turns every text into UTF-16, where a broken sequence would change it, and a
 * byte flipped in a journal on the disk shows here first. */
int KvpIsUtf8(const unsigned char *s);
/* text into out, cut before a UTF-8 character and ended with "..." when it does not fit. */
void KvpDeliverCut(const char *text, size_t length, char *out, size_t outSize);
/* Joins the pieces (a NULL ends them) into one sentence for problem; returns 0. */
int KvpSay(char *problem, size_t problemSize, const char *first, ...);
/* KvExpand with only the placeholder kinds in allowed; out is empty after a failure. */
int KvpExpandOnly(const char *text, unsigned allowed, const KvProduct *product, const char *app,
                  KvFolderLookup folder, void *context, char *out, size_t outSize, char *problem,
                  size_t problemSize);
/* The length of a folder placeholder that text starts with ("{ProgramFiles}"), else 0. */
int KvpLeadingFolder(const char *text);
/* 1 with the first unknown or unclosed placeholder, or one of the other scope than
 * product's (product NULL: not checked), described in reason; 0 when none. */
int KvpPlaceholderFault(const char *text, const KvProduct *product, char *reason, size_t reasonSize);

#endif
