// windows.h for the Win32 backend, with the API level the backend needs
// (GetTickCount64 is Vista and later) and without the min/max macros.
#ifndef ORVEX_PLATFORM_WIN32_WINDOWSHEADERS_H
#define ORVEX_PLATFORM_WIN32_WINDOWSHEADERS_H

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#endif // ORVEX_PLATFORM_WIN32_WINDOWSHEADERS_H
