// What a minidump says about its fault, read from its bytes with every offset
// checked: the exception stream's thread, code and faulting address, and the
// ids of the threads the thread list holds.
#ifndef ORVEX_TESTS_DIAG_MINIDUMPREADER_H
#define ORVEX_TESTS_DIAG_MINIDUMPREADER_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace OrvexTest {

struct MinidumpFault {
    bool hasException = false;
    unsigned threadId = 0;
    unsigned code = 0;
    std::uint64_t faultAddress = 0; // ExceptionInformation[1] of an access violation
    std::vector<unsigned> threads;
};

// Little-endian fields at `offset`; false when they run past the end.
template <typename T> bool ReadField(const std::string& bytes, std::uint64_t offset, T& value) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) {
        return false;
    }
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return true;
}

inline MinidumpFault ReadMinidumpFault(const std::string& dump) {
    constexpr std::uint32_t kThreadList = 3, kException = 6;
    MinidumpFault fault;
    std::uint32_t streams = 0, directory = 0;
    if (dump.compare(0, 4, "MDMP") != 0 || !ReadField(dump, 8, streams) ||
        !ReadField(dump, 12, directory)) {
        return fault;
    }
    for (std::uint32_t index = 0; index < streams; ++index) {
        std::uint32_t type = 0, size = 0, at = 0;
        const std::uint64_t entry = directory + 12ull * index;
        if (!ReadField(dump, entry, type) || !ReadField(dump, entry + 4, size) ||
            !ReadField(dump, entry + 8, at)) {
            break;
        }
        if (type == kException) {
            std::uint32_t parameters = 0;
            fault.hasException = ReadField(dump, at, fault.threadId) &&
                                 ReadField(dump, at + 8, fault.code) &&
                                 ReadField(dump, at + 32, parameters);
            if (parameters >= 2) {
                ReadField(dump, at + 40 + 8, fault.faultAddress);
            }
        } else if (type == kThreadList) {
            std::uint32_t count = 0;
            ReadField(dump, at, count);
            for (std::uint32_t thread = 0; thread < count; ++thread) {
                std::uint32_t id = 0;
                if (!ReadField(dump, at + 4 + 48ull * thread, id)) {
                    break;
                }
                fault.threads.push_back(id);
            }
        }
    }
    return fault;
}

} // namespace OrvexTest

#endif // ORVEX_TESTS_DIAG_MINIDUMPREADER_H
