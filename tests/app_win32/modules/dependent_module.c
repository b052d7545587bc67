/* An install module with an import of its own: kvtest_dependency.dll, lying beside it,
 * must load although the program restricts the DLL search. */
#include <windows.h>

#include "sdk/kelvane_install.h"

__declspec(dllimport) const char *__cdecl kvtest_dependency_text(void);

KelvaneBool __cdecl quorvend_install2(InstallHostInterface *host) {
    host->printText(kvtest_dependency_text(), NULL, 0, 1);
    return 1;
}
