// The payload a one-file installer carries (RCDATA 458): checked whole at start-up,
// unpacked at Install into a fresh folder that only SYSTEM, Administrators and the
// installing user can reach, locked while the module loads from it, removed at the end.
// A program without the resource behaves as if this file did not exist.
#pragma once

#include <windows.h>

#include <string>

namespace engine::win32 {

// Finds and checks the archive: structure, sizes, paths, every SHA-256. True when the
// program carries none, or a whole one; false with what failed. Writes nothing. Main
// thread, at start-up, before any window.
bool CheckEmbeddedPayload(std::string* failure);

// True once CheckEmbeddedPayload accepted an archive.
bool HasEmbeddedPayload();

// Unpacks the checked archive into a new folder under the temp folder, named at random
// (CreateLockedFolder, locked_folder.h), each file created new, then verified again
// from the bytes on disk through a handle that lets nobody write, rename or delete it.
// The handles stay open until ReleasePayloadFiles. Calls progress(text) with a line now and then for
// archives over 4 MB. The folder, with a trailing backslash, in *folder. Done once: a
// later call gives the same folder. False with the reason; what was made is removed.
// Main thread.
bool UnpackEmbeddedPayload(std::string* folder, std::string* failure, void (*progress)(const char* text));

// Closes the handles of every unpacked file but keep (a full path; null keeps none):
// once the module is loaded, it may open its own files as it likes. Main thread.
void ReleasePayloadFiles(const char* keep);

// Removes the unpacked files and the folder. What is still in use (the loaded module) is
// left to a copy of the program that waits for this process to end (RunFolderRemover);
// when none can be started, it is scheduled for removal at the next restart. Any
// thread, once, as the last thing before the process ends; nothing may unpack meanwhile.
void RemovePayloadFolder();

// The copy's work, for /kelvane-remove-folder=PID:FOLDER: waits (at most a minute) for
// process PID to end, then removes FOLDER, retrying for ten seconds, and schedules what
// stays for the next restart. Refuses (1) any folder but an unpacking folder of the temp
// folder ("kelvane-" and 32 hexadecimal digits). Shows nothing. 0 otherwise.
int RunFolderRemover(const std::string& request);

}  // namespace engine::win32
