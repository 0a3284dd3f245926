// The caller-address routine for 32-bit x86: the return address sits on top
// of the stack at entry, so it is read and returned without a frame of its
// own. C names carry a leading underscore on this target.
#include "OrvexCommon/platform/OrvexSys.h"

__asm__(".text\n"
        ".globl _OrvexCallerAddress\n"
        ".def _OrvexCallerAddress; .scl 2; .type 32; .endef\n"
        "_OrvexCallerAddress:\n"
        "    movl (%esp), %eax\n"
        "    ret\n");
