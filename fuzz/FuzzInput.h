// Splits a fuzzer's input into sizes it chose and the bytes that follow, and
// hands out exactly-sized heap copies so that ASan sees every overrun
// (output buffers are likewise allocated at exactly the size under test).
#ifndef ORVEX_FUZZ_FUZZINPUT_H
#define ORVEX_FUZZ_FUZZINPUT_H

#include <cstddef>
#include <cstdint>
#include <vector>

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    // A size from the next two input bytes (0 when the input is exhausted).
    unsigned TakeSize() {
        unsigned value = 0;
        for (int k = 0; k < 2 && m_size > 0; ++k, ++m_data, --m_size) {
            value = value << 8 | *m_data;
        }
        return value;
    }

    // The remaining bytes as a zero-terminated narrow text in a buffer of
    // exactly its length plus one.
    std::vector<char> RestAsText() const {
        std::vector<char> text(m_data, m_data + m_size);
        text.push_back('\0');
        return text;
    }

    // The remaining bytes as zero-terminated wide text, two bytes per unit
    // (and, with 32-bit units, a third byte for the upper bits now and then).
    std::vector<wchar_t> RestAsWide() const {
        std::vector<wchar_t> text;
        for (std::size_t k = 0; k + 1 < m_size; k += 2) {
            unsigned unit = m_data[k] | m_data[k + 1] << 8;
            if (sizeof(wchar_t) > 2 && (unit & 0x8000) && k + 2 < m_size) {
                unit |= static_cast<unsigned>(m_data[k + 2] & 0x1F) << 16;
            }
            text.push_back(static_cast<wchar_t>(unit));
        }
        text.push_back(0);
        return text;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

#endif // ORVEX_FUZZ_FUZZINPUT_H
