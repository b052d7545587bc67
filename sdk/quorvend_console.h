/* Public interface of the "quorvend.console" window class: message numbers,
 * cell packing, the listener record and the shared instance layout.
 * Plain C, no Windows header required; values are those the window answers to.
 * Serves 32-bit and 64-bit programs alike: record layouts are given as 32-bit /
 * 64-bit offsets (natural alignment, addresses and handles 8 bytes on 64-bit) and
 * both are checked when the header is compiled. */
#ifndef QUORVEND_CONSOLE_H
#define QUORVEND_CONSOLE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* __cdecl on 32-bit; 64-bit Windows has a single calling convention, and __cdecl
 * means that one. */
#if defined(_WIN32) && !defined(QUORVEND_CDECL)
#define QUORVEND_CDECL __cdecl
#elif !defined(QUORVEND_CDECL)
#define QUORVEND_CDECL
#endif

#define QUORVEND_CONSOLE_CLASS "quorvend.console"
#define QUORVEND_MODAL_CONSOLE_CLASS "quorvend.modal.console"
/* RegisterWindowMessageA of this name, sent to a console: the next text printed to it
   is a result, which screen readers announce as important. With wparam
   QUORVEND_CONSOLE_NOT_ANNOUNCED the next text is not announced at all: the program
   says it another way (a message box a reader reads by itself). The mark holds for the
   next CONM_PUTSTRING or CONM_PUTCHAR only; any other console message drops it. */
#define QUORVEND_CONSOLE_IMPORTANT_MESSAGE "quorvend.console.important"
#define QUORVEND_CONSOLE_NOT_ANNOUNCED 1

/* Console messages (WM_USER + 1 ... WM_USER + 36, WM_USER + 100 ... 102).
 * wparam bits 0-7 name the screen unless the message works on the active one. */
#define CONM_CREATESCREEN 1025
#define CONM_DELETESCREEN 1026
#define CONM_SETFONT 1027 /* wparam: screen + selector * 256 (1 = 8x8, 2 = 8x16) */
#define CONM_CREATEBITMAPS 1028
#define CONM_CLOSE 1028 /* same number, as seen by the modal console class */
#define CONM_SELECTSCREEN 1029
#define CONM_REFRESH 1030
#define CONM_GETCELLS 1031
#define CONM_SETCURSORPOS 1032   /* lparam: column bits 0-7, row bits 8-31 */
#define CONM_SETCURSORSHAPE 1033 /* lparam: end line bits 0-7, start line 8-15 */
#define CONM_PUTCELL 1034        /* lparam: column 0-7, row 8-15, cell 16-31 */
#define CONM_PUTCHAR 1035
#define CONM_PUTSTRING 1036
#define CONM_SCROLL 1037 /* lparam: left 0-7, right 8-15, top 16-23, bottom 24-31 */
#define CONM_CLEAR 1038
#define CONM_WAITKEY 1039
#define CONM_GETKEY 1040
#define CONM_INPUTLINE 1041 /* wparam: length bits 0-11, CONI_* type bits 12-31 */
#define CONM_POINTTOCELL 1042
#define CONM_SETFREEZE 1043 /* wparam bit 8: 1 freeze, 0 thaw */
#define CONM_GETFREEZE 1044
#define CONM_SETBACKCOLOR 1045
#define CONM_SETTEXTCOLOR 1046
#define CONM_GETSIZE 1047 /* result: rows * 65536 + columns */
#define CONM_CELLINDEX 1048
#define CONM_SETCALLBACK 1049
#define CONM_POSTCALLBACK 1050
#define CONM_SETMOUSELISTENER 1051
#define CONM_MOUSEEVENT 1051 /* sent to a listener: wparam CONE_*, lparam ConsoleListener* */
#define CONM_SETATTR 1052
#define CONM_GETATTR 1053
#define CONM_GETACTIVESCREEN 1054
#define CONM_SETCOLORMODE 1055 /* lparam: 0 grey scale, other colour */
#define CONM_GETCOLORMODE 1056
#define CONM_GETPALETTE 1057 /* wparam: screen, first entry bits 8-11, last 16-19 */
#define CONM_SETPALETTE 1058
#define CONM_RESETPALETTE 1059
#define CONM_GETFONT 1060
#define CONM_SETSHARING 1124
#define CONM_GETSHARING 1125
#define CONM_GETINSTANCE 1126

/* Packing helpers for wparam and lparam. */
#define CONSOLE_FONT_8X8 1
#define CONSOLE_FONT_8X16 2
#define CONSOLE_SETFONT_WPARAM(screen, font) (((uint32_t)(font) << 8) | ((screen) & 0xFFu))
#define CONSOLE_PALETTE_WPARAM(screen, first, last) \
    (((uint32_t)((last) & 15u) << 16) | ((uint32_t)((first) & 15u) << 8) | ((screen) & 0xFFu))
#define CONSOLE_CURSORPOS_LPARAM(column, row) (((uint32_t)(row) << 8) | ((column) & 0xFFu))
#define CONSOLE_PUTCELL_LPARAM(column, row, cell) \
    (((uint32_t)(cell) << 16) | (((row) & 0xFFu) << 8) | ((column) & 0xFFu))
#define CONSOLE_SCROLL_LPARAM(left, right, top, bottom) \
    (((uint32_t)((bottom) & 0xFFu) << 24) | (((top) & 0xFFu) << 16) | (((right) & 0xFFu) << 8) | ((left) & 0xFFu))
#define CONSOLE_CURSORSHAPE_LPARAM(start, end) ((((start) & 0xFFu) << 8) | ((end) & 0xFFu))
#define CONSOLE_CELLPOS(column, row) (((uint32_t)(row) << 16) | ((column) & 0xFFFFu))
#define CONSOLE_CELLPOS_COLUMN(pos) ((uint32_t)(pos) & 0xFFFFu)
#define CONSOLE_CELLPOS_ROW(pos) ((uint32_t)(pos) >> 16)

/* A cell: low byte the OEM character (glyph number), high byte the attribute.
 * Attribute: bits 0-3 foreground, bits 4-6 background, bit 7 blink. */
typedef uint16_t ConsoleCellValue;
#define CONSOLE_ATTR(fore, back) ((uint8_t)(((back) & 7u) << 4 | ((fore) & 15u)))
#define CONSOLE_ATTR_BLINK 0x80u
#define CONSOLE_CELL(ch, attr) ((ConsoleCellValue)(((uint32_t)(attr) << 8) | ((ch) & 0xFFu)))
#define CONSOLE_CELL_CHAR(cell) ((uint8_t)((cell) & 0xFFu))
#define CONSOLE_CELL_ATTR(cell) ((uint8_t)((cell) >> 8))

/* Editing codes that travel through the key ring like characters. */
#define CONK_LEFT 1
#define CONK_RIGHT 2
#define CONK_DELETE 3
#define CONK_HOME 4
#define CONK_END 5
#define CONK_INSERT 6

/* Input field types for CONM_INPUTLINE (any other value is plain text). */
#define CONI_TEXT 0
#define CONI_DIGITS 2
#define CONI_HEX 3
#define CONI_UPPER 4

/* Mouse event kinds sent with CONM_MOUSEEVENT. */
#define CONE_MOVE 0
#define CONE_BUTTONDOWN 2
#define CONE_BUTTONUP 4

/* Set with CONM_SETMOUSELISTENER; a copy comes back with every CONM_MOUSEEVENT,
 * its cell holding the row in bits 16-31 and the column in bits 0-15. The copy is
 * valid only while the listener handles the message.
 * window is 32 bits in every build: a 64-bit program stores its HWND truncated
 * (HandleToLong), and the console widens the value back with sign extension
 * (LongToHandle). Window handles keep their meaning in 32 bits on 64-bit Windows. */
typedef struct ConsoleListener { /* 12 bytes on both */
    uint32_t window; /* 0: HWND of the listener, 0 = none */
    uint32_t value;  /* 4: the caller's value, returned unchanged */
    uint32_t cell;   /* 8 */
} ConsoleListener;

/* The per-window block that CONM_GETINSTANCE hands out once sharing is allowed,
 * 1072 / 2128 bytes; valid only inside the console's process and only on the
 * console window's thread. */
typedef void(QUORVEND_CDECL *ConsoleCallback)(uint32_t argument);

typedef struct ConsoleInstanceView {
    void *screens[256];       /*    0 /    0: screen records, opaque */
    void *activeScreen;       /* 1024 / 2048 */
    uint32_t reserved1;       /* 1028 / 2056 */
    void *contextMenu;        /* 1032 / 2064: HMENU */
    uint8_t closing;          /* 1036 / 2072 */
    uint8_t waitAbort;        /* 1037 / 2073 */
    void *inputEvent;         /* 1040 / 2080: HANDLE, auto-reset */
    void *notifyThread;       /* 1044 / 2088 */
    void *notifyEvent;        /* 1048 / 2096 */
    uint32_t notifyArgument;  /* 1052 / 2104 */
    uint32_t reserved2;       /* 1056 / 2108 */
    uint32_t timerId;         /* 1060 / 2112 */
    uint8_t valid;            /* 1064 / 2116 */
    uint8_t sharing;          /* 1065 / 2117 */
    ConsoleCallback callback; /* 1068 / 2120 */
} ConsoleInstanceView;

/* Windows of class "quorvend.modal.console" forward each CONM_MOUSEEVENT they
 * receive as listener to one process-wide callback: (column, row, event kind).
 * Install it by sending CONM_SETMODALCALLBACK to any window of that class with
 * lparam = the function (0 removes it); the result is the previous function. */
typedef void(QUORVEND_CDECL *ConsoleModalMouseCallback)(uint32_t column, uint32_t row, uint32_t kind);
#define CONM_SETMODALCALLBACK 1127

/* Setting up, for a program that links the console library (kelvane::console). */

/* Registers "quorvend.console" and "quorvend.modal.console" for instance (an HINSTANCE;
 * null means the program's own module). Call it on any thread before the first console
 * window is created; calling again is harmless. Returns 1 when both classes are
 * registered for instance afterwards, 0 otherwise. */
int QUORVEND_CDECL quorvend_register_console_classes(void *instance);

/* Receives the console's own log lines (the input field's echo), one line without its
 * line end, on the console window's thread. */
typedef void(QUORVEND_CDECL *ConsoleLogCallback)(const char *text);

/* Any thread, any time; null stops the lines (they are dropped, not kept). A previous
 * writer may still be running on a window thread when this returns. */
void QUORVEND_CDECL quorvend_set_console_log_writer(ConsoleLogCallback writer);

#if defined(_WIN32)
#if defined(__cplusplus)
#define QUORVEND_LAYOUT_CHECK(cond, name) static_assert(cond, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define QUORVEND_LAYOUT_CHECK(cond, name) _Static_assert(cond, #name)
#else
#define QUORVEND_LAYOUT_CHECK(cond, name) typedef char quorvend_layout_##name[(cond) ? 1 : -1]
#endif
QUORVEND_LAYOUT_CHECK(sizeof(ConsoleListener) == 12, listener_size);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleListener, value) == 4, listener_value);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleListener, cell) == 8, listener_cell);
#endif

#if defined(_WIN32) && !defined(_WIN64)
QUORVEND_LAYOUT_CHECK(sizeof(ConsoleInstanceView) == 1072, instance_size);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, activeScreen) == 1024, instance_active_screen);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, reserved1) == 1028, instance_reserved1);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, contextMenu) == 1032, instance_context_menu);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, closing) == 1036, instance_closing);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, waitAbort) == 1037, instance_wait_abort);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, inputEvent) == 1040, instance_input_event);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, notifyThread) == 1044, instance_notify_thread);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, notifyEvent) == 1048, instance_notify_event);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, notifyArgument) == 1052, instance_notify_argument);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, reserved2) == 1056, instance_reserved2);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, timerId) == 1060, instance_timer_id);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, valid) == 1064, instance_valid);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, sharing) == 1065, instance_sharing);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, callback) == 1068, instance_callback);
#elif defined(_WIN64)
QUORVEND_LAYOUT_CHECK(sizeof(void *) == 8, pointer_size);
QUORVEND_LAYOUT_CHECK(sizeof(ConsoleInstanceView) == 2128, instance_size);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, activeScreen) == 2048, instance_active_screen);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, reserved1) == 2056, instance_reserved1);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, contextMenu) == 2064, instance_context_menu);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, closing) == 2072, instance_closing);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, waitAbort) == 2073, instance_wait_abort);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, inputEvent) == 2080, instance_input_event);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, notifyThread) == 2088, instance_notify_thread);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, notifyEvent) == 2096, instance_notify_event);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, notifyArgument) == 2104, instance_notify_argument);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, reserved2) == 2108, instance_reserved2);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, timerId) == 2112, instance_timer_id);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, valid) == 2116, instance_valid);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, sharing) == 2117, instance_sharing);
QUORVEND_LAYOUT_CHECK(offsetof(ConsoleInstanceView, callback) == 2120, instance_callback);
#endif
#ifdef QUORVEND_LAYOUT_CHECK
#undef QUORVEND_LAYOUT_CHECK
#endif

#ifdef __cplusplus
}
#endif

#endif
