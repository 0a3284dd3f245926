// The caller-address routine: the return address sits on top of the stack at
// entry, so it is read and returned without a frame of its own. C names carry
// a leading underscore on 32-bit x86 only; the 64-bit routine describes itself
// to the system's unwinder as a leaf without a prologue.
#include "OrvexCommon/platform/OrvexSys.h"

#if defined(__x86_64__)
__asm__(".text\n"
        ".globl OrvexCallerAddress\n"
        ".def OrvexCallerAddress; .scl 2; .type 32; .endef\n"
        ".seh_proc OrvexCallerAddress\n"
        "OrvexCallerAddress:\n"
        "    .seh_endprologue\n"
        "    movq (%rsp), %rax\n"
        "    ret\n"
        ".seh_endproc\n");
#else
__asm__(".text\n"
        ".globl _OrvexCallerAddress\n"
        ".def _OrvexCallerAddress; .scl 2; .type 32; .endef\n"
        "_OrvexCallerAddress:\n"
        "    movl (%esp), %eax\n"
        "    ret\n");
#endif
