/* Planted under a system library's name beside the program: when it is loaded it leaves
 * planted-loaded.txt beside itself, which the tests look for. Does nothing else. Built
 * with KVTEST_OLEACC it also exports failing stand-ins of what a static import of oleacc
 * would want, so that such an import would load it (and run DllMain). */
#include <windows.h>

#include <string.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(instance, path, sizeof path);
        char *slash;
        if (length == 0 || length >= sizeof path) return TRUE;
        slash = strrchr(path, '\\');
        if (slash == NULL || (size_t)(slash - path) + sizeof "\\planted-loaded.txt" > sizeof path) return TRUE;
        strcpy(slash, "\\planted-loaded.txt");
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    return TRUE;
}

#ifdef KVTEST_OLEACC
LRESULT WINAPI KvLresultFromObject(const GUID *iid, WPARAM wparam, void *object) {
    (void)iid, (void)wparam, (void)object;
    return E_FAIL;
}

HRESULT WINAPI KvAccessibleObjectFromWindow(HWND window, DWORD id, const GUID *iid, void **out) {
    (void)window, (void)id, (void)iid;
    if (out != NULL) *out = NULL;
    return E_FAIL;
}
#endif
