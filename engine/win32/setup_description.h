// The setup description and the two documents: each from the program's own RT_RCDATA
// resource, else (after a warning box) from a file in the current directory. Texts are
// loaded once and never freed; this file never interprets the documents.
#pragma once

#include <windows.h>

#include <cstdint>

namespace engine::win32 {

// The setup description text, NUL-terminated, and its length up to that NUL; null
// and 0 until LoadSetupDescription succeeds.
extern char* g_setupText;
extern uint32_t g_setupTextLength;
// Line 2 (program name) and line 5 (install module file name), at most 255 characters.
extern char g_programName[256];
extern char g_moduleFileName[256];
// The licence (setup.rtf) and health-warning (epileptic.rtf) documents with their
// lengths; the pages dialog fills and keeps them.
extern char* g_licenceText;
extern uint32_t g_licenceTextLength;
extern char* g_warningText;
extern uint32_t g_warningTextLength;

// Resource resourceId (RT_RCDATA) of the program file; if absent, shows warningText
// (MB_SYSTEMMODAL | MB_ICONWARNING) and reads fileName from the current directory
// with the given share mode. Returns a NUL-terminated copy that is never freed, its
// length before the first NUL in *lengthOut (if not null); null when there is no
// text: the resource would not load, the file would not open or read, or it is too
// large to hold. Main thread (it may show a modal box).
char* LoadResourceText(int resourceId, const char* fileName, const char* warningText, DWORD shareMode,
                       uint32_t* lengthOut);

// The three fixed instances. Main thread.
char* LoadSetupIniText(uint32_t* lengthOut);       // 455, "setup.ini", shared for reading
char* LoadLicenceDocument(uint32_t* lengthOut);    // 456, "setup.rtf", exclusive
char* LoadWarningDocument(uint32_t* lengthOut);    // 457, "epileptic.rtf", exclusive

// Loads the setup description and fills g_setupText, g_programName, g_moduleFileName.
// Without a text it shows "Failure loading header" and ends the process with exit
// code -1 (1603 in an unattended run), so it returns only true. Main thread.
bool LoadSetupDescription();

}  // namespace engine::win32
