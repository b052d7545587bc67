/* The standard module's two scopes, for the flows that must tell them apart: where the
 * installed-apps entry lives, the journal's scope word, and the uninstall folder's DACL.
 * Decides nothing from the process's rights: the product file's SCOPE alone says it. */
#include <windows.h>

#include "standard_private.h"

int KvIsUserScope(const KvRun *run) { return run->product.userScope != 0; }

/* HKCU's Uninstall key is the user's own list of installed apps: the system shows it to
 * that user only, beside the machine's. */
HKEY KvAppsRoot(const KvRun *run) { return KvIsUserScope(run) ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

const char *KvAppsRootName(const KvRun *run) { return KvIsUserScope(run) ? "HKCU" : "HKLM"; }

const char *KvScopeName(const KvRun *run) { return KvIsUserScope(run) ? "user" : "machine"; }

/* A per-user installation runs without administrator rights and lies in the user's own
 * profile: an admin-only folder there would be one its own uninstaller could not empty. */
int KvCreateScopedFolder(const KvRun *run, const wchar_t *path, const wchar_t *sddl, DWORD *code) {
    if (!KvIsUserScope(run)) return KvCreateFolderWithSddl(path, sddl, code);
    *code = 0;
    if (CreateDirectoryW(path, NULL)) return 1;
    *code = GetLastError();
    return 0;
}
