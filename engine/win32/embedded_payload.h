// The payload a one-file installer carries (RCDATA 458): checked whole at start-up,
// unpacked at Install into a fresh, held, admin-only folder and removed through the held
// handles by this process alone, never by another program. Without the resource: no-ops.
#pragma once

#include <windows.h>

#include <string>

#include "engine/core/archive.h"

namespace engine::win32 {

using engine::ArchiveProgress;

// Finds and checks the archive: structure, sizes, paths, every SHA-256, and every path as
// Windows will see it under the folder it will be unpacked into (decided here, once:
// unpack_location.h), so what would fail at Install fails now. True when the program
// carries none, or a whole one; false with what failed. Writes nothing. progress (may be
// null) is called on the calling thread as the check goes on. At start-up, before the
// program's windows exist, on any one thread.
bool CheckEmbeddedPayload(std::string* failure, ArchiveProgress progress = nullptr, void* progressContext = nullptr);

// True once CheckEmbeddedPayload accepted an archive.
bool HasEmbeddedPayload();

// The accepted archive, its bytes and its index (which stay until the process ends);
// null before CheckEmbeddedPayload accepted one. Any thread afterwards.
const ArchiveIndex* EmbeddedArchive(const uint8_t** data, size_t* size);

// Unpacks the checked archive, but for the files under its top-level folder "payload"
// (the module extracts those itself: payload_api.h), into a new folder named at random under the folder decided
// at start (locked_folder.h: made and held in one step; each sub-folder likewise). Each
// file is created new, written, and verified again from the bytes on disk through a handle
// that lets nobody write, rename or delete it, with one link and no reparse point. The
// handles stay open until ReleasePayloadFiles; the folders' until RemovePayloadFolder.
// Files are written on several threads, each hashed once, from disk. Calls progress(text)
// with a line a second for more than 4 MB, and once at the end with what was unpacked
// and how long it took. The folder, with
// a trailing backslash, in *folder (in the ANSI code page, which must hold it). Done once:
// a later call gives the same folder. False with the reason; what was made is removed.
// Main thread.
bool UnpackEmbeddedPayload(std::string* folder, std::string* failure, void (*progress)(const char* text));

// Closes the handles of every unpacked file but keep (a full path in the ANSI code page;
// null keeps none), and of every sub-folder (the unpacking folder stays held): once the
// module is loaded, it may open and list its own files as it likes. Main thread.
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
