// Install-module hosting on Win32: paths, the narrow load, error texts, the call block
// and the entry call. Every text stays within its buffer; nothing here shows a window.
#include "engine/win32/module_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/win32/host_services.h"
#include "engine/win32/print_services.h"

namespace engine::win32 {

char g_programDirectory[256] = "";

namespace {

// snprintf that reports whether the whole text fit; the buffer is always terminated.
template <typename... Args>
bool FormatInto(char* out, size_t size, const char* format, Args... args) {
    if (size == 0) return false;
    const int written = snprintf(out, size, format, args...);
    if (written < 0) {
        out[0] = '\0';
        return false;
    }
    return static_cast<size_t>(written) < size;
}

}  // namespace

bool ComputeProgramDirectory() {
    g_programDirectory[0] = '\0';
    char file[260];
    const DWORD length = GetModuleFileNameA(nullptr, file, sizeof file);
    if (length == 0 || length >= sizeof file) return false;  // a cut path names another folder
    char drive[_MAX_DRIVE];
    char directory[_MAX_DIR];
    _splitpath(file, drive, directory, nullptr, nullptr);
    if (!FormatInto(g_programDirectory, sizeof g_programDirectory, "%s%s", drive, directory)) {
        g_programDirectory[0] = '\0';
        return false;
    }
    return true;
}

bool BuildModulePath(const char* directory, const char* moduleFileName, char (&path)[260]) {
    if (directory == nullptr) directory = "";
    if (moduleFileName == nullptr) moduleFileName = "";
    const bool fits = FormatInto(path, sizeof path, "%s\\%s", directory, moduleFileName);
    // Without its folder the path would be taken from the root of the current drive.
    return fits && directory[0] != '\0';
}

HMODULE LoadInstallModule(const char* path, DWORD* error) {
    // The path is absolute, so DLL_LOAD_DIR means the module's own folder: its
    // dependencies may lie beside it. The current directory and PATH are never searched.
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (module == nullptr && error != nullptr) *error = GetLastError();
    return module;
}

void FormatSystemError(int32_t code, char* out, size_t size) {
    if (size == 0) return;
    char* text = nullptr;
    // Inserts are ignored: with no arguments to give, a message with %1 would read garbage.
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) {
        FormatInto(out, size, "%s", "Unkown Error");
        return;
    }
    // Up to the first carriage return: drops the CR LF that ends system texts and any
    // further lines. A bare line feed is an ordinary character and stays.
    text[strcspn(text, "\r")] = '\0';
    FormatInto(out, size, "Error Windows n\xB0%d\n%s", static_cast<int>(code), text);
    LocalFree(text);
}

namespace {

void ComposeFailure(const char* format, const char* path, int32_t code, char* out, size_t size) {
    char reason[512];
    FormatSystemError(code, reason, sizeof reason);
    FormatInto(out, size, format, path != nullptr ? path : "", static_cast<int>(code), reason);
}

}  // namespace

void ComposeLoadFailure(const char* path, int32_t code, char* out, size_t size) {
    ComposeFailure("Can't load file %s with error %d (%s)", path, code, out, size);
}

void ComposeEntryFailure(const char* path, int32_t code, char* out, size_t size) {
    ComposeFailure("Can't find " KELVANE_INSTALL_ENTRY_NAME " in file %s with error %d (%s)", path, code, out, size);
}

void ComposeStartFailure(const char* path, int32_t code, char* out, size_t size) {
    ComposeFailure("Can't start installation of file %s with error %d (%s)", path, code, out, size);
}

InstallCallBlock* NewInstallCallBlock(void* owner) {
    auto* block =
        static_cast<InstallCallBlock*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(InstallCallBlock)));
    if (block != nullptr) block->owner = owner;
    return block;
}

void FillInstallCallBlock(InstallCallBlock& block, InstallEntry entry, const char* programName) {
    block.entry = entry;
    // 48 on the product's 32-bit target; the 64-bit build reports its natural size.
    block.host.size = static_cast<uint32_t>(sizeof(InstallHostInterface));
    block.host.programName = programName;
    block.host.programDirectory = g_programDirectory;
    SetFileServices(block.host);
    block.host.reserved1 = 0;
    SetPrintServices(block.host);
    block.host.reserved2 = 0;
}

InstallCallBlock* PrepareInstallCall(const char* path, void* owner, const char* programName, char* message,
                                     size_t size) {
    DWORD error = 0;
    HMODULE module = LoadInstallModule(path, &error);
    if (module == nullptr) {
        ComposeLoadFailure(path, static_cast<int32_t>(error), message, size);
        return nullptr;
    }
    // The module stays loaded; a second attempt finds it again and repeats the lookup.
    auto entry = reinterpret_cast<InstallEntry>(
        reinterpret_cast<void*>(GetProcAddress(module, KELVANE_INSTALL_ENTRY_NAME)));
    if (entry == nullptr) {
        ComposeEntryFailure(path, static_cast<int32_t>(GetLastError()), message, size);
        return nullptr;
    }
    // Looked up before the block exists, so repeated failed attempts allocate nothing.
    InstallCallBlock* block = NewInstallCallBlock(owner);
    if (block == nullptr) {
        ComposeStartFailure(path, ERROR_NOT_ENOUGH_MEMORY, message, size);
        return nullptr;
    }
    FillInstallCallBlock(*block, entry, programName);
    return block;
}

}  // namespace engine::win32

// The entry call. A __stdcall entry pops its argument, a __cdecl one leaves it; code that
// kept using the stack pointer afterwards would be 4 bytes off. So on the 32-bit target
// the call goes through a routine that puts the stack pointer back from its frame
// pointer, which both conventions preserve. One routine per compiler, same instructions.
#if defined(_WIN64)

uint32_t engine::win32::CallInstallEntry(InstallEntry entry, InstallHostInterface* host) { return entry(host); }

#elif defined(__GNUC__) && defined(__i386__)

extern "C" uint32_t __cdecl kvCallEntryKeepingStack(InstallEntry entry, InstallHostInterface* host);

// Symbols of 32-bit Windows C functions carry a leading underscore.
__asm__(
    ".text\n"
    ".globl _kvCallEntryKeepingStack\n"
    ".def _kvCallEntryKeepingStack; .scl 2; .type 32; .endef\n"
    "_kvCallEntryKeepingStack:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    andl $-16, %esp\n"   // the entry may expect an aligned stack
    "    subl $12, %esp\n"
    "    pushl 12(%ebp)\n"    // host
    "    call *8(%ebp)\n"     // entry
    "    movl %ebp, %esp\n"   // whatever the entry popped
    "    popl %ebp\n"
    "    ret\n");

uint32_t engine::win32::CallInstallEntry(InstallEntry entry, InstallHostInterface* host) {
    return kvCallEntryKeepingStack(entry, host);
}

#elif defined(_MSC_VER) && defined(_M_IX86)

static __declspec(naked) uint32_t __cdecl kvCallEntryKeepingStack(InstallEntry, InstallHostInterface*) {
    __asm {
        push ebp
        mov ebp, esp
        and esp, -16
        sub esp, 12
        push dword ptr [ebp + 12]
        call dword ptr [ebp + 8]
        mov esp, ebp
        pop ebp
        ret
    }
}

uint32_t engine::win32::CallInstallEntry(InstallEntry entry, InstallHostInterface* host) {
    return kvCallEntryKeepingStack(entry, host);
}

#else
#error "CallInstallEntry needs a stack-restoring call for this compiler and target"
#endif
