// The Windows API for the files of this folder: after the program's platform interface,
// whose names (IDOK, VK_ESCAPE, DrawText) the system's headers would otherwise turn into
// macros first.
#pragma once

#include "platform/platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#undef DrawText
