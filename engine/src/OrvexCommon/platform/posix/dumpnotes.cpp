// The notes of the core: the described thread's registers and signal, the
// process's identity, the auxiliary vector (which gdb needs to relocate a
// position-independent program) and the files behind the mappings.
#include "OrvexCommon/platform/posix/CoreDump.h"

#include <elf.h>
#include <sys/procfs.h>
#include <sys/syscall.h>
#include <sys/user.h>

namespace Orvex {
namespace sys {
namespace core {

namespace {

static_assert(sizeof(user_regs_struct) == sizeof(elf_gregset_t), "register layout");
static_assert(sizeof(user_fpregs_struct) == 512, "the fxsave area");

constexpr std::size_t Padded(std::size_t size) {
    return (size + 3) & ~static_cast<std::size_t>(3);
}

void CopyBytes(unsigned char* out, const void* in, std::size_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(in);
    for (std::size_t k = 0; k < size; ++k) {
        out[k] = bytes[k];
    }
}

// Notes are built in place: a header, the owner "CORE", the descriptor,
// each padded to 4 bytes. BeginNote returns where the descriptor starts, or
// 0 when even its header does not fit.
std::size_t BeginNote(Workspace& ws, std::uint32_t type) {
    const std::size_t header = sizeof(Elf64_Nhdr) + 8;
    if (ws.notesUsed + header > kNoteCapacity) {
        return 0;
    }
    Elf64_Nhdr nhdr = {};
    nhdr.n_namesz = 5;
    nhdr.n_type = type;
    CopyBytes(ws.notes + ws.notesUsed, &nhdr, sizeof(nhdr));
    CopyBytes(ws.notes + ws.notesUsed + sizeof(nhdr), "CORE\0\0\0", 8);
    ws.notesUsed += header;
    return ws.notesUsed;
}

void EndNote(Workspace& ws, std::size_t descriptor) {
    const std::uint32_t size = static_cast<std::uint32_t>(ws.notesUsed - descriptor);
    CopyBytes(ws.notes + descriptor - 8 - sizeof(Elf64_Nhdr) + 4, &size, sizeof(size));
    while (ws.notesUsed < descriptor + Padded(size)) {
        ws.notes[ws.notesUsed++] = 0;
    }
}

bool Append(Workspace& ws, const void* data, std::size_t size) {
    if (ws.notesUsed + Padded(size) > kNoteCapacity) {
        return false;
    }
    CopyBytes(ws.notes + ws.notesUsed, data, size);
    ws.notesUsed += size;
    return true;
}

void AddNote(Workspace& ws, std::uint32_t type, const void* data, std::size_t size) {
    const std::size_t descriptor = BeginNote(ws, type);
    if (descriptor == 0) {
        return;
    }
    if (!Append(ws, data, size)) {
        ws.notesUsed = descriptor - 8 - sizeof(Elf64_Nhdr); // take the header back
        return;
    }
    EndNote(ws, descriptor);
}

std::uint64_t Word(greg_t value) {
    return static_cast<std::uint64_t>(value);
}

// The context's registers in the kernel's order (user_regs_struct).
user_regs_struct Registers(const DumpRequest& request) {
    const greg_t* g = request.context->uc_mcontext.gregs;
    user_regs_struct regs = {};
    regs.r15 = Word(g[REG_R15]), regs.r14 = Word(g[REG_R14]);
    regs.r13 = Word(g[REG_R13]), regs.r12 = Word(g[REG_R12]);
    regs.rbp = Word(g[REG_RBP]), regs.rbx = Word(g[REG_RBX]);
    regs.r11 = Word(g[REG_R11]), regs.r10 = Word(g[REG_R10]);
    regs.r9 = Word(g[REG_R9]), regs.r8 = Word(g[REG_R8]);
    regs.rax = Word(g[REG_RAX]), regs.rcx = Word(g[REG_RCX]);
    regs.rdx = Word(g[REG_RDX]), regs.rsi = Word(g[REG_RSI]);
    regs.rdi = Word(g[REG_RDI]);
    regs.orig_rax = ~0ull; // not inside a system call
    regs.rip = Word(g[REG_RIP]);
    regs.eflags = Word(g[REG_EFL]);
    regs.rsp = Word(g[REG_RSP]);
    // A signal frame packs cs, gs, fs and ss into one word; getcontext
    // leaves it empty, and then the user-mode selectors are the usual ones.
    const std::uint64_t selectors = Word(g[REG_CSGSFS]);
    regs.cs = (selectors & 0xFFFF) != 0 ? selectors & 0xFFFF : 0x33;
    regs.gs = (selectors >> 16) & 0xFFFF;
    regs.fs = (selectors >> 32) & 0xFFFF;
    regs.ss = (selectors >> 48) != 0 ? selectors >> 48 : 0x2B;
    regs.fs_base = request.fsBase;
    regs.gs_base = request.gsBase;
    return regs;
}

void AddThreadStatus(Workspace& ws, const DumpRequest& request) {
    elf_prstatus status = {};
    if (request.signal != nullptr) {
        status.pr_info.si_signo = request.signal->si_signo;
        status.pr_info.si_code = request.signal->si_code;
        status.pr_info.si_errno = request.signal->si_errno;
        status.pr_cursig = static_cast<short>(request.signal->si_signo);
    }
    CopyBytes(reinterpret_cast<unsigned char*>(&status.pr_sighold), &request.context->uc_sigmask,
              sizeof(status.pr_sighold));
    status.pr_pid = request.tid;
    status.pr_ppid = request.parentPid;
    status.pr_pgrp = request.group;
    status.pr_sid = request.session;
    const user_regs_struct regs = Registers(request);
    CopyBytes(reinterpret_cast<unsigned char*>(status.pr_reg), &regs, sizeof(regs));
    const void* fpregs = request.context->uc_mcontext.fpregs;
    status.pr_fpvalid = fpregs != nullptr ? 1 : 0;
    AddNote(ws, NT_PRSTATUS, &status, sizeof(status));
    // Follows its thread's status: gdb gives it to that thread.
    if (fpregs != nullptr) {
        AddNote(ws, NT_FPREGSET, fpregs, sizeof(user_fpregs_struct));
    }
}

// Reads a small /proc file into ws.io; its length.
std::size_t ReadProcFile(Workspace& ws, const char* path) {
    const long fd = OpenForReading(path);
    if (fd < 0) {
        return 0;
    }
    const std::size_t size = ReadAll(static_cast<int>(fd), ws.io, kIoBuffer);
    Syscall3(SYS_close, fd, 0, 0);
    return size;
}

void AddProcessInfo(Workspace& ws, const DumpRequest& request) {
    elf_prpsinfo info = {};
    info.pr_sname = 'R';
    info.pr_uid = static_cast<unsigned>(Syscall3(SYS_getuid, 0, 0, 0));
    info.pr_gid = static_cast<unsigned>(Syscall3(SYS_getgid, 0, 0, 0));
    info.pr_pid = request.pid;
    info.pr_ppid = request.parentPid;
    info.pr_pgrp = request.group;
    info.pr_sid = request.session;

    std::size_t size = ReadProcFile(ws, "/proc/self/comm");
    for (std::size_t k = 0; k < size && k + 1 < sizeof(info.pr_fname) && ws.io[k] != '\n'; ++k) {
        info.pr_fname[k] = static_cast<char>(ws.io[k]);
    }
    // The command line with its arguments' terminators as spaces.
    size = ReadProcFile(ws, "/proc/self/cmdline");
    std::size_t length = 0;
    for (; length < size && length + 1 < sizeof(info.pr_psargs); ++length) {
        info.pr_psargs[length] = ws.io[length] != 0 ? static_cast<char>(ws.io[length]) : ' ';
    }
    while (length > 0 && info.pr_psargs[length - 1] == ' ') {
        info.pr_psargs[--length] = '\0';
    }
    AddNote(ws, NT_PRPSINFO, &info, sizeof(info));
}

void AddAuxiliaryVector(Workspace& ws) {
    const long fd = OpenForReading("/proc/self/auxv");
    if (fd < 0) {
        return;
    }
    ws.auxvSize = ReadAll(static_cast<int>(fd), ws.auxv, kAuxvCapacity);
    Syscall3(SYS_close, fd, 0, 0);
    if (ws.auxvSize > 0) {
        AddNote(ws, NT_AUXV, ws.auxv, ws.auxvSize);
    }
}

bool Named(const Workspace& ws, const Region& region) {
    return (region.traits & kFileBacked) != 0 && *RegionName(ws, region) != '\0';
}

// NT_FILE: count, page size, {start, end, offset in pages} per mapping, then
// the file names in the same order.
void AddMappedFiles(Workspace& ws) {
    std::uint64_t count = 0;
    for (std::size_t k = 0; k < ws.regionCount; ++k) {
        count += Named(ws, ws.regions[k]) ? 1 : 0;
    }
    const std::size_t descriptor = BeginNote(ws, NT_FILE);
    if (descriptor == 0) {
        return;
    }
    const std::uint64_t page = kPage;
    bool fits = Append(ws, &count, sizeof(count)) && Append(ws, &page, sizeof(page));
    for (std::size_t k = 0; fits && k < ws.regionCount; ++k) {
        const Region& region = ws.regions[k];
        if (Named(ws, region)) {
            const std::uint64_t entry[3] = {region.start, region.end, region.fileOffset / kPage};
            fits = Append(ws, entry, sizeof(entry));
        }
    }
    for (std::size_t k = 0; fits && k < ws.regionCount; ++k) {
        const Region& region = ws.regions[k];
        if (Named(ws, region)) {
            const char* name = RegionName(ws, region);
            std::size_t length = 0;
            while (name[length] != '\0') {
                ++length;
            }
            fits = Append(ws, name, length + 1);
        }
    }
    if (!fits) {
        ws.notesUsed = descriptor - 8 - sizeof(Elf64_Nhdr); // better none than a cut one
        return;
    }
    EndNote(ws, descriptor);
}

} // namespace

void BuildNotes(Workspace& ws, const DumpRequest& request) {
    AddThreadStatus(ws, request);
    AddProcessInfo(ws, request);
    if (request.signal != nullptr) {
        AddNote(ws, NT_SIGINFO, request.signal, sizeof(siginfo_t));
    }
    AddAuxiliaryVector(ws);
    AddMappedFiles(ws);
}

} // namespace core
} // namespace sys
} // namespace Orvex
