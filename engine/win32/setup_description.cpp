// Loading of the setup description and the documents on Win32. Allocations here are
// kept for the life of the process on purpose; never hand these buffers to free().
#include "engine/win32/setup_description.h"

#include <cstring>

#include "engine/core/setup_lines.h"
#include "engine/win32/message_box.h"
#include "engine/win32/run_mode.h"

namespace engine::win32 {

char* g_setupText = nullptr;
uint32_t g_setupTextLength = 0;
char g_programName[256] = "";
char g_moduleFileName[256] = "";
char* g_licenceText = nullptr;
uint32_t g_licenceTextLength = 0;
char* g_warningText = nullptr;
uint32_t g_warningTextLength = 0;

namespace {

static_assert(sizeof g_programName == kSetupLineSize && sizeof g_moduleFileName == kSetupLineSize,
              "setup value buffers");

constexpr UINT kWarningStyle = MB_SYSTEMMODAL | MB_ICONWARNING;  // 0x1030
constexpr UINT kErrorStyle = MB_SYSTEMMODAL | MB_ICONERROR;      // 0x1010
// Texts are walked with 32-bit signed cursors, and size + 1 must not wrap.
constexpr uint64_t kMaxTextBytes = 0x7FFFFFFE;

// A NUL-terminated copy of bytes[0, size), ending at the first NUL if one comes first.
char* KeepText(const void* bytes, DWORD size, uint32_t* lengthOut) {
    char* text = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(size) + 1));
    if (text == nullptr) return nullptr;
    if (size > 0) memcpy(text, bytes, size);
    text[size] = '\0';
    if (lengthOut != nullptr) *lengthOut = static_cast<uint32_t>(strlen(text));
    return text;
}

char* LoadFromResource(HRSRC resource, uint32_t* lengthOut) {
    HGLOBAL loaded = LoadResource(nullptr, resource);
    if (loaded == nullptr) return nullptr;
    const void* bytes = LockResource(loaded);
    const DWORD size = SizeofResource(nullptr, resource);
    if ((bytes == nullptr && size > 0) || size > kMaxTextBytes) return nullptr;
    return KeepText(bytes, size, lengthOut);
}

char* LoadFromFile(const char* fileName, DWORD shareMode, uint32_t* lengthOut) {
    HANDLE file = CreateFileA(fileName, GENERIC_READ, shareMode, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    char* text = nullptr;
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
        static_cast<uint64_t>(size.QuadPart) <= kMaxTextBytes) {
        const DWORD expected = static_cast<DWORD>(size.QuadPart);
        text = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(expected) + 1));
        DWORD got = 0;
        if (text != nullptr && ReadFile(file, text, expected, &got, nullptr)) {
            // A file that shrank since GetFileSizeEx ends after the bytes that came.
            text[got] = '\0';
            if (lengthOut != nullptr) *lengthOut = static_cast<uint32_t>(strlen(text));
        } else if (text != nullptr) {
            HeapFree(GetProcessHeap(), 0, text);
            text = nullptr;
        }
    }
    CloseHandle(file);
    return text;
}

}  // namespace

char* LoadResourceText(int resourceId, const char* fileName, const char* warningText, DWORD shareMode,
                       uint32_t* lengthOut) {
    if (lengthOut != nullptr) *lengthOut = 0;
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(resourceId), MAKEINTRESOURCEA(10));  // RT_RCDATA
    if (resource != nullptr) return LoadFromResource(resource, lengthOut);
    AskUser(nullptr, warningText, nullptr, kWarningStyle);
    return LoadFromFile(fileName, shareMode, lengthOut);
}

char* LoadSetupIniText(uint32_t* lengthOut) {
    return LoadResourceText(455, "setup.ini", "Ini taked", FILE_SHARE_READ, lengthOut);
}

char* LoadLicenceDocument(uint32_t* lengthOut) {
    return LoadResourceText(456, "setup.rtf", "rtf taked", 0, lengthOut);
}

char* LoadWarningDocument(uint32_t* lengthOut) {
    return LoadResourceText(457, "epileptic.rtf", "rtf epilec taked", 0, lengthOut);
}

bool LoadSetupDescription() {
    uint32_t length = 0;
    char* text = LoadSetupIniText(&length);
    if (text == nullptr) {
        AskUser(nullptr, "Failure loading header", nullptr, kErrorStyle);
        EndRun(static_cast<UINT>(-1), kExitFailed, "No setup description: the installation cannot start");
    }
    g_setupText = text;
    g_setupTextLength = length;
    ExtractSetupNames(g_setupText, static_cast<int32_t>(length), g_programName, g_moduleFileName);
    return true;
}

}  // namespace engine::win32
