// Uint82Base16 on arbitrary bytes and output sizes.
#include "FuzzInput.h"
#include "OrvexCommon/text/OrvexText.h"

#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const unsigned outputSize = input.TakeSize() % 8192;
    const std::vector<char> bytes = input.RestAsText();
    std::unique_ptr<char[]> hex(new char[outputSize]);
    const unsigned written = Orvex::Uint82Base16(
        reinterpret_cast<const unsigned char*>(bytes.data()), hex.get(), outputSize);
    const unsigned digits = written - 1;
    if (written == 0 || digits > outputSize || digits % 2 != 0 ||
        digits > 2 * std::strlen(bytes.data())) {
        std::abort();
    }
    return 0;
}
