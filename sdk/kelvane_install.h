/* Public interface between the installer front-end and an install module: the
 * entry point, the host interface block and the key=value list records.
 * Plain C, no Windows header required. The product is a 32-bit program and its
 * modules are 32-bit DLLs; a 64-bit module builds against this same header, for the
 * 64-bit build of the front-end. Offsets are given as 32-bit / 64-bit: on 64-bit
 * every record has its natural layout (addresses and handles 8 bytes, each field
 * aligned to its size), and both layouts are checked when the header is compiled. */
#ifndef KELVANE_INSTALL_H
#define KELVANE_INSTALL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The calling convention of the entry and of every service: __cdecl on 32-bit.
 * 64-bit Windows has a single calling convention, and __cdecl means that one. */
#if defined(_WIN32) && !defined(KELVANE_CDECL)
#define KELVANE_CDECL __cdecl
#elif !defined(KELVANE_CDECL)
#define KELVANE_CDECL
#endif

/* The module's one export. It is called once, on a worker thread of the host,
 * with the address of the host interface; it may take as long as it needs. */
#define KELVANE_INSTALL_ENTRY_NAME "quorvend_install2"

/* Before it loads the module, the host sets this environment variable to how the
 * run meets its user:
 *   "full"     interactive: someone watches and may answer questions;
 *   "passive"  unattended: the main window shows the progress, nobody answers;
 *   "quiet"    unattended: no window at all.
 * Unattended, the host answers console input fields itself and ends key waits as
 * Enter would, so nothing hangs; still, skip your own questions there.
 * Read it with GetEnvironmentVariableA: a C runtime's getenv may hold an older copy
 * when the module shares the host's runtime. Absent means an older host: treat it,
 * and any value you do not know, as "full". */
#define KELVANE_UI_VARIABLE "KELVANE_UI"

/* Set the same way, before the module is loaded, whatever the caller's environment held
 * under these names. Read them with GetEnvironmentVariableW, never with getenv: the host
 * sets KELVANE_DIR in the process environment only, as UTF-16.
 * KELVANE_ACTION: "install", or "uninstall" when the program was started with
 *   /uninstall (no pages were shown, and an interactive run was confirmed in a box).
 *   Absent means an older host: treat it as "install".
 * KELVANE_DIR: the path given with /dir=PATH, its quotes removed but otherwise as given
 *   (not checked, not made absolute); absent when the switch was not given. Only a
 *   module that offers a choice of folder needs to read it. */
#define KELVANE_ACTION_VARIABLE "KELVANE_ACTION"
#define KELVANE_DIR_VARIABLE "KELVANE_DIR"

/* "1" with /allowdowngrade (an older version may replace a newer one) and with
 * /closeapplications (programs holding files to be replaced may be closed unattended);
 * absent otherwise, never inherited. Read as KELVANE_ACTION. */
#define KELVANE_ALLOW_DOWNGRADE_VARIABLE "KELVANE_ALLOW_DOWNGRADE"
#define KELVANE_CLOSE_APPLICATIONS_VARIABLE "KELVANE_CLOSE_APPLICATIONS"

/* DLLs beside the module. The host, which may run elevated, searches only the system
 * folder for DLLs named without a path. The module's static imports are still found
 * beside it (it is loaded with LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
 * LOAD_LIBRARY_SEARCH_SYSTEM32: its own folder and the system folder, never the
 * installer's). A run-time load must give the full path, built from programDirectory:
 * LoadLibraryA(path), or, when that DLL has imports beside it too, LoadLibraryExA(path,
 * NULL, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32).
 * LoadLibraryA("helper.dll") returns NULL, and a delay-loaded DLL beside the module
 * fails with an exception: do not delay-load those. */

/* Booleans cross the boundary in 32-bit slots. The host reads only the low 8
 * bits of a boolean it receives and returns 0 or 1 in the ones it gives back. */
typedef uint32_t KelvaneBool;

/* One line of a key=value file, three NUL-terminated strings; 768 bytes on both. */
typedef struct KeyValueEntry {
    char key[256];        /*   0: text before the first "=", ASCII upper-cased */
    char value[256];      /* 256: text after the first "=", as written */
    char upperValue[256]; /* 512: text after the first "=", ASCII upper-cased */
} KeyValueEntry;

/* A list in file order; its handle is the head node. The host never changes or
 * frees a list once it is returned, so any thread may walk it. */
typedef struct KeyValueNode { /* 16 / 32 bytes */
    KeyValueEntry *entry;      /*  0 /  0 */
    struct KeyValueNode *next; /*  4 /  8: null in the last node */
    struct KeyValueNode *prev; /*  8 / 16: null in the head */
    struct KeyValueNode *tail; /* 12 / 24: head: the last node; others: the node itself */
} KeyValueNode;

typedef KeyValueNode *KeyValueList; /* null: the file did not open, or held no key=value line */

/* Host services. All may be called from the entry's thread or any thread it
 * starts. file is a Win32 HANDLE that the module opened for reading; line must
 * hold 256 bytes; key holds at most 127 characters (longer keys match nothing).
 * Strings that the host returns stay valid until the process ends and must not
 * be written to; getValue never returns null.
 * loadKeyValues opens its file without sharing it: while another thread loads the
 * same file, or while the module (or anyone else) still holds its own handle to it,
 * the load cannot open the file and returns null. Close your own handle first and
 * load each file from one thread at a time. A null list means either that the file
 * could not be opened or that it held no key=value line; the two cannot be told apart. */
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
typedef struct InstallHostInterface {   /* 48 / 96 bytes */
    uint32_t size;                       /*  0 /  0: the size of this block, 48 / 96 */
    const char *programName;             /*  4 /  8 */
    const char *programDirectory;        /*  8 / 16: ends with a backslash */
    InstallReadLine readLine;            /* 12 / 24 */
    InstallLoadKeyValues loadKeyValues;  /* 16 / 32 */
    InstallGetValue getValue;            /* 20 / 40 */
    InstallGetIntValue getIntValue;      /* 24 / 48 */
    uint32_t reserved1;                  /* 28 / 56: undefined content */
    void *mainWindow;                    /* 32 / 64: HWND; the module may replace it */
    InstallSetPrintColor setPrintColor;  /* 36 / 72 */
    InstallPrintText printText;          /* 40 / 80 */
    uint32_t reserved2;                  /* 44 / 88: 0 */
} InstallHostInterface;

/* The entry: non-zero in the low 8 bits of the result means success (so 256
 * counts as failure). Declare it extern "C", exported, e.g.
 *   __declspec(dllexport) KelvaneBool __cdecl quorvend_install2(InstallHostInterface *host);
 * The same declaration serves a 64-bit module, where __cdecl changes nothing. */
typedef KelvaneBool(KELVANE_CDECL *InstallEntry)(InstallHostInterface *host);

#if defined(_WIN32)
#if defined(__cplusplus)
#define KELVANE_LAYOUT_CHECK(cond, name) static_assert(cond, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define KELVANE_LAYOUT_CHECK(cond, name) _Static_assert(cond, #name)
#else
#define KELVANE_LAYOUT_CHECK(cond, name) typedef char kelvane_layout_##name[(cond) ? 1 : -1]
#endif
#endif

#if defined(_WIN32) && !defined(_WIN64)
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
#elif defined(_WIN64)
KELVANE_LAYOUT_CHECK(sizeof(void *) == 8, pointer_size);
KELVANE_LAYOUT_CHECK(sizeof(KeyValueEntry) == 768, entry_size);
KELVANE_LAYOUT_CHECK(offsetof(KeyValueEntry, value) == 256, entry_value);
KELVANE_LAYOUT_CHECK(offsetof(KeyValueEntry, upperValue) == 512, entry_upper_value);
KELVANE_LAYOUT_CHECK(sizeof(KeyValueNode) == 32, node_size);
KELVANE_LAYOUT_CHECK(offsetof(KeyValueNode, next) == 8, node_next);
KELVANE_LAYOUT_CHECK(offsetof(KeyValueNode, prev) == 16, node_prev);
KELVANE_LAYOUT_CHECK(offsetof(KeyValueNode, tail) == 24, node_tail);
KELVANE_LAYOUT_CHECK(sizeof(InstallHostInterface) == 96, host_size);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, programName) == 8, host_program_name);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, programDirectory) == 16, host_program_directory);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, readLine) == 24, host_read_line);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, loadKeyValues) == 32, host_load_key_values);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, getValue) == 40, host_get_value);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, getIntValue) == 48, host_get_int_value);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, reserved1) == 56, host_reserved1);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, mainWindow) == 64, host_main_window);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, setPrintColor) == 72, host_set_print_color);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, printText) == 80, host_print_text);
KELVANE_LAYOUT_CHECK(offsetof(InstallHostInterface, reserved2) == 88, host_reserved2);
#endif
#ifdef KELVANE_LAYOUT_CHECK
#undef KELVANE_LAYOUT_CHECK
#endif

#ifdef __cplusplus
}
#endif

#endif
