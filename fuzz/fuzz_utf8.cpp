// IsUtf8, Utf8ToUcs and UcsToUtf8 on arbitrary bytes and buffer sizes.
#include "FuzzInput.h"
#include "OrvexCommon/text/OrvexText.h"

#include <cstdlib>
#include <cwchar>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const unsigned wideCount = input.TakeSize() % 4096;
    const unsigned narrowSize = input.TakeSize() % 8192;
    const std::vector<char> text = input.RestAsText();

    const bool valid = Orvex::IsUtf8(text.data());
    std::unique_ptr<wchar_t[]> wide(new wchar_t[wideCount]);
    const unsigned units = Orvex::Utf8ToUcs(text.data(), wide.get(), wideCount);
    if (units == 0 || units > wideCount + 1) {
        std::abort();
    }
    // Valid text that fit decodes whole: a unit for every character.
    if (valid && units <= wideCount) {
        std::unique_ptr<char[]> narrow(new char[narrowSize]);
        const unsigned bytes = Orvex::UcsToUtf8(wide.get(), narrow.get(), narrowSize);
        if (bytes == 0 || bytes > narrowSize + 1) {
            std::abort();
        }
    }

    const std::vector<wchar_t> units16 = input.RestAsWide();
    std::unique_ptr<char[]> narrow(new char[narrowSize]);
    const unsigned bytes = Orvex::UcsToUtf8(units16.data(), narrow.get(), narrowSize);
    if (bytes == 0 || bytes > narrowSize + 1) {
        std::abort();
    }
    // What was written is always valid UTF-8 once terminated.
    if (bytes <= narrowSize && !Orvex::IsUtf8(narrow.get())) {
        std::abort();
    }
    return 0;
}
