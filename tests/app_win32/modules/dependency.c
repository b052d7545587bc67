/* The library that dependent_module.dll imports; it lies beside the module. */
#include <windows.h>

__declspec(dllexport) const char *__cdecl kvtest_dependency_text(void) { return "dependency says hello"; }
