#pragma once

// The one way Win32 code here includes <windows.h>.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// These macros would rename HostServices' own CopyFile and DeleteFile in every file that
// includes <windows.h>; the W functions are always called by their full names.
#undef CopyFile
#undef DeleteFile
