// Install-module hosting without any window: the call block handed to the module, the
// program directory, the module path, the narrow library load, the system error text
// and the entry call with its crash report. Shows nothing and starts no thread; callers
// report and schedule.
//
// Shape, as the front-end and the module test host use it:
//   ComputeProgramDirectory(); BuildModulePath(g_programDirectory, g_moduleFileName, path);
//   InstallCallBlock* b = PrepareInstallCall(path, owner, g_programName, message, size);  // never freed
//     (LoadInstallModule, GetProcAddress, NewInstallCallBlock, FillInstallCallBlock)
//   ... on the worker: b->host.mainWindow = ...; EntryOutcome o = CallInstallEntry(b->entry, &b->host);
//   if (o.crashed) ComposeCrashReport(o, text, size);
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "sdk/kelvane_install.h"

namespace engine::win32 {

// What one start of the worker owns. The module receives &host, the 48-byte tail; entry
// and owner are the host's own. 56 bytes on the 32-bit target, natural layout on 64-bit.
struct InstallCallBlock {
    InstallEntry entry;         //  0
    InstallHostInterface host;  //  4
    void* owner;                // 52: the main dialog object, host-private
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(InstallCallBlock) == 56, "call block size");
static_assert(offsetof(InstallCallBlock, host) == 4, "host interface at offset 4");
static_assert(offsetof(InstallCallBlock, owner) == 52, "owner at offset 52");
static_assert(sizeof(InstallHostInterface) == 48, "host interface size");
#endif

// Drive and directory of the program file, ending with a backslash; empty when the
// program's path did not fit (260 bytes for the file, 255 characters here), so that a
// cut, wrong directory is never used to find the module.
extern char g_programDirectory[256];

// Fills g_programDirectory from GetModuleFileNameA and _splitpath ("%s%s"). Returns
// false, leaving it empty, when the path would be cut. Any thread, but not concurrently
// with readers of g_programDirectory (the front-end calls it on the main thread).
bool ComputeProgramDirectory();

// "%s\\%s" of directory and module file name into path. False, with path holding the
// (possibly cut) text for the failure message, when it does not fit or directory is
// empty (*refusal = ERROR_FILENAME_EXCED_RANGE), or when the name could lead out of the
// folder, as engine::IsSafeModuleName judges (*refusal = ERROR_INVALID_NAME).
bool BuildModulePath(const char* directory, const char* moduleFileName, char (&path)[260],
                     DWORD* refusal = nullptr);

// Loads the module by its full path. Its own dependencies are found beside it and in the
// system folder only; nothing is taken from the program's folder (unless the module lies
// there), the current directory or PATH. On failure returns
// null and stores GetLastError() of the load in *error (when error is not null).
HMODULE LoadInstallModule(const char* path, DWORD* error);

// LoadInstallModule with the loader given, so that a test can play a system without the
// LOAD_LIBRARY_SEARCH_* flags: one that fails them with ERROR_INVALID_PARAMETER gets a
// second load of the same path with LOAD_WITH_ALTERED_SEARCH_PATH.
using LibraryLoader = HMODULE(WINAPI*)(LPCSTR path, HANDLE reserved, DWORD flags);
HMODULE LoadInstallModuleWith(LibraryLoader load, const char* path, DWORD* error);

// The system's text for code: "Error Windows n\xB0<code>\n" followed by the system
// message up to its first carriage return, or "Unkown Error" when the system has none.
// Always NUL-terminated within size (cut when longer); size 0 writes nothing.
void FormatSystemError(int32_t code, char* out, size_t size);

// "Can't load file <path> with error <code> (<FormatSystemError(code)>)", at most
// size - 1 characters (the front-end passes 512): the end is cut when it is longer.
void ComposeLoadFailure(const char* path, int32_t code, char* out, size_t size);

// The same shape for the two failures after a successful load: the module has no export
// quorvend_install2 ("Can't find quorvend_install2 in file ..."), or the worker could not
// be started ("Can't start installation of file ..."). Same bound as above.
void ComposeEntryFailure(const char* path, int32_t code, char* out, size_t size);
void ComposeStartFailure(const char* path, int32_t code, char* out, size_t size);

// A zero-filled block from the process heap with owner set; null when memory runs out.
// Never freed: the module may keep the addresses inside it until the process ends.
InstallCallBlock* NewInstallCallBlock(void* owner);

// entry, size 48, programName, g_programDirectory, the four file services, the two print
// services, reserved1 = 0, reserved2 = 0. mainWindow and owner are left as they are.
void FillInstallCallBlock(InstallCallBlock& block, InstallEntry entry, const char* programName);

// The steps between a module path and a worker: loads the module, finds its entry and
// returns a new, filled block with owner set. On failure returns null with the failure
// text (load, missing entry, or no memory for the block) in message, within size; the
// module, once loaded, stays loaded. Thread as for FillInstallCallBlock.
InstallCallBlock* PrepareInstallCall(const char* path, void* owner, const char* programName, char* message,
                                     size_t size);

// What became of one entry call.
struct EntryOutcome {
    uint32_t result = 0;  // the entry's 32-bit result (success is the low 8 bits); 0 after a crash
    bool crashed = false;  // an exception escaped the entry
    uint32_t exceptionCode = 0;  // e.g. 0xC0000005
    void* exceptionAddress = nullptr;
};

// Calls entry(host). On the 32-bit target the stack pointer is restored after the call,
// so an entry built as __stdcall (which pops its argument) works as well as a __cdecl one.
// An exception that the module does not handle itself (access violation, stack overflow,
// RaiseException, an MSVC module's C++ throw) ends the call as crashed, with the thread
// and the process going on; what the module left half done (its locks, a heap it was
// changing) stays so. Exceptions on threads the module starts are not caught. Any thread.
EntryOutcome CallInstallEntry(InstallEntry entry, InstallHostInterface* host);

// "The install module crashed: exception 0xC0000005 at 0x6A2C1234 (kvtest_crash.dll+0x1234)":
// the address with 8 hexadecimal digits on 32-bit, 16 on 64-bit; the parenthesis only
// when the address lies in a loaded module whose file name fits MAX_PATH. At most
// size - 1 characters, the end cut when longer; size 0 writes nothing.
void ComposeCrashReport(const EntryOutcome& outcome, char* out, size_t size);

}  // namespace engine::win32
