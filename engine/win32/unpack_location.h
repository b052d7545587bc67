// Where a one-file installer unpacks: decided once at start from who the process runs as,
// never from the environment when it runs elevated, and checked at Install on the folder
// itself. Makes nothing and removes nothing.
#pragma once

#include <windows.h>

#include <string>

namespace engine::win32 {

enum class RunAccount { system, elevated, unelevated };

// Who this process runs as, from its token: LocalSystem; elevated (TokenElevation, or an
// administrator's unfiltered token); otherwise unelevated. A token that cannot be read
// counts as elevated, so the environment is never trusted by mistake. Any thread.
RunAccount CurrentRunAccount();

// The folder the unpacking folder is made in, with its trailing backslash:
//   system:     GetTempPath2W where kernel32 has it, else %windir%\SystemTemp when it
//               exists, else %windir%\Temp;
//   elevated:   %windir%\Temp;
//   unelevated: the user's temp folder (GetTempPathW).
// %windir% is GetSystemWindowsDirectoryW. False with why when there is none.
bool UnpackParentFor(RunAccount account, std::wstring* parent, std::string* why);

// Opens parent (FILE_TRAVERSE and FILE_ADD_SUBDIRECTORY, no link followed) and checks it:
// a folder, not a reparse point, on a fixed local volume that keeps access lists
// (FILE_PERSISTENT_ACLS). The handle, or null with why.
HANDLE OpenUnpackParent(const std::wstring& parent, std::string* why);

}  // namespace engine::win32
