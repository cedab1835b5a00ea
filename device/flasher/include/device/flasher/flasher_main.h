// Entry of Velkor.exe, called by the handheld's shell when it finds the program in the
// start-up folder. Arguments are ignored.
#pragma once

#include "platform/wince/types.h"

#define VELKOR_EXPORT extern "C" __attribute__((visibility("default")))

// 0 when it ends normally (also when unlocking failed and nothing was written); 1 when the
// flash routines could not be placed.
VELKOR_EXPORT int FlasherMain(void* instance, void* previousInstance, WCHAR* commandLine,
                              int show);
