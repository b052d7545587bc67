/* The standard module's registry work: the product's REGn values, its PATH entry and its
 * installed-apps entry (the machine's, or the user's own for a per-user product), each
 * journalled before it is written, and their undo. Uses the process's own registry view;
 * never changes what it has not recorded. */
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "standard_run.h"

#define END_TEXTS ((const char *)NULL)
#define ENVIRONMENT_KEY L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"
#define USER_ENVIRONMENT_KEY L"Environment"
#define ENVIRONMENT_NAME L"Path"
#define APPS_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
/* An expanded value: a product text with {app} and known folders in it. */
#define VALUE_TEXT (4 * KV_PRODUCT_PATH)
/* "root\key\name" of journal fields (each below KV_JOURNAL_FIELD bytes). */
#define DESCRIPTION (3 * KV_JOURNAL_FIELD)

static HKEY RootKey(const char *name) {
    if (strcmp(name, "HKLM") == 0) return HKEY_LOCAL_MACHINE;
    if (strcmp(name, "HKCU") == 0) return HKEY_CURRENT_USER;
    return NULL;
}

static void Describe(char out[DESCRIPTION], const char *root, const char *key, const char *name) {
    snprintf(out, DESCRIPTION, "%s\\%s\\%s", root, key, name[0] != '\0' ? name : "(default)");
}

/* Reads a value of any size into a malloc'ed block, zero-padded so that a string
 * stored without its terminator still ends. ERROR_FILE_NOT_FOUND when there is none. */
static LONG ReadValue(HKEY key, const wchar_t *name, DWORD *type, BYTE **data, DWORD *size) {
    DWORD capacity = 512;
    for (;;) {
        BYTE *block = (BYTE *)malloc((size_t)capacity + 4);
        DWORD got = capacity;
        LONG result;
        if (block == NULL) return ERROR_NOT_ENOUGH_MEMORY;
        result = RegQueryValueExW(key, name, NULL, type, block, &got);
        if (result == ERROR_SUCCESS && got <= capacity) {
            memset(block + got, 0, 4);
            *data = block;
            *size = got;
            return ERROR_SUCCESS;
        }
        free(block);
        if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) return result;
        /* The value may grow between the calls: ask again with what it needs now. */
        if (got > 0x40000000u) return ERROR_NOT_ENOUGH_MEMORY;
        capacity = got > capacity ? got : capacity * 2;
    }
}

/* Opens root\key for reading and writing values, creating the parts that are missing
 * one by one, each announced by a regkey record first. */
static int OpenKeyForValues(KvRun *run, HKEY root, const char *rootName, const char *key, HKEY *out) {
    char prefix[KV_JOURNAL_FIELD];
    wchar_t wide[KV_JOURNAL_FIELD];
    const size_t length = strlen(key);
    size_t existing = 0; /* bytes of key that name a key that exists */
    size_t end;
    HKEY parent = root;
    LONG result;
    /* An empty part would make RegCreateKeyExW open the parent instead. */
    if (length == 0 || length >= sizeof prefix || key[0] == '\\' || key[length - 1] == '\\' ||
        strstr(key, "\\\\") != NULL || !KvToWide(key, wide, KV_JOURNAL_FIELD)) {
        KvPrintFailuref(run, 0, "The registry key %s\\%s cannot be used", rootName, key);
        return 0;
    }
    result = RegOpenKeyExW(root, wide, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, out);
    if (result == ERROR_SUCCESS) return 1;
    if (result != ERROR_FILE_NOT_FOUND) {
        KvPrintFailuref(run, (DWORD)result, "Cannot open the registry key %s\\%s", rootName, key);
        return 0;
    }
    for (end = 0; end <= length; ++end) {
        HKEY probe;
        if (key[end] != '\\' && key[end] != '\0') continue;
        memcpy(prefix, key, end);
        prefix[end] = '\0';
        KvToWide(prefix, wide, KV_JOURNAL_FIELD); /* a part of what converted above */
        result = RegOpenKeyExW(root, wide, 0, KEY_QUERY_VALUE, &probe);
        if (result == ERROR_FILE_NOT_FOUND) break;
        if (result != ERROR_SUCCESS) {
            KvPrintFailuref(run, (DWORD)result, "Cannot open the registry key %s\\%s", rootName, prefix);
            return 0;
        }
        RegCloseKey(probe);
        existing = end;
    }
    if (existing > 0) {
        memcpy(prefix, key, existing);
        prefix[existing] = '\0';
        KvToWide(prefix, wide, KV_JOURNAL_FIELD);
        /* Made meanwhile by someone else: nothing of it is ours. */
        if (existing == length) result = RegOpenKeyExW(root, wide, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, out);
        else result = RegOpenKeyExW(root, wide, 0, KEY_CREATE_SUB_KEY, &parent);
        if (result != ERROR_SUCCESS) {
            KvPrintFailuref(run, (DWORD)result, "Cannot open the registry key %s\\%s", rootName, prefix);
            return 0;
        }
        if (existing == length) return 1;
    }
    for (end = existing == 0 ? 0 : existing + 1; end < length;) {
        const size_t start = end;
        const int last = strchr(key + start, '\\') == NULL;
        HKEY child;
        end = last ? length : (size_t)(strchr(key + start, '\\') - key);
        memcpy(prefix, key, end);
        prefix[end] = '\0';
        KvToWide(prefix + start, wide, KV_JOURNAL_FIELD);
        if (!KvJournalAppendTexts(run, KV_J_REGKEY, rootName, prefix, END_TEXTS)) {
            result = ERROR_CANCELLED;
        } else {
            result = RegCreateKeyExW(parent, wide, 0, NULL, REG_OPTION_NON_VOLATILE,
                                     last ? KEY_QUERY_VALUE | KEY_SET_VALUE : KEY_CREATE_SUB_KEY, NULL, &child,
                                     NULL);
            if (result != ERROR_SUCCESS) {
                KvPrintFailuref(run, (DWORD)result, "Cannot create the registry key %s\\%s", rootName, prefix);
            }
        }
        if (parent != root) RegCloseKey(parent);
        if (result != ERROR_SUCCESS) return 0;
        parent = child;
        ++end;
    }
    *out = parent;
    return 1;
}

/* Decimal or 0x hex, 32 bits. */
static int ParseDword(const char *text, DWORD *out) {
    uint64_t value = 0;
    unsigned base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (*text == '\0') return 0;
    for (; *text != '\0'; ++text) {
        const char c = *text;
        unsigned digit;
        if (c >= '0' && c <= '9') digit = (unsigned)(c - '0');
        else if (base == 16 && (c | 0x20) >= 'a' && (c | 0x20) <= 'f') digit = (unsigned)((c | 0x20) - 'a' + 10);
        else return 0;
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) return 0;
    }
    *out = (DWORD)value;
    return 1;
}

static int WriteValue(KvRun *run, const KvReg *reg) {
    const char *rootName = reg->root == KV_REG_HKCU ? "HKCU" : "HKLM";
    char keyPath[KV_PRODUCT_PATH]; /* key and name may hold the product's values and "{{" */
    char valueName[KV_PRODUCT_PATH];
    char description[DESCRIPTION];
    char expanded[VALUE_TEXT];
    char old[KV_JOURNAL_FIELD];
    wchar_t name[KV_PRODUCT_PATH];
    wchar_t text[VALUE_TEXT];
    DWORD number = 0;
    DWORD oldType = 0;
    DWORD oldSize = 0;
    BYTE *oldData = NULL;
    HKEY key;
    LONG result;
    size_t oldLength;
    if (!KvExpandText(run, reg->key, keyPath, sizeof keyPath) ||
        !KvExpandText(run, reg->name, valueName, sizeof valueName)) {
        return 0;
    }
    Describe(description, rootName, keyPath, valueName);
    if (reg->type == KV_REG_DWORD) {
        if (!ParseDword(reg->value, &number)) {
            KvPrintFailuref(run, 0, "The value for %s is no number: %s", description, reg->value);
            return 0;
        }
    } else if (!KvExpandText(run, reg->value, expanded, sizeof expanded)) {
        return 0;
    } else if (!KvToWide(expanded, text, VALUE_TEXT)) {
        KvPrintFailuref(run, 0, "The value for %s cannot be used: %s", description, expanded);
        return 0;
    }
    if (!KvToWide(valueName, name, KV_PRODUCT_PATH)) {
        KvPrintFailuref(run, 0, "The value name of %s cannot be used", description);
        return 0;
    }
    if (!OpenKeyForValues(run, reg->root == KV_REG_HKCU ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, rootName, keyPath,
                          &key)) {
        return 0;
    }
    result = ReadValue(key, name, &oldType, &oldData, &oldSize);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
        KvPrintFailuref(run, (DWORD)result, "Cannot read the value %s", description);
        RegCloseKey(key);
        return 0;
    }
    oldLength = KvFormatOldValue(result == ERROR_SUCCESS, oldType, oldData, oldSize, old, sizeof old);
    free(oldData);
    /* A value that cannot be put back is not replaced. */
    if (oldLength == 0) {
        KvPrintFailuref(run, 0, "The value %s now holds %lu bytes, more than the journal can keep; it is left as it is",
                description, (unsigned long)oldSize);
        RegCloseKey(key);
        return 0;
    }
    if (!KvJournalAppendTexts(run, KV_J_REGVALUE, rootName, keyPath, valueName, old, END_TEXTS)) {
        RegCloseKey(key);
        return 0;
    }
    if (reg->type == KV_REG_DWORD) {
        result = RegSetValueExW(key, name, 0, REG_DWORD, (const BYTE *)&number, sizeof number);
    } else {
        result = RegSetValueExW(key, name, 0, reg->type == KV_REG_EXPAND_STRING ? REG_EXPAND_SZ : REG_SZ,
                                (const BYTE *)text, (DWORD)((wcslen(text) + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        KvPrintFailuref(run, (DWORD)result, "Cannot write the value %s", description);
        return 0;
    }
    if (reg->type == KV_REG_DWORD) KvPrintf(run, KV_COLOR_PROGRESS, "Registry: %s = %lu", description, number);
    else KvPrintf(run, KV_COLOR_PROGRESS, "Registry: %s = %s", description, expanded);
    return 1;
}

/* PATH entries compare as Windows treats folders: case ignored, a trailing '\' too. */
static int SameEntry(const wchar_t *a, size_t aLength, const wchar_t *b, size_t bLength) {
    while (aLength > 0 && a[aLength - 1] == L'\\') --aLength;
    while (bLength > 0 && b[bLength - 1] == L'\\') --bLength;
    return aLength > 0 && aLength <= 0x7FFFFFFF && bLength <= 0x7FFFFFFF &&
           CompareStringOrdinal(a, (int)aLength, b, (int)bLength, TRUE) == CSTR_EQUAL;
}

/* The last entry of list equal to entry: *start and *end bound it; 0 when none is. */
static int FindEntry(const wchar_t *list, size_t length, const wchar_t *entry, size_t *start, size_t *end) {
    const size_t entryLength = wcslen(entry);
    size_t from = 0;
    int found = 0;
    while (from <= length) {
        size_t to = from;
        while (to < length && list[to] != L';') ++to;
        if (SameEntry(list + from, to - from, entry, entryLength)) {
            *start = from;
            *end = to;
            found = 1;
        }
        from = to + 1;
    }
    return found;
}

/* The environment whose Path the product extends: the machine's, or for a per-user product
 * the user's own, which the system appends to the machine's and which needs no rights. */
static LONG OpenEnvironment(const KvRun *run, HKEY *environment) {
    if (!run->product.userScope)
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, ENVIRONMENT_KEY, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, environment);
    return RegCreateKeyExW(HKEY_CURRENT_USER, USER_ENVIRONMENT_KEY, 0, NULL, REG_OPTION_NON_VOLATILE,
                           KEY_QUERY_VALUE | KEY_SET_VALUE, NULL, environment, NULL);
}

static const char *PathOwner(const KvRun *run) { return run->product.userScope ? "user's" : "machine's"; }

/* The Path as UTF-16 text (malloc'ed, ended) with its type. A missing value reads as
 * empty, REG_EXPAND_SZ, as the system makes it. */
static LONG ReadPathValue(HKEY environment, wchar_t **text, size_t *length, DWORD *type) {
    BYTE *data = NULL;
    DWORD size = 0;
    LONG result = ReadValue(environment, ENVIRONMENT_NAME, type, &data, &size);
    if (result == ERROR_FILE_NOT_FOUND) {
        *type = REG_EXPAND_SZ;
        data = (BYTE *)calloc(1, sizeof(wchar_t));
        if (data == NULL) return ERROR_NOT_ENOUGH_MEMORY;
        size = 0;
    } else if (result != ERROR_SUCCESS) {
        return result;
    } else if (*type != REG_SZ && *type != REG_EXPAND_SZ) {
        free(data);
        return ERROR_INVALID_DATA;
    }
    *text = (wchar_t *)data;
    *length = size / sizeof(wchar_t);
    while (*length > 0 && (*text)[*length - 1] == L'\0') --*length;
    return ERROR_SUCCESS;
}

static LONG WritePathValue(HKEY environment, const wchar_t *text, size_t length, DWORD type) {
    if (length >= 0x3FFFFFFF) return ERROR_INVALID_DATA;
    return RegSetValueExW(environment, ENVIRONMENT_NAME, 0, type, (const BYTE *)text,
                          (DWORD)((length + 1) * sizeof(wchar_t)));
}

/* Running programs re-read the environment when told; a hung one is not waited for. */
static void AnnounceEnvironment(void) {
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, (LPARAM)L"Environment", SMTO_ABORTIFHUNG, 5000, NULL);
}

static int AddPathEntry(KvRun *run) {
    char folder[KV_PRODUCT_PATH];
    wchar_t entry[KV_PRODUCT_PATH];
    wchar_t *list = NULL;
    wchar_t *joined;
    size_t length = 0;
    size_t start;
    size_t end;
    size_t entryLength;
    size_t separator;
    DWORD type = 0;
    HKEY environment;
    LONG result;
    if (!KvExpandText(run, run->product.pathEntry, folder, sizeof folder)) return 0;
    if (!KvToWide(folder, entry, KV_PRODUCT_PATH) || entry[0] == L'\0' || wcschr(entry, L';') != NULL) {
        KvPrintFailuref(run, 0, "The folder cannot go into the PATH: %s", folder);
        return 0;
    }
    result = OpenEnvironment(run, &environment);
    if (result == ERROR_SUCCESS) result = ReadPathValue(environment, &list, &length, &type);
    else environment = NULL;
    if (result != ERROR_SUCCESS) {
        KvPrintFailuref(run, (DWORD)result, "Cannot read the %s PATH", PathOwner(run));
        if (environment != NULL) RegCloseKey(environment);
        return 0;
    }
    if (FindEntry(list, length, entry, &start, &end)) {
        free(list);
        RegCloseKey(environment);
        KvPrintf(run, KV_COLOR_NORMAL, "PATH already holds %s", folder);
        return 1;
    }
    entryLength = wcslen(entry);
    separator = length > 0 && list[length - 1] != L';';
    joined = (wchar_t *)malloc((length + separator + entryLength + 1) * sizeof(wchar_t));
    if (joined == NULL) {
        result = ERROR_NOT_ENOUGH_MEMORY;
    } else {
        memcpy(joined, list, length * sizeof(wchar_t));
        if (separator) joined[length] = L';';
        memcpy(joined + length + separator, entry, (entryLength + 1) * sizeof(wchar_t));
        if (!KvJournalAppendTexts(run, KV_J_PATH, folder, END_TEXTS)) result = ERROR_CANCELLED;
        else result = WritePathValue(environment, joined, length + separator + entryLength, type);
        free(joined);
    }
    free(list);
    RegCloseKey(environment);
    if (result == ERROR_CANCELLED) return 0;
    if (result != ERROR_SUCCESS) {
        KvPrintFailuref(run, (DWORD)result, "Cannot add %s to the %s PATH", folder, PathOwner(run));
        return 0;
    }
    AnnounceEnvironment();
    KvPrintf(run, KV_COLOR_PROGRESS, "PATH: added %s", folder);
    return 1;
}

int KvWriteRegistryValues(KvRun *run) {
    unsigned i;
    for (i = 0; i < run->product.regCount && i < KV_PRODUCT_MAX_REGS; ++i) {
        if (!WriteValue(run, &run->product.regs[i])) return 0;
    }
    return run->product.pathEntry[0] == '\0' || AddPathEntry(run);
}

/* A per-user product joins the user's own list of installed apps. This file sees only
 * standard_run.h; scope.c's KvAppsRootName answers the same for the others. */
static const char *AppsRootName(const KvRun *run) { return run->product.userScope ? "HKCU" : "HKLM"; }

/* One value of the installed-apps entry; names are ASCII. */
static int SetAppsValue(const KvRun *run, HKEY key, const char *keyPath, const char *name, DWORD type,
                        const char *text, DWORD number) {
    wchar_t wideName[64];
    wchar_t wide[VALUE_TEXT];
    LONG result = ERROR_INVALID_DATA;
    if (!KvToWide(name, wideName, 64)) {
        result = ERROR_INVALID_DATA;
    } else if (type == REG_DWORD) {
        result = RegSetValueExW(key, wideName, 0, REG_DWORD, (const BYTE *)&number, sizeof number);
    } else if (KvToWide(text, wide, VALUE_TEXT)) {
        result = RegSetValueExW(key, wideName, 0, REG_SZ, (const BYTE *)wide,
                                (DWORD)((wcslen(wide) + 1) * sizeof(wchar_t)));
    }
    if (result == ERROR_SUCCESS) return 1;
    KvPrintFailuref(run, (DWORD)result, "Cannot write %s in %s\\%s", name, AppsRootName(run), keyPath);
    return 0;
}

static int SetText(const KvRun *run, HKEY key, const char *keyPath, const char *name, const char *text) {
    return SetAppsValue(run, key, keyPath, name, REG_SZ, text, 0);
}

static int SetNumber(const KvRun *run, HKEY key, const char *keyPath, const char *name, DWORD number) {
    return SetAppsValue(run, key, keyPath, name, REG_DWORD, NULL, number);
}

int KvWriteAppsEntry(KvRun *run, uint64_t estimatedKilobytes) {
    const KvProduct *product = &run->product;
    char keyPath[KV_PRODUCT_PATH];
    char icon[VALUE_TEXT];
    char uninstall[VALUE_TEXT];
    char quiet[VALUE_TEXT];
    char date[16];
    wchar_t wide[KV_PRODUCT_PATH];
    SYSTEMTIME now;
    HKEY key;
    LONG result;
    int ok;
    int length = snprintf(keyPath, sizeof keyPath, "%s%s", APPS_KEY, product->productId);
    if (length < 0 || (size_t)length >= sizeof keyPath || !KvToWide(keyPath, wide, KV_PRODUCT_PATH)) {
        KvPrintFailuref(run, 0, "The product id cannot name an installed-apps entry: %s", product->productId);
        return 0;
    }
    length = snprintf(uninstall, sizeof uninstall, "\"%s\\%s\" /uninstall", run->uninstallFolder,
                      KV_PRODUCT_UNINSTALLER_NAME);
    if (length < 0 || (size_t)length >= sizeof uninstall) return 0; /* the folder is under KV_PRODUCT_PATH */
    snprintf(quiet, sizeof quiet, "%s /quiet", uninstall);
    if (product->icon[0] == '\0') {
        snprintf(icon, sizeof icon, "%s\\%s", run->uninstallFolder, KV_PRODUCT_UNINSTALLER_NAME);
    } else {
        /* ICON names a payload file; "{app}\" in front is allowed as in shortcuts. */
        char text[KV_PRODUCT_TEXT + 8];
        snprintf(text, sizeof text, "%s%s", KvProductAppRelative(product->icon) != NULL ? "" : "{app}\\",
                 product->icon);
        if (!KvExpandText(run, text, icon, sizeof icon)) return 0;
    }
    GetLocalTime(&now);
    snprintf(date, sizeof date, "%04u%02u%02u", (unsigned)now.wYear, (unsigned)now.wMonth, (unsigned)now.wDay);
    if (!KvJournalAppendTexts(run, KV_J_APPS, AppsRootName(run), keyPath, END_TEXTS)) return 0;
    result = RegCreateKeyExW(RootKey(AppsRootName(run)), wide, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, NULL,
                             &key, NULL);
    if (result != ERROR_SUCCESS) {
        KvPrintFailuref(run, (DWORD)result, "Cannot create the installed-apps entry %s\\%s", AppsRootName(run),
                        keyPath);
        return 0;
    }
    ok = SetText(run, key, keyPath, "DisplayName", product->name) &&
         SetText(run, key, keyPath, "DisplayVersion", product->version) &&
         SetText(run, key, keyPath, "Publisher", product->publisher) &&
         SetText(run, key, keyPath, "InstallLocation", run->app) &&
         SetText(run, key, keyPath, "DisplayIcon", icon) &&
         /* Sizes past 4 TB show as the largest the entry can hold. */
         SetNumber(run, key, keyPath, "EstimatedSize",
                   estimatedKilobytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : (DWORD)estimatedKilobytes) &&
         SetText(run, key, keyPath, "InstallDate", date) &&
         (product->url[0] == '\0' || SetText(run, key, keyPath, "URLInfoAbout", product->url)) &&
         SetText(run, key, keyPath, "UninstallString", uninstall) &&
         SetText(run, key, keyPath, "QuietUninstallString", quiet) &&
         SetNumber(run, key, keyPath, "NoModify", 1) && SetNumber(run, key, keyPath, "NoRepair", 1);
    /* An entry left by an older version must not keep its address. */
    if (ok && product->url[0] == '\0') RegDeleteValueW(key, L"URLInfoAbout");
    RegCloseKey(key);
    if (ok) KvPrintf(run, KV_COLOR_PROGRESS, "Installed-apps entry: %s\\%s", AppsRootName(run), keyPath);
    return ok;
}

/* ---- undo ---- */

static int UndoKey(KvRun *run, HKEY root, const char *rootName, const char *keyPath, const wchar_t *wide) {
    DWORD subKeys = 0;
    DWORD values = 0;
    HKEY key;
    LONG result = RegOpenKeyExW(root, wide, 0, KEY_QUERY_VALUE, &key);
    if (result == ERROR_FILE_NOT_FOUND) return 1;
    if (result == ERROR_SUCCESS) {
        result = RegQueryInfoKeyW(key, NULL, NULL, NULL, &subKeys, NULL, NULL, &values, NULL, NULL, NULL, NULL);
        RegCloseKey(key);
    }
    if (result == ERROR_SUCCESS && subKeys + values > 0) {
        KvPrintf(run, KV_COLOR_WARNING, "Kept registry key %s\\%s: it holds what was not installed", rootName,
                 keyPath);
        return 1;
    }
    if (result == ERROR_SUCCESS) result = RegDeleteKeyW(root, wide);
    if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) {
        if (result == ERROR_SUCCESS) KvPrintf(run, KV_COLOR_NORMAL, "Removed registry key %s\\%s", rootName, keyPath);
        return 1;
    }
    KvPrintFailuref(run, (DWORD)result, "Cannot remove the registry key %s\\%s", rootName, keyPath);
    return 0;
}

static int UndoValue(KvRun *run, HKEY root, const KvJournalRecord *record, const wchar_t *wideKey) {
    char description[DESCRIPTION];
    uint8_t data[KV_JOURNAL_FIELD];
    wchar_t name[KV_JOURNAL_FIELD];
    size_t size = 0;
    uint32_t type = 0;
    int existed = 0;
    HKEY key;
    LONG result;
    Describe(description, record->fields[0], record->fields[1], record->fields[2]);
    if (!KvParseOldValue(record->fields[3], &existed, &type, data, sizeof data, &size) ||
        !KvToWide(record->fields[2], name, KV_JOURNAL_FIELD)) {
        KvPrintFailuref(run, 0, "The journal's old value of %s cannot be read", description);
        return 0;
    }
    result = RegOpenKeyExW(root, wideKey, 0, KEY_SET_VALUE, &key);
    if (result == ERROR_FILE_NOT_FOUND) {
        if (existed) KvPrintf(run, KV_COLOR_WARNING, "Cannot restore %s: its key is gone", description);
        return 1;
    }
    if (result == ERROR_SUCCESS) {
        result = existed ? RegSetValueExW(key, name, 0, type, data, (DWORD)size) : RegDeleteValueW(key, name);
        RegCloseKey(key);
    }
    if (result == ERROR_FILE_NOT_FOUND && !existed) return 1;
    if (result != ERROR_SUCCESS) {
        KvPrintFailuref(run, (DWORD)result, existed ? "Cannot restore %s" : "Cannot remove %s", description);
        return 0;
    }
    KvPrintf(run, KV_COLOR_NORMAL, existed ? "Restored registry value %s" : "Removed registry value %s", description);
    return 1;
}

static int UndoPathEntry(KvRun *run, const char *folder) {
    wchar_t entry[KV_JOURNAL_FIELD];
    wchar_t *list = NULL;
    size_t length = 0;
    size_t start;
    size_t end;
    DWORD type = 0;
    HKEY environment;
    LONG result;
    if (!KvToWide(folder, entry, KV_JOURNAL_FIELD)) {
        KvPrintFailuref(run, 0, "The journal's PATH entry cannot be read: %s", folder);
        return 0;
    }
    result = OpenEnvironment(run, &environment);
    if (result != ERROR_SUCCESS) {
        KvPrintFailuref(run, (DWORD)result, "Cannot open the %s environment to remove %s from PATH", PathOwner(run),
                        folder);
        return 0;
    }
    result = ReadPathValue(environment, &list, &length, &type);
    if (result == ERROR_SUCCESS && FindEntry(list, length, entry, &start, &end)) {
        /* The entry goes with one separator: the one after it, else the one before. */
        if (end < length) ++end;
        else if (start > 0) --start;
        memmove(list + start, list + end, (length - end) * sizeof(wchar_t));
        length -= end - start;
        list[length] = L'\0';
        /* The user's Path may be ours alone: nothing is left of it then. */
        if (length == 0 && run->product.userScope) result = RegDeleteValueW(environment, ENVIRONMENT_NAME);
        else result = WritePathValue(environment, list, length, type);
        if (result == ERROR_SUCCESS) {
            AnnounceEnvironment();
            KvPrintf(run, KV_COLOR_NORMAL, "Removed %s from PATH", folder);
        }
    } else if (result == ERROR_INVALID_DATA || result == ERROR_FILE_NOT_FOUND) {
        result = ERROR_SUCCESS; /* a Path that is no text holds nothing of ours */
    }
    free(list);
    RegCloseKey(environment);
    if (result == ERROR_SUCCESS) return 1;
    KvPrintFailuref(run, (DWORD)result, "Cannot remove %s from the %s PATH", folder, PathOwner(run));
    return 0;
}

static int UndoAppsEntry(KvRun *run, HKEY root, const char *rootName, const char *keyPath, const wchar_t *wide) {
    const LONG result = RegDeleteTreeW(root, wide);
    if (result == ERROR_FILE_NOT_FOUND) return 1;
    if (result != ERROR_SUCCESS) {
        KvPrintFailuref(run, (DWORD)result, "Cannot remove the installed-apps entry %s\\%s", rootName, keyPath);
        return 0;
    }
    KvPrintf(run, KV_COLOR_NORMAL, "Removed the installed-apps entry %s\\%s", rootName, keyPath);
    return 1;
}

int KvUndoRegistryRecord(KvRun *run, const KvJournalRecord *record) {
    wchar_t wideKey[KV_JOURNAL_FIELD];
    const unsigned needed = record->kind == KV_J_PATH ? 1 : record->kind == KV_J_REGVALUE ? 4 : 2;
    const int keyed = record->kind == KV_J_REGKEY || record->kind == KV_J_REGVALUE || record->kind == KV_J_APPS;
    HKEY root = NULL;
    if ((!keyed && record->kind != KV_J_PATH) || record->fieldCount < needed ||
        (keyed && ((root = RootKey(record->fields[0])) == NULL || record->fields[1][0] == '\0' ||
                   !KvToWide(record->fields[1], wideKey, KV_JOURNAL_FIELD)))) {
        KvPrintFailuref(run, 0, "A journal record that is no registry change cannot be undone here: %s",
                KvJournalKindName(record->kind) != NULL ? KvJournalKindName(record->kind) : "?");
        return 0;
    }
    switch (record->kind) {
    case KV_J_REGKEY: return UndoKey(run, root, record->fields[0], record->fields[1], wideKey);
    case KV_J_REGVALUE: return UndoValue(run, root, record, wideKey);
    case KV_J_APPS: return UndoAppsEntry(run, root, record->fields[0], record->fields[1], wideKey);
    default: return UndoPathEntry(run, record->fields[0]);
    }
}
