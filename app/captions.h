// Texts the front-end composes for its windows: the two dialog captions and the
// application name used as caption of caption-less boxes. Bounded; never overruns.
#pragma once

#include <cstddef>

namespace app {

// "Installation of program <name> Build <date> <time>", cut to 255 characters.
void FormatPagesCaption(const char* programName, const char* buildDate, const char* buildTime, char (&out)[256]);

// "Local installation scenario <name> Pelbrix"; a name of 255 characters always fits.
void FormatMainCaption(const char* programName, char (&out)[512]);

// The program file's name without folder and extension ("kelvane" for kelvane.exe),
// as a framework would take it; computed once at start-up, on the main thread.
extern char g_applicationName[256];
void ComputeApplicationName();

}  // namespace app
