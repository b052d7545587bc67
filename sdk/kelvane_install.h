/* Public interface between the installer front-end and an install module: the
 * entry point, the host interface block and the key=value list records.
 * Plain C, no Windows header required; layouts are those of the 32-bit target. */
#ifndef KELVANE_INSTALL_H
#define KELVANE_INSTALL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(KELVANE_CDECL)
#define KELVANE_CDECL __cdecl
#elif !defined(KELVANE_CDECL)
#define KELVANE_CDECL
#endif

/* The module's one export. It is called once, on a worker thread of the host,
 * with the address of the host interface; it may take as long as it needs. */
#define KELVANE_INSTALL_ENTRY_NAME "quorvend_install2"

/* Booleans cross the boundary in 32-bit slots. The host reads only the low 8
 * bits of a boolean it receives and returns 0 or 1 in the ones it gives back. */
typedef uint32_t KelvaneBool;

/* One line of a key=value file, three NUL-terminated strings. */
typedef struct KeyValueEntry {
    char key[256];        /*   0: text before the first "=", ASCII upper-cased */
    char value[256];      /* 256: text after the first "=", as written */
    char upperValue[256]; /* 512: text after the first "=", ASCII upper-cased */
} KeyValueEntry;

/* A list in file order; its handle is the head node. The host never changes or
 * frees a list once it is returned, so any thread may walk it. */
typedef struct KeyValueNode {
    KeyValueEntry *entry;      /*  0 */
    struct KeyValueNode *next; /*  4: null in the last node */
    struct KeyValueNode *prev; /*  8: null in the head */
    struct KeyValueNode *tail; /* 12: head: the last node; others: the node itself */
} KeyValueNode;

typedef KeyValueNode *KeyValueList; /* null: the file did not open, or held no key=value line */

/* Host services. All may be called from the entry's thread or any thread it
 * starts. file is a Win32 HANDLE that the module opened for reading; line must
 * hold 256 bytes; key holds at most 127 characters (longer keys match nothing).
 * Strings that the host returns stay valid until the process ends and must not
 * be written to; getValue never returns null. */
typedef KelvaneBool(KELVANE_CDECL *InstallReadLine)(void *file, char *line);
typedef KeyValueList(KELVANE_CDECL *InstallLoadKeyValues)(const char *fileName);
typedef const char *(KELVANE_CDECL *InstallGetValue)(const KeyValueNode *list, const char *key, KelvaneBool upper);
typedef int32_t(KELVANE_CDECL *InstallGetIntValue)(const KeyValueNode *list, const char *key);
/* Console services; the result is what the console returned for the last
 * message sent. color: only its low 8 bits are sent, the console uses 4. */
typedef int32_t(KELVANE_CDECL *InstallSetPrintColor)(uint32_t color);
typedef int32_t(KELVANE_CDECL *InstallPrintText)(const char *text, const char *text2, KelvaneBool newlineBefore,
                                                 KelvaneBool newlineAfter);

/* What the entry receives. Valid, and unchanged by the host, until the process ends. */
typedef struct InstallHostInterface {
    uint32_t size;                       /*  0: 48, the size of this block */
    const char *programName;             /*  4 */
    const char *programDirectory;        /*  8: ends with a backslash */
    InstallReadLine readLine;            /* 12 */
    InstallLoadKeyValues loadKeyValues;  /* 16 */
    InstallGetValue getValue;            /* 20 */
    InstallGetIntValue getIntValue;      /* 24 */
    uint32_t reserved1;                  /* 28: undefined content */
    void *mainWindow;                    /* 32: HWND; the module may replace it */
    InstallSetPrintColor setPrintColor;  /* 36 */
    InstallPrintText printText;          /* 40 */
    uint32_t reserved2;                  /* 44: 0 */
} InstallHostInterface;

/* The entry: non-zero in the low 8 bits of the result means success (so 256
 * counts as failure). Declare it extern "C", exported, e.g.
 *   __declspec(dllexport) KelvaneBool __cdecl quorvend_install2(InstallHostInterface *host); */
typedef KelvaneBool(KELVANE_CDECL *InstallEntry)(InstallHostInterface *host);

#if defined(_WIN32) && !defined(_WIN64)
#if defined(__cplusplus)
#define KELVANE_LAYOUT_CHECK(cond, name) static_assert(cond, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define KELVANE_LAYOUT_CHECK(cond, name) _Static_assert(cond, #name)
#else
#define KELVANE_LAYOUT_CHECK(cond, name) typedef char kelvane_layout_##name[(cond) ? 1 : -1]
#endif
KELVANE_LAYOUT_CHECK(sizeof(KeyValueEntry) == 768, entry_size);
KELVANE_LAYOUT_CHECK(offsetof(KeyValueEntry, value) == 256, entry_value);
KELVANE_LAYOUT_CHECK(offsetof(KeyValueEntry, upperValue) == 512, entry_upper_value);
KELVANE_LAYOUT_CHECK(sizeof(KeyValueNode) == 16, node_size);
KELVANE_LAYOUT_CHECK(offsetof(KeyValueNode, next) == 4, node_next);
KELVANE_LAYOUT_CHECK(offsetof(KeyValueNode, prev) == 8, node_prev);
KELVANE_LAYOUT_CHECK(offsetof(KeyValueNode, tail) == 12, node_tail);
KELVANE_LAYOUT_CHECK(sizeof(InstallHostInterface) == 48, host_size);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, programName) == 4, host_program_name);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, programDirectory) == 8, host_program_directory);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, readLine) == 12, host_read_line);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, loadKeyValues) == 16, host_load_key_values);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, getValue) == 20, host_get_value);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, getIntValue) == 24, host_get_int_value);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, reserved1) == 28, host_reserved1);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, mainWindow) == 32, host_main_window);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, setPrintColor) == 36, host_set_print_color);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, printText) == 40, host_print_text);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, reserved2) == 44, host_reserved2);
#undef KELVANE_LAYOUT_CHECK
#endif

#ifdef __cplusplus
}
#endif

#endif
