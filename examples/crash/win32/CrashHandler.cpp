// The crash example's fault handler on Windows.
#include "../CrashHandler.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>

namespace {

CrashCallback g_callback = nullptr;

LONG WINAPI OnFault(EXCEPTION_POINTERS* exception) {
    g_callback(exception);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

void InstallCrashHandler(CrashCallback callback) {
    g_callback = callback;
    SetUnhandledExceptionFilter(OnFault);
}

void WriteAndExit(const char* text, int code) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written,
              nullptr);
    ExitProcess(static_cast<UINT>(code));
}
