// The multibyte decoding loop shared by both backends' AnsiToWide.
#include "OrvexCommon/platform/OrvexSys.h"

#include <cwchar>

namespace Orvex {
namespace sys {

std::size_t DecodeMultibyte(const char* bytes, std::size_t size, wchar_t* out, std::size_t capacity,
                            bool byteWise) {
    std::size_t read = 0;
    std::size_t written = 0;
    std::mbstate_t state{};
    while (read < size && written < capacity && bytes[read] != '\0') {
        wchar_t unit = 0;
        std::size_t used = 1;
        if (!byteWise) {
            used = std::mbrtowc(&unit, bytes + read, size - read, &state);
        }
        // Invalid (-1) or cut short by the end of the text (-2): the byte
        // stands for itself, and decoding starts afresh after it.
        if (byteWise || used == static_cast<std::size_t>(-1) ||
            used == static_cast<std::size_t>(-2) || used == 0) {
            unit = static_cast<wchar_t>(static_cast<unsigned char>(bytes[read]));
            used = 1;
            state = std::mbstate_t{};
        }
        out[written++] = unit;
        read += used;
    }
    return written;
}

} // namespace sys
} // namespace Orvex
