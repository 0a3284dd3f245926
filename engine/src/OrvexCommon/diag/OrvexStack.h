// Stack capture, symbol names and crash dumps, for error and crash reports.
//
// Frames are numbered from the routine that walks the stack: frame 0 is that
// routine, frame 1 the exported function that asked for the walk (GetStack),
// frame 2 the function that called it, and so on outwards. The address kept
// for a frame is where that frame resumes: for frame 1 and beyond, the return
// address into it.
//
// GetStack is frame 1 of every walk and calls sys::CaptureStack (frame 0);
// both are kept out of line and the call is never a tail call, so the frame
// numbering holds under link-time optimisation. Windows walks with
// StackWalk64: on 32-bit x86 from the walker's own registers along the frame
// pointers (that target keeps them, -fno-omit-frame-pointer); on x86-64
// (IMAGE_FILE_MACHINE_AMD64) from a context captured by RtlCaptureContext,
// each step unwinding through the module's table of function entries, which
// the walk gets from RtlLookupFunctionEntry rather than from dbghelp (which
// knows only the modules it has loaded). Linux steps each frame by a rule
// kept per return address (where the caller's frame starts, the return
// address and the saved frame pointer), read once from the call frame
// information the C++ runtime's unwinder uses, and hands the walk to that
// unwinder (_Unwind_Backtrace) at any frame without such a rule, a signal
// frame for one; the frames are the same either way
// (platform/posix/FrameRule.h). How functions are named:
// detail/SymbolState.h.
#ifndef ORVEX_DIAG_ORVEXSTACK_H
#define ORVEX_DIAG_ORVEXSTACK_H

#include "OrvexCommon/base/OrvexExport.h"
#include "OrvexCommon/platform/OrvexCrashContext.h"

#include <cstdio>
#include <iosfwd>

namespace Orvex {

// Stores the resume addresses of frames skip + 1 to depth inclusive (both
// taken in 16-bit arithmetic) into `addresses`, which needs room for
// depth - skip entries; with skip 1 the first is the return address into the
// caller of GetStack. Returns the number stored: 0 when depth is not greater
// than skip or the stack ends before frame skip + 1, fewer than depth - skip
// when it ends earlier.
ORVEX_API unsigned GetStack(void** addresses, unsigned short skip, unsigned short depth);

// Writes the name of the function containing `address` into `text`: at most
// `size` bytes, always zero-terminated inside them when `size` is not 0, the
// rest of the buffer padded with zeros. C++ names are demangled and shown
// without their parameter lists ("Orvex::GetStack"). When no loaded module
// has a symbol for the address, `text` is left as it was. Throws a char*
// message (after logging it) when the loaded modules cannot be listed.
ORVEX_API void DebugAddress2Symbol(void* address, char* text, unsigned size);

// Prints up to `count` (at most 1024) frames of the caller's stack, starting
// with the return address into the caller of PrintStack, as the form below
// does; the list ends where the walk ended, never printing what the walk did
// not write. Returns `count`.
ORVEX_API unsigned PrintStack(unsigned short count, int line, std::ostream& stream);

// Prints one line per address until `count` addresses or a null one: the
// first "name()[HHHHHHHH]:line", the others "name()[HHHHHHHH]", HHHHHHHH the
// address in upper-case hexadecimal (at least eight digits), each line ended
// with std::endl. An address without symbol prints an empty name. The stream
// is left in decimal with its show-base flag clear. Returns `count`.
ORVEX_API unsigned PrintStack(void** addresses, unsigned count, int line, std::ostream& stream);

// The same to a C stream, "name()[0xhhhhhhhh]\n" per address, then "\n\n\n".
// Returns `count`.
ORVEX_API unsigned PrintStack2File(void** addresses, unsigned count, std::FILE* file);

// Writes a dump of the process at the fault described by `exception` (null: at
// this call) to `fileName`, reusing an existing file without truncating it.
// Windows: a minidump (MiniDumpWriteDump; `fullMemory` selects
// MiniDumpWithFullMemory). Linux: an ELF core file that gdb opens with the
// program ("gdb program file"); it holds the faulting thread's registers, the
// stacks and the loaded objects' data, and with `fullMemory` every writable
// mapping, written by a forked child (see docs/CRASH_DUMPS.md). Safe to call
// from a signal handler. A dump that cannot be written leaves at most an
// empty or partial file; nothing is reported. The example examples/crash/
// installs a handler (its one OS-specific file per backend) and crashes on
// purpose.
ORVEX_API void DebugGenMiniDump(EXCEPTION_POINTERS* exception, const wchar_t* fileName,
                                bool fullMemory);

// A routine that returns the address it is called from: the instruction after
// the call in its caller.
typedef void* (*EipFun)();

// The caller-address routine, a two-instruction assembly routine per target
// (platform/*/caller.cpp); the same pointer on every call.
ORVEX_API EipFun GetEipFun();

} // namespace Orvex

#endif // ORVEX_DIAG_ORVEXSTACK_H
