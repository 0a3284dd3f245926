// The ELF core writer behind sys::WriteProcessDump on Linux x86-64.
//
// The faulting process only gathers what it knows (registers, signal, ids)
// and forks; the child writes the core from its frozen copy of the parent's
// memory. Everything here runs after a fault, so it never allocates, locks or
// touches stdio: system calls are made directly (no errno, no sanitizer
// interceptors, no atfork handlers), and the child's working memory is one
// anonymous mapping of its own.
//
//   dump.cpp         the parent: registers, the fork, the wait
//   dumpmaps.cpp     the child reads /proc/self/smaps and picks the content
//   dumpnotes.cpp    the notes: registers, process, signal, auxv, files
//   dumpfile.cpp     the child's main: ELF header, program headers, memory
#ifndef ORVEX_PLATFORM_POSIX_COREDUMP_H
#define ORVEX_PLATFORM_POSIX_COREDUMP_H

#if !defined(__x86_64__)
#error "The core writer describes the x86-64 register set."
#endif

#include <cstddef>
#include <cstdint>
#include <signal.h>
#include <sys/types.h>
#include <ucontext.h>

namespace Orvex {
namespace sys {
namespace core {

// ---------------------------------------------------------------------------
// Raw system calls: the result, or -errno.
// ---------------------------------------------------------------------------

inline long Syscall6(long number, long a, long b, long c, long d, long e, long f) {
    long result;
    register long r10 asm("r10") = d;
    register long r8 asm("r8") = e;
    register long r9 asm("r9") = f;
    asm volatile("syscall"
                 : "=a"(result)
                 : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10), "r"(r8), "r"(r9)
                 : "rcx", "r11", "memory");
    return result;
}

inline long Syscall3(long number, long a, long b, long c) {
    return Syscall6(number, a, b, c, 0, 0, 0);
}

// Opens a file of /proc for reading; a descriptor or -errno.
long OpenForReading(const char* path);

// Reads until `capacity` bytes or the end of the file; the count read.
std::size_t ReadAll(int fd, unsigned char* out, std::size_t capacity);

// ---------------------------------------------------------------------------
// What the parent hands to the child.
// ---------------------------------------------------------------------------

struct DumpRequest {
    const ucontext_t* context; // registers of the thread the core describes
    const siginfo_t* signal;   // the fault; null for a dump without one
    const wchar_t* fileName;
    bool fullMemory;
    pid_t pid;
    pid_t tid; // the described thread
    pid_t parentPid;
    pid_t group;
    pid_t session;
    std::uint64_t fsBase; // the thread's TLS bases, which the context lacks
    std::uint64_t gsBase;
};

// The child's whole job; returns the exit code it ends with.
int WriteCore(const DumpRequest& request);

// ---------------------------------------------------------------------------
// The process's mappings, as the child reads them.
// ---------------------------------------------------------------------------

enum RegionTrait : std::uint8_t {
    kFileBacked = 1, // named by a path: its unmodified bytes are in the file
    kShared = 2,
    kModified = 4, // private pages written since mapped (relocated data)
    kNoDump = 8,   // marked not to be dumped, or device memory
};

struct Region {
    std::uint64_t start;
    std::uint64_t end;
    std::uint64_t fileOffset;
    std::uint64_t contentStart; // the bytes written are [contentStart, end)
    std::uint32_t name;         // offset in the name pool; 0 is the empty name
    std::uint8_t flags;         // PF_R, PF_W, PF_X
    std::uint8_t traits;        // RegionTrait bits
    bool dump;
};

constexpr std::size_t kMaxRegions = 65000; // program headers stay below 65535
constexpr std::size_t kNamePool = 4u << 20;
constexpr std::size_t kNoteCapacity = 8u << 20;
constexpr std::size_t kIoBuffer = 64u << 10;
constexpr std::size_t kAuxvCapacity = 4096;
constexpr std::size_t kPathCapacity = 4096;
constexpr std::size_t kLineCapacity = 8192;
constexpr std::size_t kPage = 4096;

// The child's working memory: one anonymous mapping, zero-filled and touched
// only as far as it is used.
struct Workspace {
    Region regions[kMaxRegions];
    std::size_t regionCount;
    char names[kNamePool];
    std::size_t namesUsed;
    unsigned char notes[kNoteCapacity];
    std::size_t notesUsed;
    unsigned char auxv[kAuxvCapacity];
    std::size_t auxvSize;
    unsigned char io[kIoBuffer];
    std::size_t ioUsed;
    char path[kPathCapacity];
    char line[kLineCapacity];
    unsigned char zeros[kPage];
};

// Fills ws.regions from /proc/self/smaps, leaving out the workspace itself.
// False when the list cannot be read.
bool ReadRegions(Workspace& ws);

// Decides which regions' bytes go into the core (Region::dump and
// Region::contentStart).
void ChooseContent(Workspace& ws, const DumpRequest& request);

// Appends every note to ws.notes.
void BuildNotes(Workspace& ws, const DumpRequest& request);

inline const char* RegionName(const Workspace& ws, const Region& region) {
    return ws.names + region.name;
}

} // namespace core
} // namespace sys
} // namespace Orvex

#endif // ORVEX_PLATFORM_POSIX_COREDUMP_H
