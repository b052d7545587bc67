// Install-module hosting on Win32: paths, the narrow load, error texts, the call block
// and the entry call, which outlives a crash of the module. Every text stays within its
// buffer; nothing here shows a window.
#include "engine/win32/module_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#if defined(_MSC_VER)
#include <malloc.h>  // _resetstkoflw
#endif

#include "engine/core/setup_lines.h"
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

bool BuildModulePath(const char* directory, const char* moduleFileName, char (&path)[260], DWORD* refusal) {
    if (directory == nullptr) directory = "";
    if (moduleFileName == nullptr) moduleFileName = "";
    const bool fits = FormatInto(path, sizeof path, "%s\\%s", directory, moduleFileName);
    DWORD reason = ERROR_SUCCESS;
    if (!engine::IsSafeModuleName(moduleFileName)) {
        reason = ERROR_INVALID_NAME;
    } else if (!fits || directory[0] == '\0') {  // without its folder: the root of the current drive
        reason = ERROR_FILENAME_EXCED_RANGE;
    }
    if (refusal != nullptr) *refusal = reason;
    return reason == ERROR_SUCCESS;
}

HMODULE LoadInstallModule(const char* path, DWORD* error) { return LoadInstallModuleWith(LoadLibraryExA, path, error); }

HMODULE LoadInstallModuleWith(LibraryLoader load, const char* path, DWORD* error) {
    // The path is absolute, so DLL_LOAD_DIR means the module's own folder: its
    // dependencies may lie beside it. Otherwise the system folder only: not the
    // program's folder (DEFAULT_DIRS would add it), nor the current directory or PATH.
    HMODULE module = load(path, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Systems without the flags refuse them. The altered search also starts beside the
    // module; the front-end has taken the current directory out of it on such systems.
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        module = load(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
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

void ComposeCrashReport(const EntryOutcome& outcome, char* out, size_t size) {
    const auto address = reinterpret_cast<uintptr_t>(outcome.exceptionAddress);
    char place[MAX_PATH + 32] = "";
    HMODULE module = nullptr;
    char file[MAX_PATH];
    // A null address would name the program itself.
    if (address != 0 &&
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(outcome.exceptionAddress), &module)) {
        const DWORD length = GetModuleFileNameA(module, file, sizeof file);
        // A cut file name could end in another name: better none than a wrong one.
        if (length > 0 && length < sizeof file) {
            const char* name = file;
            for (const char* c = file; *c != '\0'; ++c) {
                if (*c == '\\' || *c == '/') name = c + 1;
            }
            FormatInto(place, sizeof place, " (%s+0x%llX)", name,
                       static_cast<unsigned long long>(address - reinterpret_cast<uintptr_t>(module)));
        }
    }
    FormatInto(out, size, "The install module crashed: exception 0x%08lX at 0x%0*llX%s",
               static_cast<unsigned long>(outcome.exceptionCode), static_cast<int>(2 * sizeof(void*)),
               static_cast<unsigned long long>(address), place);
}

namespace {

// Windows raises a stack overflow with the thread's guaranteed stack still free, enough
// to dispatch it. Wine commits the whole stack with one guard page at its bottom: the
// overflow comes with less than a page left and Wine ends the thread. A guard page
// above the guaranteed room makes it come early there too; after an overflow, which used
// the guard page up, the same puts one back. The calling thread only.
void KeepRoomForStackOverflow() {
    constexpr ULONG kRoom = 32 * 1024;
    ULONG guarantee = kRoom;
    if (!SetThreadStackGuarantee(&guarantee)) return;  // a stack too small to spare it
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    MEMORY_BASIC_INFORMATION stack;
    if (VirtualQuery(&stack, &stack, sizeof stack) == 0) return;
    char* const guard = static_cast<char*>(stack.AllocationBase) + system.dwPageSize + kRoom;
    MEMORY_BASIC_INFORMATION page;
    // Only a committed page well below this frame: on Windows the stack has not grown
    // there yet and its own guard page does the work.
    if (VirtualQuery(guard, &page, sizeof page) == 0 || page.State != MEM_COMMIT || (page.Protect & PAGE_GUARD) != 0 ||
        guard + 4 * system.dwPageSize > reinterpret_cast<char*>(&page)) {
        return;
    }
    DWORD old;
    VirtualProtect(guard, system.dwPageSize, PAGE_READWRITE | PAGE_GUARD, &old);
}

}  // namespace

// The entry call. A __stdcall entry pops its argument, a __cdecl one leaves it; code that
// kept using the stack pointer afterwards would be 4 bytes off. So on the 32-bit target
// the call goes through a routine that puts the stack pointer back from its frame
// pointer, which both conventions preserve.
//
// An exception the module leaves unhandled must not end the process: the routine's own
// frame carries the handler that comes after all of the module's. With GCC the handler
// does not unwind (RtlUnwind, RtlUnwindEx): it points the faulting thread's context back
// into the routine's frame and lets it go on there. So none of the module's cleanup code
// runs on its broken state, its frames need no unwind data, and the handler needs little
// stack, which an overflow leaves little of. The routine restores from its own frame
// whatever registers the caller counts on; the module's frames are abandoned as they are.
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))

namespace {

void RecordCrash(EntryOutcome& outcome, const EXCEPTION_RECORD& record) {
    outcome.result = 0;
    outcome.crashed = true;
    outcome.exceptionCode = static_cast<uint32_t>(record.ExceptionCode);
    outcome.exceptionAddress = record.ExceptionAddress;
}

#if defined(__i386__)
// The routine's registration record and what follows it on its frame (see the routine).
struct GuardedFrame {
    GuardedFrame* previous;
    void* handler;
    EntryOutcome* outcome;
    DWORD resumeAt;
    DWORD framePointer;
};
#else
// The routine's frame at its establisher frame, the stack pointer after its prologue.
struct GuardedFrame {
    void* homeSpace[4];
    EntryOutcome* outcome;
    DWORD64 resumeAt;
};
#endif

}  // namespace

extern "C" uint32_t __cdecl kvCallEntryGuarded(InstallEntry entry, InstallHostInterface* host, EntryOutcome* outcome);
extern "C" EXCEPTION_ROUTINE kvEntryCrashHandler;  // the type the dispatcher calls

extern "C" EXCEPTION_DISPOSITION NTAPI kvEntryCrashHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                                           CONTEXT* context, void*) {
    // An unwind on its way past (a handler further out that is not ours) must go on.
    if ((record->ExceptionFlags & EXCEPTION_UNWIND) != 0) return ExceptionContinueSearch;
    auto* frame = static_cast<GuardedFrame*>(establisherFrame);
    RecordCrash(*frame->outcome, *record);
#if defined(__i386__)
    context->Eip = frame->resumeAt;
    context->Ebp = frame->framePointer;
    context->Esp = reinterpret_cast<DWORD>(frame);
#else
    context->Rip = frame->resumeAt;
    context->Rsp = reinterpret_cast<DWORD64>(frame);
#endif
    // Execution goes on in the routine, not at the fault, so a non-continuable exception
    // (an MSVC module's C++ throw is one) may go on too. The dispatcher reads the flag
    // after the handler returns; left set, it would raise a new exception instead.
    record->ExceptionFlags &= ~static_cast<DWORD>(EXCEPTION_NONCONTINUABLE);
    return ExceptionContinueExecution;
}

#if defined(__i386__)
// Frame, from ebp: +16 outcome, +12 host, +8 entry; -4 ebx, -8 esi, -12 edi, -16 the x87
// control word; -36 the registration record (GuardedFrame), linked at fs:[0]. The
// record stays linked for the whole call and is unlinked on both ways out, which also
// drops whatever records the module left below it. Symbols of 32-bit Windows C
// functions carry a leading underscore, and a __stdcall one its argument bytes.
__asm__(
    ".text\n"
    ".globl _kvCallEntryGuarded\n"
    ".def _kvCallEntryGuarded; .scl 2; .type 32; .endef\n"
    "_kvCallEntryGuarded:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    subl $4, %esp\n"
    "    fnstcw (%esp)\n"
    "    pushl %ebp\n"                      // GuardedFrame::framePointer
    "    pushl $.Lkv_resume\n"              // resumeAt
    "    pushl 16(%ebp)\n"                  // outcome
    "    pushl $_kvEntryCrashHandler@16\n"  // handler
    "    pushl %fs:0\n"                     // previous
    "    movl %esp, %fs:0\n"
    "    andl $-16, %esp\n"  // the entry may expect an aligned stack
    "    subl $12, %esp\n"
    "    pushl 12(%ebp)\n"  // host
    "    call *8(%ebp)\n"   // entry
    ".Lkv_leave:\n"
    "    movl -36(%ebp), %ecx\n"
    "    movl %ecx, %fs:0\n"
    "    leal -12(%ebp), %esp\n"  // whatever the entry popped
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebx\n"
    "    popl %ebp\n"
    "    ret\n"
    // Reached from the handler with esp at the record and ebp at this frame. The fault
    // may have left the direction flag set and the x87 stack in use.
    ".Lkv_resume:\n"
    "    cld\n"
    "    fninit\n"
    "    fldcw -16(%ebp)\n"
    "    xorl %eax, %eax\n"
    "    jmp .Lkv_leave\n");
#else
// Frame from rsp after the prologue (GuardedFrame): 0 home space for the entry, 32
// outcome, 40 resume address, 48 MXCSR, 52 the x87 control word, 64 xmm6-xmm15, then
// the eight pushed registers. The unwind data names kvEntryCrashHandler as the
// exception handler, so the dispatcher calls it for this frame. The resumed path
// leaves by the same epilogue, so every register the caller keeps comes back.
__asm__(
    ".text\n"
    ".globl kvCallEntryGuarded\n"
    ".def kvCallEntryGuarded; .scl 2; .type 32; .endef\n"
    ".seh_proc kvCallEntryGuarded\n"
    "kvCallEntryGuarded:\n"
    "    pushq %rbp\n"
    "    .seh_pushreg %rbp\n"
    "    pushq %rbx\n"
    "    .seh_pushreg %rbx\n"
    "    pushq %rsi\n"
    "    .seh_pushreg %rsi\n"
    "    pushq %rdi\n"
    "    .seh_pushreg %rdi\n"
    "    pushq %r12\n"
    "    .seh_pushreg %r12\n"
    "    pushq %r13\n"
    "    .seh_pushreg %r13\n"
    "    pushq %r14\n"
    "    .seh_pushreg %r14\n"
    "    pushq %r15\n"
    "    .seh_pushreg %r15\n"
    "    subq $232, %rsp\n"  // 16-byte aligned after eight pushes and the return address
    "    .seh_stackalloc 232\n"
    "    movaps %xmm6, 64(%rsp)\n"
    "    .seh_savexmm %xmm6, 64\n"
    "    movaps %xmm7, 80(%rsp)\n"
    "    .seh_savexmm %xmm7, 80\n"
    "    movaps %xmm8, 96(%rsp)\n"
    "    .seh_savexmm %xmm8, 96\n"
    "    movaps %xmm9, 112(%rsp)\n"
    "    .seh_savexmm %xmm9, 112\n"
    "    movaps %xmm10, 128(%rsp)\n"
    "    .seh_savexmm %xmm10, 128\n"
    "    movaps %xmm11, 144(%rsp)\n"
    "    .seh_savexmm %xmm11, 144\n"
    "    movaps %xmm12, 160(%rsp)\n"
    "    .seh_savexmm %xmm12, 160\n"
    "    movaps %xmm13, 176(%rsp)\n"
    "    .seh_savexmm %xmm13, 176\n"
    "    movaps %xmm14, 192(%rsp)\n"
    "    .seh_savexmm %xmm14, 192\n"
    "    movaps %xmm15, 208(%rsp)\n"
    "    .seh_savexmm %xmm15, 208\n"
    "    .seh_endprologue\n"
    "    movq %r8, 32(%rsp)\n"
    "    leaq .Lkv_resume(%rip), %rax\n"
    "    movq %rax, 40(%rsp)\n"
    "    stmxcsr 48(%rsp)\n"
    "    fnstcw 52(%rsp)\n"
    "    movq %rcx, %rax\n"
    "    movq %rdx, %rcx\n"  // host
    "    call *%rax\n"       // entry
    ".Lkv_leave:\n"
    "    movaps 64(%rsp), %xmm6\n"
    "    movaps 80(%rsp), %xmm7\n"
    "    movaps 96(%rsp), %xmm8\n"
    "    movaps 112(%rsp), %xmm9\n"
    "    movaps 128(%rsp), %xmm10\n"
    "    movaps 144(%rsp), %xmm11\n"
    "    movaps 160(%rsp), %xmm12\n"
    "    movaps 176(%rsp), %xmm13\n"
    "    movaps 192(%rsp), %xmm14\n"
    "    movaps 208(%rsp), %xmm15\n"
    "    addq $232, %rsp\n"
    "    popq %r15\n"
    "    popq %r14\n"
    "    popq %r13\n"
    "    popq %r12\n"
    "    popq %rdi\n"
    "    popq %rsi\n"
    "    popq %rbx\n"
    "    popq %rbp\n"
    "    ret\n"
    // Reached from the handler with rsp at the establisher frame. The fault may have
    // left the direction flag set, the x87 stack in use and MXCSR changed.
    ".Lkv_resume:\n"
    "    cld\n"
    "    fninit\n"
    "    fldcw 52(%rsp)\n"
    "    ldmxcsr 48(%rsp)\n"
    "    xorl %eax, %eax\n"
    "    jmp .Lkv_leave\n"
    "    .seh_handler kvEntryCrashHandler, @except\n"
    ".seh_endproc\n");
#endif

EntryOutcome CallInstallEntry(InstallEntry entry, InstallHostInterface* host) {
    KeepRoomForStackOverflow();
    EntryOutcome outcome;
    outcome.result = kvCallEntryGuarded(entry, host, &outcome);
    // The overflow used the guard page up; whatever this thread runs next needs one.
    if (outcome.crashed && outcome.exceptionCode == EXCEPTION_STACK_OVERFLOW) KeepRoomForStackOverflow();
    return outcome;
}

#elif defined(_MSC_VER)

namespace {

int RecordCrash(const EXCEPTION_POINTERS* info, EntryOutcome& outcome) {
    outcome.crashed = true;
    outcome.exceptionCode = static_cast<uint32_t>(info->ExceptionRecord->ExceptionCode);
    outcome.exceptionAddress = info->ExceptionRecord->ExceptionAddress;
    return EXCEPTION_EXECUTE_HANDLER;
}

#if defined(_M_IX86)
__declspec(naked) uint32_t __cdecl CallEntryKeepingStack(InstallEntry, InstallHostInterface*) {
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
#else
uint32_t CallEntryKeepingStack(InstallEntry entry, InstallHostInterface* host) { return entry(host); }
#endif

}  // namespace

// Here the compiler's own frame handling unwinds the module's frames into __except.
EntryOutcome CallInstallEntry(InstallEntry entry, InstallHostInterface* host) {
    KeepRoomForStackOverflow();
    EntryOutcome outcome;
    __try {
        outcome.result = CallEntryKeepingStack(entry, host);
    } __except (RecordCrash(GetExceptionInformation(), outcome)) {
        outcome.result = 0;
        if (outcome.exceptionCode == EXCEPTION_STACK_OVERFLOW) _resetstkoflw();
    }
    return outcome;
}

#else
#error "CallInstallEntry needs a guarded, stack-restoring call for this compiler and target"
#endif

}  // namespace engine::win32
