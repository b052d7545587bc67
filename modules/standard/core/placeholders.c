/* The product file's placeholders and their expansion, and the text helpers the
 * product checks share (product_text.h). Portable C99: no I/O, no allocation, no
 * globals. Every copy is bounded and a text that does not fit is an error, never cut;
 * only a problem sentence is cut, visibly. */
#include "product.h"
#include "product_text.h"

#include <stdarg.h>
#include <string.h>

#define MAX_PLACEHOLDER_NAME 64

/* Which products may name a placeholder: the user's folders belong to per-user products,
 * the folders of all users to machine products. */
enum { FOR_ANY, FOR_MACHINE, FOR_USER };

static const struct {
    const char *name;
    unsigned kind;
    unsigned scope;
} kPlaceholders[] = {
    {"ProgramFiles", PH_FOLDER, FOR_MACHINE}, {"CommonStartMenu", PH_FOLDER, FOR_MACHINE},
    {"CommonDesktop", PH_FOLDER, FOR_MACHINE}, {"CommonAppData", PH_FOLDER, FOR_ANY},
    {"Windows", PH_FOLDER, FOR_ANY},           {"System", PH_FOLDER, FOR_ANY},
    {"LocalAppData", PH_FOLDER, FOR_USER},     {"UserStartMenu", PH_FOLDER, FOR_USER},
    {"UserDesktop", PH_FOLDER, FOR_USER},      {"app", PH_APP, FOR_ANY},
    {"NAME", PH_PRODUCT, FOR_ANY},             {"PUBLISHER", PH_PRODUCT, FOR_ANY},
    {"VERSION", PH_PRODUCT, FOR_ANY},          {"PRODUCT_ID", PH_PRODUCT, FOR_ANY},
};
#define PLACEHOLDER_COUNT (sizeof kPlaceholders / sizeof kPlaceholders[0])

char KvpUpperAscii(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

int KvpEqualNoCase(const char *a, const char *b, size_t length) {
    size_t i;
    for (i = 0; i < length; ++i) {
        if (KvpUpperAscii(a[i]) != KvpUpperAscii(b[i])) return 0;
    }
    return 1;
}

int KvpStartsNoCase(const char *text, const char *prefix) {
    size_t length = strlen(prefix);
    return strlen(text) >= length && KvpEqualNoCase(text, prefix, length);
}

int KvpWordIs(const char *text, const char *word) {
    return strlen(text) == strlen(word) && KvpEqualNoCase(text, word, strlen(word));
}

int KvpIsDigit(char c) { return c >= '0' && c <= '9'; }

int KvpHexDigit(char c) {
    if (KvpIsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* Copies text into out, cut before a UTF-8 character and ended with "..." when it does
 * not fit: a reader sees that the sentence goes on. */
void KvpDeliverCut(const char *text, size_t length, char *out, size_t outSize) {
    size_t keep;
    if (out == NULL || outSize == 0) return;
    if (length < outSize) {
        memcpy(out, text, length);
        out[length] = '\0';
        return;
    }
    if (outSize < 4) {
        memset(out, '.', outSize - 1);
        out[outSize - 1] = '\0';
        return;
    }
    keep = outSize - 4;
    while (keep > 0 && ((unsigned char)text[keep] & 0xC0) == 0x80) --keep;
    memcpy(out, text, keep);
    memcpy(out + keep, "...", 4);
}

/* Joins the pieces (a NULL ends them) into one sentence for problem. */
int KvpSay(char *problem, size_t problemSize, const char *first, ...) {
    char message[MESSAGE_SIZE];
    size_t length = 0, room = problemSize;
    const char *piece;
    va_list pieces;
    va_start(pieces, first);
    for (piece = first; piece != NULL; piece = va_arg(pieces, const char *)) {
        size_t add = strlen(piece);
        if (add > sizeof message - 1 - length) {
            add = sizeof message - 1 - length;
            if (room > sizeof message - 1) room = sizeof message - 1; /* so the cut shows */
        }
        memcpy(message + length, piece, add);
        length += add;
    }
    va_end(pieces);
    message[length] = '\0';
    KvpDeliverCut(message, length, problem, room);
    return 0;
}

/* At text: "{{" (a literal "{", returns -1), a known placeholder (its index), or a fault:
 * -2 an unknown name, -3 no closing brace. *length is what was consumed. */
static int ScanBrace(const char *text, size_t *length) {
    const char *close;
    size_t nameLength, i;
    if (text[1] == '{') {
        *length = 2;
        return -1;
    }
    close = strchr(text + 1, '}');
    if (close == NULL) {
        *length = strlen(text);
        return -3;
    }
    nameLength = (size_t)(close - text - 1);
    *length = nameLength + 2;
    for (i = 0; i < PLACEHOLDER_COUNT; ++i) {
        if (strlen(kPlaceholders[i].name) == nameLength && KvpEqualNoCase(text + 1, kPlaceholders[i].name, nameLength))
            return (int)i;
    }
    return -2;
}

/* Whether product (NULL: any) may name placeholder found. */
static int InScope(int found, const KvProduct *product) {
    const unsigned scope = kPlaceholders[found].scope;
    return product == NULL || scope == FOR_ANY || (scope == FOR_USER) == (product->userScope != 0);
}

/* A brace fault as a sentence fragment, the text quoted up to a sane length; -4 is a
 * placeholder of the other scope. */
static int SayBraceFault(int fault, const char *at, size_t length, char *problem, size_t problemSize) {
    char shown[MAX_PLACEHOLDER_NAME];
    KvpDeliverCut(at, length, shown, sizeof shown);
    if (fault == -3) return KvpSay(problem, problemSize, "unclosed \"{\" in \"", shown, "\"", NULL);
    if (fault == -4) {
        size_t consumed;
        return kPlaceholders[ScanBrace(at, &consumed)].scope == FOR_USER
                   ? KvpSay(problem, problemSize, shown, " is a folder of the user's own: only a SCOPE=user product "
                            "may use it", NULL)
                   : KvpSay(problem, problemSize, shown, " is for all users: a SCOPE=user product cannot use it",
                            NULL);
    }
    return KvpSay(problem, problemSize, "unknown placeholder ", shown, NULL);
}

/* The first placeholder fault of text for product (NULL: scopes not checked): its code
 * from ScanBrace or -4 (0 when none), where it starts and how long it is. */
static int FindFault(const char *text, const KvProduct *product, const char **at, size_t *length) {
    while (*text != '\0') {
        size_t consumed = 1;
        if (*text == '{') {
            int found = ScanBrace(text, &consumed);
            if (found >= 0 && !InScope(found, product)) found = -4;
            if (found < -1) {
                *at = text;
                *length = consumed;
                return found;
            }
        }
        text += consumed;
    }
    return 0;
}

int KvPlaceholdersKnown(const char *text, char *unknown, size_t unknownSize) {
    const char *at;
    size_t length;
    if (unknown != NULL && unknownSize > 0) unknown[0] = '\0';
    if (text == NULL || FindFault(text, NULL, &at, &length) == 0) return 1;
    KvpDeliverCut(at, length, unknown, unknownSize);
    return 0;
}

static const char *ProductValue(const KvProduct *product, const char *name) {
    if (product == NULL) return NULL;
    if (strcmp(name, "NAME") == 0) return product->name;
    if (strcmp(name, "PUBLISHER") == 0) return product->publisher;
    if (strcmp(name, "VERSION") == 0) return product->version;
    return product->productId;
}

/* KvExpand with only the placeholder kinds in allowed; the product checks use it to keep
 * folders out of paths that must stay below {app}. */
static int ExpandInto(const char *text, unsigned allowed, const KvProduct *product, const char *app,
                      KvFolderLookup folder, void *context, char *out, size_t outSize, char *problem,
                      size_t problemSize) {
    size_t used = 0;
    if (out == NULL || outSize == 0) return KvpSay(problem, problemSize, "no room for the result", NULL);
    out[0] = '\0';
    if (text == NULL) return 1;
    while (*text != '\0') {
        const char *piece = text;
        size_t pieceLength = 1, consumed = 1;
        if (*text == '{') {
            int found = ScanBrace(text, &consumed);
            if (found >= 0 && !InScope(found, product)) found = -4;
            if (found < -1) return SayBraceFault(found, text, consumed, problem, problemSize);
            if (found >= 0) {
                const char *name = kPlaceholders[found].name;
                if ((kPlaceholders[found].kind & allowed) == 0)
                    return KvpSay(problem, problemSize, "{", name, "} cannot be used here", NULL);
                if (kPlaceholders[found].kind == PH_FOLDER)
                    piece = folder != NULL ? folder(context, name) : NULL;
                else if (kPlaceholders[found].kind == PH_APP)
                    piece = app;
                else
                    piece = ProductValue(product, name);
                if (piece == NULL && kPlaceholders[found].kind == PH_FOLDER)
                    return KvpSay(problem, problemSize, "the system gave no folder for {", name, "}", NULL);
                if (piece == NULL)
                    return KvpSay(problem, problemSize, "{", name,
                           kPlaceholders[found].kind == PH_APP ? "} is not chosen yet" : "} has no value here",
                           NULL);
                pieceLength = strlen(piece);
            }
        }
        if (pieceLength >= outSize - used) return KvpSay(problem, problemSize, "the expanded text is too long", NULL);
        memcpy(out + used, piece, pieceLength);
        used += pieceLength;
        out[used] = '\0';
        text += consumed;
    }
    return 1;
}

int KvpExpandOnly(const char *text, unsigned allowed, const KvProduct *product, const char *app,
                      KvFolderLookup folder, void *context, char *out, size_t outSize, char *problem,
                      size_t problemSize) {
    if (ExpandInto(text, allowed, product, app, folder, context, out, outSize, problem, problemSize)) return 1;
    if (out != NULL && outSize > 0) out[0] = '\0'; /* nothing half-expanded is ever used */
    return 0;
}

int KvExpand(const char *text, const KvProduct *product, const char *app, KvFolderLookup folder, void *context,
             char *out, size_t outSize, char *problem, size_t problemSize) {
    if (problem != NULL && problemSize > 0) problem[0] = '\0';
    return KvpExpandOnly(text, PH_ALL, product, app, folder, context, out, outSize, problem, problemSize);
}

const char *KvProductAppRelative(const char *path) {
    if (path == NULL || !KvpStartsNoCase(path, "{app}\\")) return NULL;
    return path + 6;
}

int KvpLeadingFolder(const char *text) {
    size_t i;
    for (i = 0; i < PLACEHOLDER_COUNT; ++i) {
        size_t length = strlen(kPlaceholders[i].name);
        if (kPlaceholders[i].kind == PH_FOLDER && text[0] == '{' && strlen(text) > length + 1 &&
            KvpEqualNoCase(text + 1, kPlaceholders[i].name, length) && text[length + 1] == '}')
            return (int)(length + 2);
    }
    return 0;
}

int KvpPlaceholderFault(const char *text, const KvProduct *product, char *reason, size_t reasonSize) {
    const char *at;
    size_t length;
    int fault = FindFault(text, product, &at, &length);
    if (fault == 0) return 0;
    SayBraceFault(fault, at, length, reason, reasonSize);
    return 1;
}

int KvpIsUtf8(const unsigned char *s) {
    while (*s != 0) {
        unsigned extra = *s >= 0xF0 ? 3u : *s >= 0xE0 ? 2u : 1u, i;
        uint32_t code = *s & (0x7Fu >> (extra + 1));
        if (*s < 0x80) {
            ++s;
            continue;
        }
        if (*s < 0xC2 || *s > 0xF4) return 0;
        for (i = 1; i <= extra; ++i) {
            if ((s[i] & 0xC0) != 0x80) return 0;
            code = (code << 6) | (s[i] & 0x3Fu);
        }
        if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (extra == 3 && (code < 0x10000 || code > 0x10FFFF)))
            return 0;
        s += extra + 1;
    }
    return 1;
}
