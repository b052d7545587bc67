// When the running executable was linked, as __DATE__ ("Mmm dd yyyy", a blank before a
// one-digit day) and __TIME__ ("hh:mm:ss") would write it. Each executable defines both
// in a source cmake/build_stamp.cmake generates for it; the library never defines them.
#pragma once

extern "C" const char kvBuildDate[12];
extern "C" const char kvBuildTime[9];
