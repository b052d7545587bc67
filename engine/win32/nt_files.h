// Files opened and made relative to a folder handle (NtCreateFile from ntdll, looked up at
// run time), so that no path is walked again once a folder is held. Never follows a link:
// every open here carries FILE_OPEN_REPARSE_POINT. Opens and makes; decides nothing.
#pragma once

#include <windows.h>

#include <string>

namespace engine::win32 {

// NtCreateFile's dispositions and options used here (winternl.h lacks some on older SDKs).
constexpr ULONG kNtFileOpen = 1;
constexpr ULONG kNtFileCreate = 2;  // fails when the name exists, whatever it is
constexpr ULONG kNtDirectoryFile = 0x00000001;
constexpr ULONG kNtSynchronousIo = 0x00000020;
constexpr ULONG kNtOpenForBackup = 0x00004000;
constexpr ULONG kNtOpenReparsePoint = 0x00200000;

// name (one part, no separator) under parent; the new handle, or null with a Win32 error
// in *error. security (may be null) is applied when the call creates. Any thread.
HANDLE NtOpenRelative(HANDLE parent, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                      ULONG options, void* security, DWORD* error);

// The attributes and reparse tag of what handle names itself; false when unknown.
bool AttributesOf(HANDLE handle, DWORD* attributes, DWORD* reparseTag);

// True in a Wine process: files there keep no owners nor access lists of their own.
bool RunningUnderWine();

}  // namespace engine::win32
