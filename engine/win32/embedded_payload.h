// The payload a one-file installer carries (RCDATA 458): checked whole at start-up,
// unpacked at Install into a fresh, held, admin-only folder and removed through the held
// handles by this process alone, never by another program. Without the resource: no-ops.
#pragma once

#include <windows.h>

#include <string>

namespace engine::win32 {

// Finds and checks the archive: structure, sizes, paths, every SHA-256, and every path as
// Windows will see it under the folder it will be unpacked into (decided here, once:
// unpack_location.h), so what would fail at Install fails now. True when the program
// carries none, or a whole one; false with what failed. Writes nothing. Main thread, at
// start-up, before any window.
bool CheckEmbeddedPayload(std::string* failure);

// True once CheckEmbeddedPayload accepted an archive.
bool HasEmbeddedPayload();

// Unpacks the checked archive into a new folder named at random under the folder decided
// at start (locked_folder.h: made and held in one step; each sub-folder likewise). Each
// file is created new, written, and verified again from the bytes on disk through a handle
// that lets nobody write, rename or delete it, with one link and no reparse point. The
// handles stay open until ReleasePayloadFiles; the folders' until RemovePayloadFolder.
// Calls progress(text) with a line now and then for archives over 4 MB. The folder, with
// a trailing backslash, in *folder (in the ANSI code page, which must hold it). Done once:
// a later call gives the same folder. False with the reason; what was made is removed.
// Main thread.
bool UnpackEmbeddedPayload(std::string* folder, std::string* failure, void (*progress)(const char* text));

// Closes the handles of every unpacked file but keep (a full path in the ANSI code page;
// null keeps none): once the module is loaded, it may open its own files as it likes.
// Main thread.
void ReleasePayloadFiles(const char* keep);

// While running is true the module's entry may be executing: RemovePayloadFolder then
// leaves the module loaded. After a crash the caller leaves it true, as the module's own
// unloading could fail the same way. Worker thread, around the entry call.
void SetPayloadModuleRunning(bool running);

// Unloads the module kept by ReleasePayloadFiles (unless it is running), then removes the
// folder and everything in it, what the module made included, through the held handles
// (tree_removal.h). What is still in use is scheduled for removal at the next restart
// when the run is elevated (the folder admits only SYSTEM and Administrators) and left
// otherwise. Any thread, as the last thing before the process ends or after a failed
// unpack; a second call does nothing.
void RemovePayloadFolder();

}  // namespace engine::win32
