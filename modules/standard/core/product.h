/* The product file of the standard install module (product.ini): its keys, their
 * checks, the placeholders of its paths and the version numbers. Portable C: it never
 * reads a file or asks the system anything; the caller supplies the values by key
 * and the known folders by name. Shared by the module and by kelvane-pack, so that
 * a product file the packer accepts is one the module can install. */
#ifndef KV_STANDARD_PRODUCT_H
#define KV_STANDARD_PRODUCT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Every text is UTF-8. A value holds at most 255 bytes, as a key=value line does. */
#define KV_PRODUCT_TEXT 256
#define KV_PRODUCT_MAX_SHORTCUTS 32
#define KV_PRODUCT_MAX_REGS 64
/* A path after expansion: the module works in UTF-16 and extended paths, but the
 * journal and the installed-apps entry keep it readable. */
#define KV_PRODUCT_PATH 1024

/* The archive folder under which the packer puts the payload tree, and the other
 * files it adds beside the module. */
#define KV_PRODUCT_PAYLOAD_ROOT "payload"
#define KV_PRODUCT_FILE_NAME "product.ini"
#define KV_PRODUCT_MODULE_NAME "kelvane-standard.dll"
#define KV_PRODUCT_UNINSTALLER_NAME "uninstall.exe"
/* Key=value file beside product.ini: FOLDERn=relative path of each empty folder of the
 * payload tree (the archive holds files only). */
#define KV_PRODUCT_FOLDERS_FILE_NAME "folders.ini"

typedef enum KvShortcutPlace { KV_SHORTCUT_START_MENU, KV_SHORTCUT_DESKTOP } KvShortcutPlace;
typedef enum KvRegRoot { KV_REG_HKLM, KV_REG_HKCU } KvRegRoot;
typedef enum KvRegType { KV_REG_STRING, KV_REG_EXPAND_STRING, KV_REG_DWORD } KvRegType;

/* SHORTCUTn=place|name|target|arguments|icon
 *   place: "startmenu" or "desktop" (ASCII case ignored); name: the link's file name
 *   without ".lnk", may hold '\' for a sub-folder of the Start menu; target: a path
 *   inside {app} (it must name a payload file); arguments and icon may be empty; icon
 *   "path[,index]" inside {app}. Texts are kept unexpanded here. */
typedef struct KvShortcut {
    KvShortcutPlace place;
    char name[KV_PRODUCT_TEXT];
    char target[KV_PRODUCT_TEXT];
    char arguments[KV_PRODUCT_TEXT];
    char icon[KV_PRODUCT_TEXT];
} KvShortcut;

/* REGn=root|key|name|type|value
 *   root "HKLM" or "HKCU"; key below it, no leading '\'; name (empty: the key's default
 *   value); type "string", "expand" or "dword"; value: placeholders allowed, a dword in
 *   decimal or 0x hex. */
typedef struct KvReg {
    KvRegRoot root;
    char key[KV_PRODUCT_TEXT];
    char name[KV_PRODUCT_TEXT];
    KvRegType type;
    char value[KV_PRODUCT_TEXT];
} KvReg;

typedef struct KvProduct {
    char productId[KV_PRODUCT_TEXT]; /* PRODUCT_ID: 1-64 of A-Z a-z 0-9 . _ - { } */
    char name[KV_PRODUCT_TEXT];      /* NAME */
    char version[KV_PRODUCT_TEXT];   /* VERSION: 1 to 4 dotted numbers, each 0-65535 */
    uint16_t versionParts[4];        /* VERSION parsed; missing parts 0 */
    char publisher[KV_PRODUCT_TEXT]; /* PUBLISHER */
    char url[KV_PRODUCT_TEXT];       /* URL, may be empty */
    char icon[KV_PRODUCT_TEXT];      /* ICON: "{app}\path[,index]" (a relative path gets {app}\), may be empty */
    int userScope;                   /* SCOPE: 0 machine (default), 1 user */
    char target[KV_PRODUCT_TEXT];    /* TARGET, unexpanded; default {ProgramFiles}\{PUBLISHER}\{NAME},
                                        {LocalAppData}\Programs\{NAME} for a per-user product */
    int askTarget;                   /* ASK_TARGET: 1 (default) or 0 */
    char payload[KV_PRODUCT_TEXT];   /* PAYLOAD: archive folder below "payload", default "app" */
    char pathEntry[KV_PRODUCT_TEXT]; /* PATH: a folder inside {app} added to the machine's (or user's) PATH,
                                        may be empty */
    unsigned shortcutCount;
    KvShortcut shortcuts[KV_PRODUCT_MAX_SHORTCUTS];
    unsigned regCount;
    KvReg regs[KV_PRODUCT_MAX_REGS];
} KvProduct;

/* The value of a key (ASCII case ignored), or NULL when the file has no such key.
 * Numbered keys are asked as "SHORTCUT1", "SHORTCUT2", ... until the first missing. */
typedef const char *(*KvProductLookup)(void *context, const char *key);

/* Reads and checks a whole product file. Returns 1, or 0 with one sentence in problem
 * (problemSize bytes, cut at a UTF-8 character and ended with "..." when longer) naming
 * the key: missing PRODUCT_ID, NAME, VERSION or PUBLISHER; a value of 255 bytes or more;
 * a bad version; a placeholder it does not know; a path leading out of {app} ("..");
 * a bad SHORTCUTn/REGn field; a shortcut target or icon outside {app}; a folder or root
 * of the other scope (below). Whether a target is a payload file is the caller's check
 * (KvProductAppRelative). */
int KvReadProduct(KvProductLookup lookup, void *context, KvProduct *product, char *problem, size_t problemSize);

/* Placeholders in braces, names ASCII case ignored:
 *   {ProgramFiles} {CommonStartMenu} {CommonDesktop} {CommonAppData} {Windows} {System}
 *   {LocalAppData} {UserStartMenu} {UserDesktop}
 *   {app} {NAME} {PUBLISHER} {VERSION} {PRODUCT_ID}
 * The first nine are known folders, asked of folder(context, name) with the canonical
 * name as written above; {app} is the chosen install folder; the last four are the
 * product's own values.
 * Scopes: a machine product (SCOPE=machine, the default) cannot name the user's folders
 * {LocalAppData} {UserStartMenu} {UserDesktop}; a per-user product (SCOPE=user) cannot
 * name {ProgramFiles} {CommonStartMenu} {CommonDesktop}, nor HKLM in REGn: it runs
 * without administrator rights and must leave nothing behind for other users. KvExpand
 * refuses them too, whenever it is given a product.
 * "{{" stands for a literal "{" (a GUID in a registry key or value); a "}" alone is
 * itself; a "{" without its "}" is an error. */
typedef const char *(*KvFolderLookup)(void *context, const char *canonicalName);

/* 1 when every placeholder of text is known (for the packer, before any folder exists). */
int KvPlaceholdersKnown(const char *text, char *unknown, size_t unknownSize);

/* Expands text into out (outSize bytes). app may be NULL while {app} is not yet chosen
 * (then {app} is an error). Returns 1, or 0 with the reason in problem: an unknown
 * placeholder, a folder the system did not give, or a result longer than out (never
 * cut). */
int KvExpand(const char *text, const KvProduct *product, const char *app, KvFolderLookup folder, void *context,
             char *out, size_t outSize, char *problem, size_t problemSize);

/* For a path beginning with "{app}\" (ASCII case ignored): the rest of it, the path
 * relative to the install folder; NULL otherwise. Used to check shortcut targets
 * against the payload's files. */
const char *KvProductAppRelative(const char *path);

/* Dotted version texts compared number by number: <0, 0, >0. A text that is no
 * version compares below every version. */
int KvCompareVersions(const char *a, const char *b);

#ifdef __cplusplus
}
#endif

#endif
