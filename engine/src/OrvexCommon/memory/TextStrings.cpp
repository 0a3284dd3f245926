// String-returning forms of the UTF-8 converters.
#include "OrvexCommon/memory/detail/TextStrings.h"
#include "OrvexCommon/text/OrvexText.h"

#include <cstring>
#include <cwchar>

namespace Orvex {

OrvexWString Utf8ToWideString(const char* text) {
    return text == nullptr ? OrvexWString() : Utf8ToWideString(text, std::strlen(text));
}

OrvexWString Utf8ToWideString(const char* text, std::size_t length) {
    if (text == nullptr) {
        return OrvexWString();
    }
    // One unit per byte plus the terminator always suffices.
    OrvexWString wide(length + 1, L'\0');
    Utf8ToUcs(text, &wide[0], static_cast<unsigned>(wide.size()));
    wide.resize(std::wcslen(wide.c_str()));
    return wide;
}

OrvexString WideToUtf8String(const wchar_t* text) {
    if (text == nullptr) {
        return OrvexString();
    }
    OrvexString narrow(std::wcslen(text) * kMaxUtf8BytesPerUnit + 1, '\0');
    UcsToUtf8(text, &narrow[0], static_cast<unsigned>(narrow.size()));
    narrow.resize(std::strlen(narrow.c_str()));
    return narrow;
}

} // namespace Orvex
