// The forked child's work: open the file, describe the process and write the
// core: ELF header, program headers (one note segment, then one load segment
// per mapping in address order), the notes, and the chosen memory.
#include "OrvexCommon/platform/posix/CoreDump.h"

#include <cerrno>
#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>

namespace Orvex {
namespace sys {
namespace core {

namespace {

// A fault in the writer must end this copy, not re-enter the host's crash
// handler (which it inherited) and fork again.
void ResetFaultSignals() {
    const int signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP};
    const unsigned long defaultAction[4] = {}; // the kernel's sigaction: SIG_DFL
    for (int signal : signals) {
        Syscall6(SYS_rt_sigaction, signal, reinterpret_cast<long>(defaultAction), 0, 8, 0, 0);
    }
}

Workspace* MapWorkspace() {
    const long address =
        Syscall6(SYS_mmap, 0, static_cast<long>(sizeof(Workspace)), PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (address < 0 && address > -4096) {
        return nullptr;
    }
    return reinterpret_cast<Workspace*>(address);
}

// The wide name as UTF-8 in ws.path (units without a UTF-8 form become
// U+FFFD); false when it does not fit.
bool NameToUtf8(Workspace& ws, const wchar_t* name) {
    std::size_t used = 0;
    for (; *name != L'\0'; ++name) {
        std::uint32_t unit = static_cast<std::uint32_t>(*name);
        if (unit > 0x10FFFF) {
            unit = 0xFFFD;
        }
        unsigned char bytes[4];
        std::size_t length;
        if (unit < 0x80) {
            bytes[0] = static_cast<unsigned char>(unit), length = 1;
        } else if (unit < 0x800) {
            bytes[0] = static_cast<unsigned char>(0xC0 | (unit >> 6)), length = 2;
        } else if (unit < 0x10000) {
            bytes[0] = static_cast<unsigned char>(0xE0 | (unit >> 12)), length = 3;
        } else {
            bytes[0] = static_cast<unsigned char>(0xF0 | (unit >> 18)), length = 4;
        }
        for (std::size_t k = 1; k < length; ++k) {
            bytes[k] = static_cast<unsigned char>(0x80 | ((unit >> (6 * (length - 1 - k))) & 0x3F));
        }
        if (used + length + 1 > kPathCapacity) {
            return false;
        }
        for (std::size_t k = 0; k < length; ++k) {
            ws.path[used++] = static_cast<char>(bytes[k]);
        }
    }
    ws.path[used] = '\0';
    return true;
}

// An existing file is reused as it is, not truncated.
long OpenDumpFile(Workspace& ws, const wchar_t* name) {
    if (!NameToUtf8(ws, name)) {
        return -ENAMETOOLONG;
    }
    return Syscall6(SYS_openat, AT_FDCWD, reinterpret_cast<long>(ws.path),
                    O_WRONLY | O_CREAT | O_CLOEXEC, 0644, 0, 0);
}

// ---------------------------------------------------------------------------
// Buffered output through ws.io; memory goes straight from its addresses.
// ---------------------------------------------------------------------------

class Output {
public:
    Output(Workspace& ws, int fd) : m_ws(ws), m_fd(fd), m_failed(false) { m_ws.ioUsed = 0; }

    bool Failed() const { return m_failed; }

    void Put(const void* data, std::size_t size) {
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        while (size > 0 && !m_failed) {
            if (m_ws.ioUsed == kIoBuffer) {
                Flush();
            }
            std::size_t room = kIoBuffer - m_ws.ioUsed;
            const std::size_t step = size < room ? size : room;
            for (std::size_t k = 0; k < step; ++k) {
                m_ws.io[m_ws.ioUsed + k] = bytes[k];
            }
            m_ws.ioUsed += step, bytes += step, size -= step;
        }
    }

    void PutZeros(std::size_t size) {
        while (size > 0) {
            const std::size_t step = size < kPage ? size : kPage;
            Put(m_ws.zeros, step);
            size -= step;
        }
    }

    void Flush() {
        if (!m_failed) {
            m_failed = !WriteRaw(m_ws.io, m_ws.ioUsed);
        }
        m_ws.ioUsed = 0;
    }

    // The bytes of [start, end) of this process; a page that cannot be read
    // is written as zeros, so every later offset stays right.
    void PutMemory(std::uint64_t start, std::uint64_t end) {
        Flush();
        while (start < end && !m_failed) {
            const std::uint64_t chunk = end - start < (1u << 30) ? end - start : (1u << 30);
            const long wrote =
                Syscall3(SYS_write, m_fd, static_cast<long>(start), static_cast<long>(chunk));
            if (wrote > 0) {
                start += static_cast<std::uint64_t>(wrote);
            } else if (wrote == -EFAULT) {
                const std::uint64_t next = (start | (kPage - 1)) + 1;
                const std::uint64_t gap = (next < end ? next : end) - start;
                m_failed = !WriteRaw(m_ws.zeros, static_cast<std::size_t>(gap));
                start += gap;
            } else if (wrote != -EINTR) {
                m_failed = true;
            }
        }
    }

private:
    bool WriteRaw(const unsigned char* data, std::size_t size) {
        while (size > 0) {
            const long wrote =
                Syscall3(SYS_write, m_fd, reinterpret_cast<long>(data), static_cast<long>(size));
            if (wrote == -EINTR) {
                continue;
            }
            if (wrote <= 0) {
                return false;
            }
            data += wrote, size -= static_cast<std::size_t>(wrote);
        }
        return true;
    }

    Workspace& m_ws;
    int m_fd;
    bool m_failed;
};

// ---------------------------------------------------------------------------
// Layout
// ---------------------------------------------------------------------------

// A region whose content starts above its start is described by two load
// segments: the part left out, then the part written.
bool IsSplit(const Region& region) {
    return region.dump && region.contentStart > region.start;
}

std::size_t CountSegments(const Workspace& ws) {
    std::size_t count = 1; // the notes
    for (std::size_t k = 0; k < ws.regionCount; ++k) {
        count += IsSplit(ws.regions[k]) ? 2 : 1;
    }
    return count;
}

void PutElfHeader(Output& out, std::size_t segments) {
    Elf64_Ehdr header = {};
    header.e_ident[EI_MAG0] = ELFMAG0;
    header.e_ident[EI_MAG1] = ELFMAG1;
    header.e_ident[EI_MAG2] = ELFMAG2;
    header.e_ident[EI_MAG3] = ELFMAG3;
    header.e_ident[EI_CLASS] = ELFCLASS64;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_ident[EI_OSABI] = ELFOSABI_NONE;
    header.e_type = ET_CORE;
    header.e_machine = EM_X86_64;
    header.e_version = EV_CURRENT;
    header.e_phoff = sizeof(Elf64_Ehdr);
    header.e_ehsize = sizeof(Elf64_Ehdr);
    header.e_phentsize = sizeof(Elf64_Phdr);
    header.e_phnum = static_cast<Elf64_Half>(segments);
    out.Put(&header, sizeof(header));
}

void PutLoad(Output& out, const Region& region, std::uint64_t start, std::uint64_t end,
             bool withContent, std::uint64_t offset) {
    Elf64_Phdr load = {};
    load.p_type = PT_LOAD;
    load.p_flags = region.flags;
    load.p_offset = offset;
    load.p_vaddr = start;
    load.p_filesz = withContent ? end - start : 0;
    load.p_memsz = end - start;
    load.p_align = kPage;
    out.Put(&load, sizeof(load));
}

// Program headers; returns where the memory starts in the file.
std::uint64_t PutProgramHeaders(Output& out, const Workspace& ws, std::size_t segments) {
    const std::uint64_t notesAt = sizeof(Elf64_Ehdr) + segments * sizeof(Elf64_Phdr);
    const std::uint64_t memoryAt = (notesAt + ws.notesUsed + kPage - 1) & ~(kPage - 1);
    Elf64_Phdr note = {};
    note.p_type = PT_NOTE;
    note.p_offset = notesAt;
    note.p_filesz = ws.notesUsed;
    note.p_align = 4;
    out.Put(&note, sizeof(note));

    std::uint64_t offset = memoryAt;
    for (std::size_t k = 0; k < ws.regionCount; ++k) {
        const Region& region = ws.regions[k];
        if (IsSplit(region)) {
            PutLoad(out, region, region.start, region.contentStart, false, offset);
        }
        PutLoad(out, region, region.contentStart, region.end, region.dump, offset);
        offset += region.dump ? region.end - region.contentStart : 0;
    }
    return memoryAt;
}

bool WriteFile(Workspace& ws, int fd) {
    Output out(ws, fd);
    const std::size_t segments = CountSegments(ws);
    PutElfHeader(out, segments);
    const std::uint64_t memoryAt = PutProgramHeaders(out, ws, segments);
    out.Put(ws.notes, ws.notesUsed);
    const std::uint64_t written = sizeof(Elf64_Ehdr) + segments * sizeof(Elf64_Phdr) + ws.notesUsed;
    out.PutZeros(static_cast<std::size_t>(memoryAt - written));
    for (std::size_t k = 0; k < ws.regionCount; ++k) {
        const Region& region = ws.regions[k];
        if (region.dump) {
            out.PutMemory(region.contentStart, region.end);
        }
    }
    out.Flush();
    return !out.Failed();
}

} // namespace

int WriteCore(const DumpRequest& request) {
    ResetFaultSignals();
    Workspace* ws = MapWorkspace();
    if (ws == nullptr) {
        return 2;
    }
    const long fd = OpenDumpFile(*ws, request.fileName);
    if (fd < 0) {
        return 3;
    }
    // Without the list of mappings the core still carries the registers.
    ReadRegions(*ws);
    ChooseContent(*ws, request);
    BuildNotes(*ws, request);
    const bool written = WriteFile(*ws, static_cast<int>(fd));
    Syscall3(SYS_close, fd, 0, 0);
    return written ? 0 : 4;
}

} // namespace core
} // namespace sys
} // namespace Orvex
