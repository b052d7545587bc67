/* A library that loads but offers no install entry: the front-end must say so. */
#include <windows.h>

__declspec(dllexport) int __cdecl quorvend_install(void) { return 1; }
