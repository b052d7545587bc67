// Removal of a folder tree through a held handle: every child opened relative to its
// parent's handle, links removed as themselves and never followed, nothing looked up by
// path. Removes only what lies below the handle; never starts a process.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace engine::win32 {

// Deletes everything below folder, then folder itself, through folder (a handle with
// DELETE, FILE_LIST_DIRECTORY and FILE_READ_ATTRIBUTES; the caller still closes it).
// POSIX delete where the system has it, else delete-on-close. A child is descended into
// only when both its directory entry and its own handle call it a plain folder.
// What cannot go now (a file in use) lands in *left as a path under folderPath (folder's
// own path without a trailing backslash), children before their folder. Any thread.
// True when the whole tree is gone.
bool RemoveTreeByHandle(HANDLE folder, const std::wstring& folderPath, std::vector<std::wstring>* left);

// MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT) for each, in order. At restart the
// system deletes them by path as SYSTEM: call it only for paths under a folder that only
// SYSTEM and Administrators can change, so nobody can put a link there meanwhile.
void ScheduleRemovalAtRestart(const std::vector<std::wstring>& paths);

}  // namespace engine::win32
