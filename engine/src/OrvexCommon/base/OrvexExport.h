// The one export macro of the library.
//
// Building the library: ORVEX_BUILDING_LIBRARY is defined and every name marked
// ORVEX_API leaves the binary (dllexport on Windows, default visibility on ELF;
// everything else is hidden). A host using the DLL gets dllimport; code that
// links the library's objects directly (white-box tests) defines ORVEX_STATIC.
#ifndef ORVEX_BASE_ORVEXEXPORT_H
#define ORVEX_BASE_ORVEXEXPORT_H

#if defined(_WIN32)
#if defined(ORVEX_BUILDING_LIBRARY)
#define ORVEX_API __declspec(dllexport)
#elif defined(ORVEX_STATIC)
#define ORVEX_API
#else
#define ORVEX_API __declspec(dllimport)
#endif
#else
#define ORVEX_API __attribute__((visibility("default")))
#endif

// The calling convention of thread procedures: the one the Windows runtime's
// thread start expects, the default elsewhere.
#if defined(_WIN32)
#define ORVEX_THREAD_CALL __stdcall
#else
#define ORVEX_THREAD_CALL
#endif

#endif // ORVEX_BASE_ORVEXEXPORT_H
