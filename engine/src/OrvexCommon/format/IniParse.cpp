// The configuration text parser. It reads the text in place and copies each
// name and value once into the sections.
#include "OrvexCommon/format/detail/IniFile.h"

namespace Orvex {
namespace detail {

namespace {

inline bool IsBlank(wchar_t unit) {
    return unit == L' ' || unit == L'\t';
}

inline bool IsLineEnd(wchar_t unit) {
    return unit == L'\r' || unit == L'\n';
}

inline const wchar_t* SkipBlanks(const wchar_t* cursor) {
    while (IsBlank(*cursor)) {
        ++cursor;
    }
    return cursor;
}

// The first unit at or after `cursor` that is `stop`, a line end or the end.
inline const wchar_t* FindOnLine(const wchar_t* cursor, wchar_t stop) {
    while (*cursor != stop && !IsLineEnd(*cursor) && *cursor != 0) {
        ++cursor;
    }
    return cursor;
}

// [begin, end) without the blanks at its end.
inline std::wstring_view TrimEnd(const wchar_t* begin, const wchar_t* end) {
    while (end > begin && IsBlank(end[-1])) {
        --end;
    }
    return std::wstring_view(begin, static_cast<std::size_t>(end - begin));
}

// A comment runs to its line's carriage return; that and the unit after it
// (the line feed) are skipped too. Without a carriage return it runs to the
// end, and a carriage return that is the text's last unit ends it there.
const wchar_t* SkipComment(const wchar_t* cursor) {
    while (*cursor != L'\r' && *cursor != 0) {
        ++cursor;
    }
    if (*cursor == 0) {
        return cursor;
    }
    return cursor[1] == 0 ? cursor + 1 : cursor + 2;
}

} // namespace

bool ParseIniText(const wchar_t* text, IniSections& sections) {
    IniSectionEntry* current = nullptr;
    const wchar_t* cursor = text;
    while (*cursor != 0) {
        const wchar_t unit = *cursor;
        if (IsBlank(unit) || IsLineEnd(unit)) {
            ++cursor;
        } else if (unit == L'/' || unit == L';') {
            cursor = SkipComment(cursor);
        } else if (unit == L'[') {
            const wchar_t* name = SkipBlanks(cursor + 1);
            const wchar_t* close = FindOnLine(name, L']');
            if (*close != L']') {
                return false;
            }
            current = &sections.FindOrAdd(TrimEnd(name, close));
            // Whatever follows on the line is read as the next token.
            cursor = close + 1;
        } else {
            if (current == nullptr) {
                return false;
            }
            const wchar_t* key = SkipBlanks(cursor);
            const wchar_t* equals = FindOnLine(key, L'=');
            if (*equals != L'=') {
                return false;
            }
            const wchar_t* value = SkipBlanks(equals + 1);
            const wchar_t* lineEnd = FindOnLine(value, 0);
            sections.Store(*current, TrimEnd(key, equals), TrimEnd(value, lineEnd));
            cursor = lineEnd;
        }
    }
    return true;
}

} // namespace detail
} // namespace Orvex
