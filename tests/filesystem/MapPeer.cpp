// A second process for the shared-view tests:
//   map_peer <file> <read offset> <expected byte> <write offset> <byte to write>
// maps the whole file writable, checks the byte another process wrote through
// its own view, writes one of its own and unmaps. Exit code: 0 done, 1 bad
// arguments, 2 no view, 3 the expected byte was not there (the marker is
// written all the same).
#include "OrvexCommon/filesystem/OrvexFilesystem.h"
#include "OrvexCommon/memory/detail/TextStrings.h"

#include <cstdlib>

namespace {

bool ParseUnsigned(const char* text, unsigned long& value) {
    char* end = nullptr;
    value = std::strtoul(text, &end, 10);
    return end != text && *end == '\0';
}

} // namespace

int main(int argc, char** argv) {
    unsigned long readOffset = 0, expected = 0, writeOffset = 0, marker = 0;
    if (argc != 6 || !ParseUnsigned(argv[2], readOffset) || !ParseUnsigned(argv[3], expected) ||
        !ParseUnsigned(argv[4], writeOffset) || !ParseUnsigned(argv[5], marker)) {
        return 1;
    }
    const Orvex::OrvexWString file = Orvex::Utf8ToWideString(argv[1]);
    unsigned size = 0;
    void* view = Orvex::OrvexMemoryMap(file.c_str(), size, false);
    if (view == nullptr || readOffset >= size || writeOffset >= size) {
        Orvex::OrvexMemoryUnMap(view);
        return 2;
    }
    unsigned char* bytes = static_cast<unsigned char*>(view);
    const bool seen = bytes[readOffset] == expected;
    bytes[writeOffset] = static_cast<unsigned char>(marker);
    Orvex::OrvexMemoryUnMap(view);
    return seen ? 0 : 3;
}
