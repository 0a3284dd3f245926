// The caller-address routine for x86-64: the return address sits on top of
// the stack at entry, so it is read and returned without a frame of its own.
#include "OrvexCommon/platform/OrvexSys.h"

__asm__(".text\n"
        ".globl OrvexCallerAddress\n"
        ".hidden OrvexCallerAddress\n"
        ".type OrvexCallerAddress, @function\n"
        "OrvexCallerAddress:\n"
        "    .cfi_startproc\n"
        "    movq (%rsp), %rax\n"
        "    ret\n"
        "    .cfi_endproc\n"
        ".size OrvexCallerAddress, .-OrvexCallerAddress\n");
