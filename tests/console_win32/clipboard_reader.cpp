// A second process for the clipboard tests: writes what the clipboard holds as CF_TEXT
// and as CF_UNICODETEXT, each up to its terminating zero, into the two files named.
// Must only read the clipboard; exit code 0 when both formats were there.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

bool save(const char* path, const void* data, size_t bytes) {
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data, 1, bytes, f) == bytes;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    bool opened = false;
    for (int i = 0; i < 50 && !(opened = OpenClipboard(nullptr) != 0); ++i) Sleep(20);
    if (!opened) return 3;
    int result = 0;
    HANDLE text = GetClipboardData(CF_TEXT);
    const char* bytes = text != nullptr ? static_cast<const char*>(GlobalLock(text)) : nullptr;
    if (bytes == nullptr || !save(argv[1], bytes, std::strlen(bytes))) result = 4;
    if (bytes != nullptr) GlobalUnlock(text);
    HANDLE unicode = GetClipboardData(CF_UNICODETEXT);
    const wchar_t* wide = unicode != nullptr ? static_cast<const wchar_t*>(GlobalLock(unicode)) : nullptr;
    if (wide == nullptr || !save(argv[2], wide, std::wcslen(wide) * sizeof(wchar_t))) result = 5;
    if (wide != nullptr) GlobalUnlock(unicode);
    CloseClipboard();
    return result;
}
