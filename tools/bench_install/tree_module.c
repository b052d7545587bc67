/* The benchmark's install module: installs the tree of its installer into the folder named
 * by the environment variable KVBENCH_TARGET; from the archive through the payload
 * extension when the installer carries a "payload" folder, else from its own folder's
 * "files" folder with CopyFileW, as modules that know no extension do. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "kelvane_install.h"
#include "kelvane_payload.h"
#include "tree_copy.h"

__declspec(dllexport) KelvaneBool KELVANE_CDECL quorvend_install2(InstallHostInterface *host) {
    wchar_t target[MAX_PATH], from[MAX_PATH];
    char failure[512] = "";
    const KelvanePayloadApi *api = NULL;
    KelvaneGetPayloadApi get =
        (KelvaneGetPayloadApi)(void (*)(void))GetProcAddress(GetModuleHandleA(NULL), KELVANE_PAYLOAD_EXPORT);
    int ok;
    if (GetEnvironmentVariableW(L"KVBENCH_TARGET", target, MAX_PATH) == 0) return 0;
    if (get != NULL) api = get(KELVANE_PAYLOAD_API_VERSION);
    if (api != NULL && api->listEntries("payload", NULL, NULL) > 0) {
        ok = api->extract("payload", target, NULL, NULL, failure, sizeof failure) & 0xFF;
    } else {
        if (MultiByteToWideChar(CP_ACP, 0, host->programDirectory, -1, from, MAX_PATH - 8) == 0) return 0;
        wcscat(from, L"files");
        ok = CopyTree(from, target);
        if (!ok) memcpy(failure, copyFailure, sizeof failure);
    }
    host->printText(ok ? "Installed the tree." : "The tree was not installed:", failure, 0, 1);
    return ok ? 1 : 0;
}
