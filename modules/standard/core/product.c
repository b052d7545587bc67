/* The product file's checks and its version numbers (product.h); the placeholders are
 * in placeholders.c. Portable C99: no I/O, no allocation, no globals. Every copy is
 * bounded and a text that does not fit is an error, never cut. */
#include "product.h"
#include "product_text.h"

#include <string.h>

static int ParseVersion(const char *text, uint16_t parts[4]) {
    unsigned count = 0;
    if (text == NULL) return 0;
    parts[0] = parts[1] = parts[2] = parts[3] = 0;
    for (;;) {
        uint32_t value = 0;
        if (!KvpIsDigit(*text) || count == 4) return 0;
        while (KvpIsDigit(*text)) {
            value = value * 10 + (uint32_t)(*text++ - '0');
            if (value > 65535) return 0;
        }
        parts[count++] = (uint16_t)value;
        if (*text == '\0') return 1;
        if (*text++ != '.') return 0;
    }
}

int KvCompareVersions(const char *a, const char *b) {
    uint16_t left[4], right[4];
    int leftValid = ParseVersion(a, left), rightValid = ParseVersion(b, right);
    unsigned i;
    if (!leftValid || !rightValid) return leftValid - rightValid;
    for (i = 0; i < 4; ++i) {
        if (left[i] != right[i]) return left[i] < right[i] ? -1 : 1;
    }
    return 0;
}

/* ---- reading the product file ---- */

typedef struct Reader {
    KvProductLookup lookup;
    void *context;
    KvProduct *product;
    char *problem;
    size_t problemSize;
} Reader;


/* Reads key into out. Returns 1 with a value, 0 when it is absent (an empty value counts
 * as absent, as the host's lookup cannot tell them apart), -1 when it is bad. */
static int Get(Reader *r, const char *key, char out[KV_PRODUCT_TEXT]) {
    const char *value = r->lookup(r->context, key);
    size_t length = 0;
    out[0] = '\0';
    if (value == NULL) return 0;
    while (length < KV_PRODUCT_TEXT - 1 && value[length] != '\0') ++length;
    if (length >= KV_PRODUCT_TEXT - 1) {
        KvpSay(r->problem, r->problemSize, key, ": the value is 255 bytes or longer (at most 254)", NULL);
        return -1;
    }
    if (length == 0) return 0;
    memcpy(out, value, length + 1);
    if (!KvpIsUtf8((const unsigned char *)out)) {
        KvpSay(r->problem, r->problemSize, key, ": the value is not UTF-8 text", NULL);
        return -1;
    }
    for (length = 0; out[length] != '\0'; ++length) {
        if ((unsigned char)out[length] < 0x20 || out[length] == 0x7F) {
            KvpSay(r->problem, r->problemSize, key, ": the value holds a control character", NULL);
            return -1;
        }
    }
    return 1;
}

static int IsForbiddenInName(char c) {
    return c == '<' || c == '>' || c == ':' || c == '"' || c == '/' || c == '\\' || c == '|' || c == '?' ||
           c == '*';
}

/* CON, PRN, AUX, NUL, COM1-9 and LPT1-9, with or without an extension, name devices. */
static int IsDeviceName(const char *name, size_t length) {
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL", "COM", "LPT"};
    size_t base = 0, i;
    while (base < length && name[base] != '.') ++base;
    for (i = 0; i < 6; ++i) {
        if (base >= 3 && KvpEqualNoCase(name, devices[i], 3) &&
            (base == 3 ? i < 4 : base == 4 && i >= 4 && name[3] >= '1' && name[3] <= '9'))
            return 1;
    }
    return 0;
}

/* Why a '\'-separated relative path cannot be used, or NULL. Windows drops a name's
 * trailing dots and blanks, so "..." or "a." would not be the name recorded. */
static const char *BadComponents(const char *path) {
    for (;;) {
        size_t length = 0;
        int dotsOnly = 1;
        while (path[length] != '\0' && path[length] != '\\') {
            if (IsForbiddenInName(path[length])) return "holds one of < > : \" / | ? *";
            if (path[length] != '.') dotsOnly = 0;
            ++length;
        }
        if (length == 0) return "has an empty part";
        if (dotsOnly) return "has a \".\" or \"..\" part";
        if (path[length - 1] == '.' || path[length - 1] == ' ') return "has a part ending in a dot or blank";
        if (IsDeviceName(path, length)) return "has a device name (CON, NUL, COM1, ...) as a part";
        if (path[length] == '\0') return NULL;
        path += length + 1;
    }
}

/* Product placeholders only, then the parts checked: what stays below a known folder. */
static int CheckRelative(Reader *r, const char *key, const char *what, const char *text, const char *rest) {
    char expanded[KV_PRODUCT_PATH], reason[MESSAGE_SIZE];
    const char *bad;
    if (!KvpExpandOnly(rest, PH_PRODUCT, r->product, NULL, NULL, NULL, expanded, sizeof expanded, reason,
                    sizeof reason))
        return KvpSay(r->problem, r->problemSize, key, ": ", reason, NULL);
    bad = BadComponents(expanded);
    if (bad != NULL) return KvpSay(r->problem, r->problemSize, key, ": the ", what, " \"", text, "\" ", bad, NULL);
    return 1;
}

/* A path that must stay inside {app}: "{app}" alone (when file is 0) or "{app}\..." */
static int CheckAppPath(Reader *r, const char *key, const char *what, const char *text, int file) {
    if (KvpStartsNoCase(text, "{app}") && (text[5] == '\0' ? !file : text[5] == '\\'))
        return text[5] == '\0' ? 1 : CheckRelative(r, key, what, text, text + 6);
    return KvpSay(r->problem, r->problemSize, key, ": the ", what, " \"", text,
               "\" is not inside {app} (it must start with ", file ? "{app}\\)" : "{app})", NULL);
}

/* "path[,index]": the index, when there is one, is a resource number that may be negative. */
static int CheckIcon(Reader *r, const char *key, const char *text) {
    char path[KV_PRODUCT_TEXT];
    const char *comma = strrchr(text, ',');
    size_t length = strlen(text);
    if (comma != NULL) {
        const char *digits = comma + 1 + (comma[1] == '-');
        size_t count = strlen(digits);
        size_t i;
        int number = count > 0 && count <= 9;
        for (i = 0; i < count; ++i) number = number && KvpIsDigit(digits[i]);
        if (number) length = (size_t)(comma - text);
    }
    memcpy(path, text, length);
    path[length] = '\0';
    return CheckAppPath(r, key, "icon", path, 1);
}

static int CheckPlaceholders(Reader *r, const char *key, const char *text) {
    char reason[MESSAGE_SIZE];
    if (!KvpPlaceholderFault(text, r->product, reason, sizeof reason)) return 1;
    return KvpSay(r->problem, r->problemSize, key, ": ", reason, NULL);
}

/* The install folder: a known folder or a drive, then at least one part of its own. */
static int CheckTarget(Reader *r, const char *text) {
    size_t base;
    if (!CheckPlaceholders(r, "TARGET", text)) return 0;
    base = (size_t)KvpLeadingFolder(text);
    if (base == 0 && ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z')) && text[1] == ':')
        base = 2;
    if (base == 0 || (text[base] != '\0' && text[base] != '\\'))
        return KvpSay(r->problem, r->problemSize, "TARGET: \"", text,
                   "\" does not start with a known folder such as {ProgramFiles}, or a drive", NULL);
    if (text[base] == '\0' || text[base + 1] == '\0')
        return KvpSay(r->problem, r->problemSize, "TARGET: \"", text,
                   "\" must name a folder of its own below the first one", NULL);
    return CheckRelative(r, "TARGET", "folder", text, text + base + 1);
}

/* Cuts value at '|' into at most max fields of KV_PRODUCT_TEXT; returns the count, or
 * max + 1 when there are more. */
static unsigned SplitFields(const char *value, char fields[][KV_PRODUCT_TEXT], unsigned max) {
    unsigned count = 0;
    for (;;) {
        const char *bar = strchr(value, '|');
        size_t length = bar != NULL ? (size_t)(bar - value) : strlen(value);
        if (count == max) return max + 1;
        memcpy(fields[count], value, length); /* length < the whole value's 255 bytes */
        fields[count][length] = '\0';
        ++count;
        if (bar == NULL) return count;
        value = bar + 1;
    }
}

/* prefix and number, as the numbered keys and the limits in sentences are written. */
static void NumberedKey(char *out, const char *prefix, unsigned number) {
    char digits[12];
    size_t count = 0, length = strlen(prefix);
    do {
        digits[count++] = (char)('0' + number % 10);
        number /= 10;
    } while (number != 0);
    memcpy(out, prefix, length);
    while (count > 0) out[length++] = digits[--count];
    out[length] = '\0';
}

/* The link's file name with the product's values in it: one name on the desktop, a
 * name under Start-menu folders of its own otherwise. */
static int ShortcutName(Reader *r, const char *key, KvShortcutPlace place, const char *text, char *out,
                        size_t outSize) {
    char reason[MESSAGE_SIZE];
    const char *bad;
    if (!KvpExpandOnly(text, PH_PRODUCT, r->product, NULL, NULL, NULL, out, outSize, reason, sizeof reason))
        return KvpSay(r->problem, r->problemSize, key, ": ", reason, NULL);
    bad = BadComponents(out);
    if (bad == NULL && place == KV_SHORTCUT_DESKTOP && strchr(out, '\\') != NULL)
        bad = "has a sub-folder (only Start-menu links have one)";
    if (bad != NULL) return KvpSay(r->problem, r->problemSize, key, ": the name \"", text, "\" ", bad, NULL);
    return 1;
}

static int ReadShortcut(Reader *r, const char *key, const char *value, KvShortcut *link) {
    char fields[5][KV_PRODUCT_TEXT], name[KV_PRODUCT_PATH], other[KV_PRODUCT_PATH];
    unsigned count = SplitFields(value, fields, 5), i;
    if (count < 3 || count > 5)
        return KvpSay(r->problem, r->problemSize, key, ": \"", value, "\" is not place|name|target|arguments|icon", NULL);
    for (i = count; i < 5; ++i) fields[i][0] = '\0'; /* arguments and icon may be left out */
    if (KvpWordIs(fields[0], "startmenu")) link->place = KV_SHORTCUT_START_MENU;
    else if (KvpWordIs(fields[0], "desktop")) link->place = KV_SHORTCUT_DESKTOP;
    else return KvpSay(r->problem, r->problemSize, key, ": unknown place \"", fields[0], "\" (startmenu or desktop)",
                    NULL);
    if (!ShortcutName(r, key, link->place, fields[1], name, sizeof name)) return 0;
    if (!CheckAppPath(r, key, "target", fields[2], 1) || !CheckPlaceholders(r, key, fields[3])) return 0;
    if (fields[4][0] != '\0' && !CheckIcon(r, key, fields[4])) return 0;
    /* Two links of one name would overwrite each other, and undo would lose the first. */
    for (i = 0; i < r->product->shortcutCount; ++i) {
        const KvShortcut *earlier = &r->product->shortcuts[i];
        char earlierKey[24];
        if (earlier->place != link->place ||
            !KvpExpandOnly(earlier->name, PH_PRODUCT, r->product, NULL, NULL, NULL, other, sizeof other, NULL, 0) ||
            !KvpWordIs(other, name))
            continue;
        NumberedKey(earlierKey, "SHORTCUT", i + 1);
        return KvpSay(r->problem, r->problemSize, key, ": the link \"", fields[1], "\" is made by ", earlierKey,
                   " already", NULL);
    }
    memcpy(link->name, fields[1], sizeof link->name);
    memcpy(link->target, fields[2], sizeof link->target);
    memcpy(link->arguments, fields[3], sizeof link->arguments);
    memcpy(link->icon, fields[4], sizeof link->icon);
    return 1;
}

/* A dword: decimal 0-4294967295 or 0x and 1-8 hex digits. */
static int IsDword(const char *text) {
    uint64_t value = 0;
    size_t count = 0;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        for (text += 2; KvpHexDigit(*text) >= 0; ++text) ++count;
        return count >= 1 && count <= 8 && *text == '\0';
    }
    for (; KvpIsDigit(*text); ++text) {
        value = value * 10 + (uint64_t)(*text - '0');
        if (value > 0xFFFFFFFFu) return 0;
        ++count;
    }
    return count >= 1 && *text == '\0';
}

static int ReadReg(Reader *r, const char *key, const char *value, KvReg *reg) {
    char fields[5][KV_PRODUCT_TEXT], expanded[KV_PRODUCT_PATH], reason[MESSAGE_SIZE];
    size_t length;
    if (SplitFields(value, fields, 5) != 5)
        return KvpSay(r->problem, r->problemSize, key, ": \"", value, "\" is not root|key|name|type|value", NULL);
    if (KvpWordIs(fields[0], "HKLM")) reg->root = KV_REG_HKLM;
    else if (KvpWordIs(fields[0], "HKCU")) reg->root = KV_REG_HKCU;
    else return KvpSay(r->problem, r->problemSize, key, ": unknown root \"", fields[0], "\" (HKLM or HKCU)", NULL);
    if (reg->root == KV_REG_HKLM && r->product->userScope)
        return KvpSay(r->problem, r->problemSize, key, ": HKLM is for all users: a SCOPE=user product writes HKCU only",
                      NULL);
    if (!KvpExpandOnly(fields[1], PH_PRODUCT, r->product, NULL, NULL, NULL, expanded, sizeof expanded, reason,
                    sizeof reason))
        return KvpSay(r->problem, r->problemSize, key, ": ", reason, NULL);
    length = strlen(expanded);
    if (length == 0 || expanded[0] == '\\' || expanded[length - 1] == '\\' || strstr(expanded, "\\\\") != NULL)
        return KvpSay(r->problem, r->problemSize, key, ": the key \"", fields[1], "\" has an empty part", NULL);
    if (!KvpExpandOnly(fields[2], PH_PRODUCT, r->product, NULL, NULL, NULL, expanded, sizeof expanded, reason,
                    sizeof reason))
        return KvpSay(r->problem, r->problemSize, key, ": ", reason, NULL);
    if (KvpWordIs(fields[3], "string")) reg->type = KV_REG_STRING;
    else if (KvpWordIs(fields[3], "expand")) reg->type = KV_REG_EXPAND_STRING;
    else if (KvpWordIs(fields[3], "dword")) reg->type = KV_REG_DWORD;
    else return KvpSay(r->problem, r->problemSize, key, ": unknown type \"", fields[3], "\" (string, expand or dword)",
                    NULL);
    if (reg->type == KV_REG_DWORD && !IsDword(fields[4]))
        return KvpSay(r->problem, r->problemSize, key, ": \"", fields[4],
                   "\" is not a dword (decimal, or 0x and hex digits)", NULL);
    if (!CheckPlaceholders(r, key, fields[4])) return 0;
    memcpy(reg->key, fields[1], sizeof reg->key);
    memcpy(reg->name, fields[2], sizeof reg->name);
    memcpy(reg->value, fields[4], sizeof reg->value);
    return 1;
}

/* Reads SHORTCUT1.. or REG1.. until the first missing number; one past max is an error. */
static int ReadNumbered(Reader *r, const char *prefix, unsigned max, int shortcuts) {
    unsigned number;
    for (number = 1;; ++number) {
        char key[24], value[KV_PRODUCT_TEXT];
        int got;
        NumberedKey(key, prefix, number);
        got = Get(r, key, value);
        if (got < 0) return 0;
        if (got == 0) return 1;
        if (number > max) {
            char limit[12];
            NumberedKey(limit, "", max);
            return KvpSay(r->problem, r->problemSize, key, ": at most ", limit,
                       shortcuts ? " shortcuts" : " registry values", NULL);
        }
        if (shortcuts) {
            if (!ReadShortcut(r, key, value, &r->product->shortcuts[number - 1])) return 0;
            r->product->shortcutCount = number;
        } else {
            if (!ReadReg(r, key, value, &r->product->regs[number - 1])) return 0;
            r->product->regCount = number;
        }
    }
}

static const char *NoFolder(void *context, const char *name) {
    (void)context;
    (void)name;
    return "";
}

/* A ';' in the PATH entry, from its own text or from the install folder's, would split it
 * in two, the second one anywhere. The folder the user picks is the module's to check. */
static int SplitsPath(const KvProduct *product) {
    char expanded[KV_PRODUCT_PATH];
    return !KvpExpandOnly(product->target, PH_FOLDER | PH_PRODUCT, product, NULL, NoFolder, NULL, expanded,
                       sizeof expanded, NULL, 0) ||
           strchr(expanded, ';') != NULL ||
           !KvpExpandOnly(product->pathEntry, PH_APP | PH_PRODUCT, product, "", NULL, NULL, expanded, sizeof expanded,
                       NULL, 0) ||
           strchr(expanded, ';') != NULL;
}

/* NAME and PUBLISHER become folder names in the default install folder. */
static int CheckFolderName(Reader *r, const char *key, const char *text) {
    const char *bad = BadComponents(text);
    if (bad == NULL && strchr(text, '\\') == NULL && text[0] != ' ') return 1;
    return KvpSay(r->problem, r->problemSize, key, ": \"", text,
               "\" cannot be a folder name (no < > : \" / \\ | ? *, no leading blank, no trailing dot or blank)",
               NULL);
}

int KvReadProduct(KvProductLookup lookup, void *context, KvProduct *product, char *problem, size_t problemSize) {
    static const char *const required[] = {"PRODUCT_ID", "NAME", "VERSION", "PUBLISHER"};
    static const size_t requiredAt[] = {offsetof(KvProduct, productId), offsetof(KvProduct, name),
                                        offsetof(KvProduct, version), offsetof(KvProduct, publisher)};
    char value[KV_PRODUCT_TEXT];
    Reader r;
    size_t i;
    int got;
    if (lookup == NULL || product == NULL) return KvpSay(problem, problemSize, "no product file to read", NULL);
    r.lookup = lookup;
    r.context = context;
    r.product = product;
    r.problem = problem;
    r.problemSize = problemSize;
    memset(product, 0, sizeof *product);
    if (problem != NULL && problemSize > 0) problem[0] = '\0';
    for (i = 0; i < 4; ++i) {
        got = Get(&r, required[i], (char *)product + requiredAt[i]);
        if (got < 0) return 0;
        if (got == 0) return KvpSay(problem, problemSize, required[i], ": missing (every product file needs it)", NULL);
    }
    for (i = 0; product->productId[i] != '\0'; ++i) {
        char c = product->productId[i];
        if (!(KvpIsDigit(c) || (KvpUpperAscii(c) >= 'A' && KvpUpperAscii(c) <= 'Z') || c == '.' || c == '_' || c == '-' ||
              c == '{' || c == '}'))
            break;
    }
    if (product->productId[i] != '\0' || i > 64 || strspn(product->productId, ".") == i)
        return KvpSay(problem, problemSize, "PRODUCT_ID: \"", product->productId,
                   "\" is not an id (1 to 64 of A-Z a-z 0-9 . _ - { }, not only dots)", NULL);
    if (!ParseVersion(product->version, product->versionParts))
        return KvpSay(problem, problemSize, "VERSION: \"", product->version,
                   "\" is not a version (1 to 4 dotted numbers, each 0-65535)", NULL);
    if (!CheckFolderName(&r, "NAME", product->name) || !CheckFolderName(&r, "PUBLISHER", product->publisher)) return 0;

    if ((got = Get(&r, "URL", product->url)) < 0) return 0;
    if (got > 0 && !KvpStartsNoCase(product->url, "https://") && !KvpStartsNoCase(product->url, "http://"))
        return KvpSay(problem, problemSize, "URL: \"", product->url, "\" is not an http:// or https:// address", NULL);
    if ((got = Get(&r, "ICON", product->icon)) < 0) return 0;
    /* A file of the payload may be named as it lies there, without {app}\ before it. */
    if (got > 0 && product->icon[0] != '{') {
        const size_t length = strlen(product->icon);
        if (length + 6 >= KV_PRODUCT_TEXT)
            return KvpSay(problem, problemSize, "ICON: the value is too long once {app}\\ is put before it", NULL);
        memmove(product->icon + 6, product->icon, length + 1);
        memcpy(product->icon, "{app}\\", 6);
    }
    if (got > 0 && !CheckIcon(&r, "ICON", product->icon)) return 0;

    /* First: every folder and registry root below is judged by it. */
    if ((got = Get(&r, "SCOPE", value)) < 0) return 0;
    if (got > 0 && !KvpWordIs(value, "machine") && !KvpWordIs(value, "user"))
        return KvpSay(problem, problemSize, "SCOPE: \"", value, "\" is neither machine nor user", NULL);
    product->userScope = got > 0 && KvpWordIs(value, "user");

    if ((got = Get(&r, "TARGET", product->target)) < 0) return 0;
    if (got == 0 && product->userScope) memcpy(product->target, "{LocalAppData}\\Programs\\{NAME}", 31);
    else if (got == 0) memcpy(product->target, "{ProgramFiles}\\{PUBLISHER}\\{NAME}", 34);
    if (!CheckTarget(&r, product->target)) return 0;

    if ((got = Get(&r, "ASK_TARGET", value)) < 0) return 0;
    if (got > 0 && strcmp(value, "0") != 0 && strcmp(value, "1") != 0)
        return KvpSay(problem, problemSize, "ASK_TARGET: \"", value, "\" is neither 0 nor 1", NULL);
    product->askTarget = got == 0 || value[0] == '1';

    if ((got = Get(&r, "PAYLOAD", product->payload)) < 0) return 0;
    if (got == 0) memcpy(product->payload, "app", 4);
    if (BadComponents(product->payload) != NULL || strchr(product->payload, '{') != NULL)
        return KvpSay(problem, problemSize, "PAYLOAD: \"", product->payload,
                   "\" is not a relative archive folder (no drive, no leading \\, no \"..\", no placeholder)", NULL);

    if ((got = Get(&r, "PATH", product->pathEntry)) < 0) return 0;
    if (got > 0 && !CheckAppPath(&r, "PATH", "folder", product->pathEntry, 0)) return 0;
    if (got > 0 && SplitsPath(product))
        return KvpSay(problem, problemSize, "PATH: \"", product->pathEntry, "\" or the install folder holds a \";\"",
                   NULL);

    return ReadNumbered(&r, "SHORTCUT", KV_PRODUCT_MAX_SHORTCUTS, 1) &&
           ReadNumbered(&r, "REG", KV_PRODUCT_MAX_REGS, 0);
}
