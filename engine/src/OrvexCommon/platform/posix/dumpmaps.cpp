// The core writer's view of the process: the mappings listed by
// /proc/self/smaps, and which of them give their bytes to the core.
#include "OrvexCommon/platform/posix/CoreDump.h"

#include <cerrno>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/syscall.h>

namespace Orvex {
namespace sys {
namespace core {

long OpenForReading(const char* path) {
    return Syscall6(SYS_openat, AT_FDCWD, reinterpret_cast<long>(path), O_RDONLY | O_CLOEXEC, 0, 0,
                    0);
}

std::size_t ReadAll(int fd, unsigned char* out, std::size_t capacity) {
    std::size_t used = 0;
    while (used < capacity) {
        const long got = Syscall3(SYS_read, fd, reinterpret_cast<long>(out + used),
                                  static_cast<long>(capacity - used));
        if (got == -EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        used += static_cast<std::size_t>(got);
    }
    return used;
}

namespace {

// ---------------------------------------------------------------------------
// Reading the list line by line through fixed buffers.
// ---------------------------------------------------------------------------

class LineReader {
public:
    LineReader(int fd, Workspace& ws) : m_fd(fd), m_ws(ws), m_pos(0), m_size(0) {}

    // The next line without its line feed, cut to the line buffer; false at
    // the end of the file.
    bool Next() {
        std::size_t length = 0;
        bool any = false;
        for (;;) {
            if (m_pos == m_size && !Refill()) {
                break;
            }
            any = true;
            const char c = static_cast<char>(m_ws.io[m_pos++]);
            if (c == '\n') {
                break;
            }
            if (length + 1 < kLineCapacity) {
                m_ws.line[length++] = c;
            }
        }
        m_ws.line[length] = '\0';
        return any;
    }

private:
    bool Refill() {
        long got;
        do {
            got = Syscall3(SYS_read, m_fd, reinterpret_cast<long>(m_ws.io),
                           static_cast<long>(kIoBuffer));
        } while (got == -EINTR);
        m_pos = 0;
        m_size = got > 0 ? static_cast<std::size_t>(got) : 0;
        return m_size > 0;
    }

    int m_fd;
    Workspace& m_ws;
    std::size_t m_pos;
    std::size_t m_size;
};

// ---------------------------------------------------------------------------
// Parsing
// ---------------------------------------------------------------------------

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

std::uint64_t ParseHex(const char*& p) {
    std::uint64_t value = 0;
    for (int digit; (digit = HexDigit(*p)) >= 0; ++p) {
        value = (value << 4) | static_cast<std::uint64_t>(digit);
    }
    return value;
}

const char* SkipField(const char* p) {
    while (*p != '\0' && *p != ' ') {
        ++p;
    }
    while (*p == ' ') {
        ++p;
    }
    return p;
}

bool StartsWith(const char* text, const char* prefix) {
    while (*prefix != '\0') {
        if (*text++ != *prefix++) {
            return false;
        }
    }
    return true;
}

bool SameText(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a, ++b;
    }
    return *a == *b;
}

std::uint32_t StoreName(Workspace& ws, const char* name) {
    if (*name == '\0') {
        return 0; // the pool starts with the empty name
    }
    std::size_t length = 0;
    while (name[length] != '\0') {
        ++length;
    }
    if (ws.namesUsed == 0) {
        ws.namesUsed = 1;
    }
    if (ws.namesUsed + length + 1 > kNamePool) {
        return 0; // out of room: the mapping stays, unnamed
    }
    const std::uint32_t at = static_cast<std::uint32_t>(ws.namesUsed);
    for (std::size_t k = 0; k <= length; ++k) {
        ws.names[at + k] = name[k];
    }
    ws.namesUsed += length + 1;
    return at;
}

// "start-end perms offset dev inode   name"
bool ParseHeader(Workspace& ws, const char* line, Region& region) {
    const char* p = line;
    region = Region();
    region.start = ParseHex(p);
    if (*p++ != '-') {
        return false;
    }
    region.end = ParseHex(p);
    if (*p++ != ' ' || region.end <= region.start) {
        return false;
    }
    region.flags = static_cast<std::uint8_t>((p[0] == 'r' ? PF_R : 0) | (p[1] == 'w' ? PF_W : 0) |
                                             (p[2] == 'x' ? PF_X : 0));
    region.traits = p[3] == 's' ? kShared : 0;
    p = SkipField(p);
    region.fileOffset = ParseHex(p);
    p = SkipField(SkipField(SkipField(p))); // to the device, the inode, the name
    if (*p == '/') {
        region.traits |= kFileBacked;
    }
    region.name = StoreName(ws, p);
    region.contentStart = region.start;
    return true;
}

// The pieces of `region` outside the workspace's own mapping (which the
// kernel may have merged with a neighbour).
void AddOutsideWorkspace(Workspace& ws, const Region& region) {
    const std::uint64_t own = reinterpret_cast<std::uint64_t>(&ws);
    const std::uint64_t ownEnd = own + ((sizeof(Workspace) + kPage - 1) & ~(kPage - 1));
    Region pieces[2] = {region, region};
    int count = 0;
    if (region.end <= own || region.start >= ownEnd) {
        count = 1;
    } else {
        if (region.start < own) {
            pieces[count].end = own;
            ++count;
        }
        if (region.end > ownEnd) {
            pieces[count].start = pieces[count].contentStart = ownEnd;
            pieces[count].fileOffset += ownEnd - region.start;
            ++count;
        }
    }
    for (int k = 0; k < count && ws.regionCount < kMaxRegions; ++k) {
        ws.regions[ws.regionCount++] = pieces[k];
    }
}

std::uint8_t TraitsOfFlags(const char* flags) {
    std::uint8_t traits = 0;
    for (const char* p = flags; p[0] != '\0' && p[1] != '\0'; p = SkipField(p)) {
        // Excluded from dumps by request (sanitizer shadow memory, for one)
        // or device memory that reading could disturb.
        if ((p[0] == 'd' && p[1] == 'd') || (p[0] == 'i' && p[1] == 'o')) {
            traits |= kNoDump;
        }
    }
    return traits;
}

void ApplyAttribute(Workspace& ws, std::size_t first, const char* line) {
    std::uint8_t traits = 0;
    if (StartsWith(line, "Anonymous:")) {
        const char* p = SkipField(line);
        traits = *p != '0' ? kModified : 0;
    } else if (StartsWith(line, "VmFlags:")) {
        traits = TraitsOfFlags(SkipField(line));
    }
    for (std::size_t k = first; k < ws.regionCount; ++k) {
        ws.regions[k].traits |= traits;
    }
}

// ---------------------------------------------------------------------------
// Choosing the content
// ---------------------------------------------------------------------------

bool Readable(const Region& region) {
    return (region.flags & PF_R) != 0 && (region.traits & kNoDump) == 0;
}

// What gdb needs for a backtrace besides the files: the objects' modified and
// writable pages (where it finds the loader's list of objects), the main
// stack and the vdso (whose unwind tables exist only in memory). The
// described thread's stack and the rest of the loader's list are added apart.
// The objects' .bss is left to full memory: a backtrace does not need it, and
// a sanitizer runtime's runs to tens of megabytes.
bool NeededForBacktrace(const Workspace& ws, const Region& region) {
    if ((region.traits & kFileBacked) != 0) {
        const bool privateWritable = (region.flags & PF_W) != 0 && (region.traits & kShared) == 0;
        return privateWritable || (region.traits & kModified) != 0;
    }
    const char* name = RegionName(ws, region);
    return SameText(name, "[stack]") || SameText(name, "[vdso]");
}

// Full memory adds every mapping whose bytes are not in a file.
bool InFullMemory(const Region& region) {
    if ((region.traits & kFileBacked) == 0) {
        return true;
    }
    return (region.traits & kShared) == 0 &&
           ((region.flags & PF_W) != 0 || (region.traits & kModified) != 0);
}

Region* FindRegion(Workspace& ws, std::uint64_t address, std::uint64_t size) {
    std::size_t low = 0;
    std::size_t high = ws.regionCount;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        Region& region = ws.regions[middle];
        if (address < region.start) {
            high = middle;
        } else if (address >= region.end) {
            low = middle + 1;
        } else {
            const bool fits = size <= region.end - address && Readable(region);
            return fits ? &region : nullptr;
        }
    }
    return nullptr;
}

void IncludeWhole(Region* region) {
    if (region != nullptr && (region->traits & kFileBacked) == 0) {
        region->dump = true;
        region->contentStart = region->start;
    }
}

// The loader's list of objects lives partly in anonymous memory; gdb walks
// it to find the shared objects. Every pointer is checked against the
// mappings before it is followed, as the list may be half-changed.
void IncludeLoaderList(Workspace& ws) {
    const link_map* node = _r_debug.r_map;
    for (unsigned count = 0; node != nullptr && count < 4096; ++count) {
        Region* holder = FindRegion(ws, reinterpret_cast<std::uint64_t>(node), sizeof(link_map));
        if (holder == nullptr) {
            return;
        }
        IncludeWhole(holder);
        if (node->l_name != nullptr) {
            IncludeWhole(FindRegion(ws, reinterpret_cast<std::uint64_t>(node->l_name), 1));
        }
        node = node->l_next;
    }
}

} // namespace

bool ReadRegions(Workspace& ws) {
    const long fd = OpenForReading("/proc/self/smaps");
    if (fd < 0) {
        return false;
    }
    LineReader reader(static_cast<int>(fd), ws);
    std::size_t first = 0;
    while (reader.Next()) {
        Region region;
        if (HexDigit(ws.line[0]) >= 0) {
            first = ws.regionCount;
            if (ParseHeader(ws, ws.line, region)) {
                AddOutsideWorkspace(ws, region);
            }
        } else {
            ApplyAttribute(ws, first, ws.line);
        }
    }
    Syscall3(SYS_close, fd, 0, 0);
    return ws.regionCount > 0;
}

void ChooseContent(Workspace& ws, const DumpRequest& request) {
    for (std::size_t k = 0; k < ws.regionCount; ++k) {
        Region& region = ws.regions[k];
        region.dump = Readable(region) && (NeededForBacktrace(ws, region) ||
                                           (request.fullMemory && InFullMemory(region)));
    }
    IncludeLoaderList(ws);

    // The described thread's stack, wherever it is. Below the stack pointer
    // (and its 128-byte red zone) it holds nothing live, so a normal dump
    // leaves that part out.
    const std::uint64_t sp =
        static_cast<std::uint64_t>(request.context->uc_mcontext.gregs[REG_RSP]);
    Region* stack = FindRegion(ws, sp, 1);
    if (stack != nullptr && !stack->dump) {
        stack->dump = true;
        if (!request.fullMemory) {
            const std::uint64_t live = (sp - 128) & ~static_cast<std::uint64_t>(kPage - 1);
            stack->contentStart = live > stack->start ? live : stack->start;
        }
    }
}

} // namespace core
} // namespace sys
} // namespace Orvex
