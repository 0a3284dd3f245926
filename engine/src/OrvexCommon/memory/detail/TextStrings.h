// String-returning forms of the UTF-8 converters, for the library's own use.
#ifndef ORVEX_MEMORY_DETAIL_TEXTSTRINGS_H
#define ORVEX_MEMORY_DETAIL_TEXTSTRINGS_H

#include "OrvexCommon/memory/OrvexMemory.h"

#include <cstddef>

namespace Orvex {

// Most UTF-8 bytes one wide unit can need: 3 for 16-bit units, 4 where a unit
// may hold a code point above 0xFFFF.
constexpr unsigned kMaxUtf8BytesPerUnit = sizeof(wchar_t) > 2 ? 4 : 3;

// UTF-8 text to wide text: the units before the first 0 unit that Utf8ToUcs
// produces (it stops early at an invalid sequence). Null gives "".
OrvexWString Utf8ToWideString(const char* text);

// The same for text whose length is known; text[length] must be readable and
// 0, or the text must hold a 0 byte before it.
OrvexWString Utf8ToWideString(const char* text, std::size_t length);

// Wide text to UTF-8: the bytes before the first 0 byte. Null gives "".
OrvexString WideToUtf8String(const wchar_t* text);

} // namespace Orvex

#endif // ORVEX_MEMORY_DETAIL_TEXTSTRINGS_H
