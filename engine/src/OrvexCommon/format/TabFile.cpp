// The table file object: loading, decoding and lookups.
#include "OrvexCommon/format/detail/TabFile.h"
#include "OrvexCommon/base/detail/ErrorLine.h"
#include "OrvexCommon/text/OrvexText.h"

#include <new>

namespace Orvex {
namespace detail {

namespace {

// Zero bytes after a file's content: a UTF-16 text then always ends in a
// whole zero unit, and the marks can be tested without a size check.
constexpr std::uint32_t kTabPadding = 6;

// Logged, then thrown as a char* that points at this same text.
char g_ascRefusal[] = "can not use asc file here!!";

// What every lookup outside the table returns.
const wchar_t kEmptyCell[] = L"";

template <typename Value, typename Convert>
Value CellValue(const wchar_t* cell, Value defaultValue, Convert convert) {
    return cell[0] == 0 ? defaultValue : static_cast<Value>(convert(cell));
}

int ToInt(const wchar_t* cell) {
    return OrvexA2I(cell);
}
std::int64_t ToInt64(const wchar_t* cell) {
    return OrvexA2I64(cell);
}
float ToFloat(const wchar_t* cell) {
    return static_cast<float>(OrvexA2F(cell));
}

} // namespace

void CTabFile::Release() {
    DeletePooledObject(this);
}

void CTabFile::Clear() {
    m_text.clear();
    m_rowStarts.clear();
    m_cells.clear();
    m_columns.clear();
}

void CTabFile::SetText(const wchar_t* src, unsigned count) {
    if (src == nullptr) {
        count = 0;
    }
    m_text.assign(src, src + count);
    EndText();
}

bool CTabFile::Load(const wchar_t* fileName) {
    FileBytes file;
    if (!file.ReadWholeFile(fileName, kTabPadding)) {
        return false;
    }
    try {
        LoadBytes(file.bytes(), file.size());
    } catch (const std::bad_alloc&) {
        // Too large to hold: left empty.
        Clear();
        return false;
    }
    return true;
}

void CTabFile::LoadBytes(const unsigned char* bytes, std::uint32_t size) {
    Clear();
    Decode(bytes, size);
    Parse();
}

void CTabFile::Decode(const unsigned char* bytes, std::uint32_t size) {
    switch (FindTextMark(bytes, size)) {
    case ETextMark::Utf8:
        DecodeUtf8(bytes + kUtf8MarkBytes, size + 1, m_text);
        break;
    case ETextMark::Utf16:
        // The whole units after the mark, with no zero unit after them.
        AppendUtf16(bytes + kUtf16MarkBytes, size / 2 - 1, m_text);
        break;
    case ETextMark::None:
        if (!IsUtf8(reinterpret_cast<const char*>(bytes))) {
            ThrowErrorLine(g_ascRefusal);
        }
        DecodeUtf8(bytes, size + 1, m_text);
        break;
    }
    EndText();
}

std::size_t CTabFile::RowWidth(std::size_t row) const {
    const std::size_t end = row + 1 < m_rowStarts.size() ? m_rowStarts[row + 1] : m_cells.size();
    return end - m_rowStarts[row];
}

unsigned CTabFile::GetWidth() {
    return m_rowStarts.empty() ? 0 : static_cast<unsigned>(RowWidth(0));
}

const wchar_t* CTabFile::GetString(unsigned row, unsigned column) {
    if (row >= m_rowStarts.size() || column >= RowWidth(row)) {
        return kEmptyCell;
    }
    const std::uint32_t offset = m_cells[m_rowStarts[row] + column];
    return offset < TextLength() ? m_text.data() + offset : kEmptyCell;
}

const wchar_t* CTabFile::GetString(unsigned row, const wchar_t* column) {
    const int number = GetColumn(column);
    return number < 0 ? kEmptyCell : GetString(row, static_cast<unsigned>(number));
}

int CTabFile::GetColumn(const wchar_t* column) {
    if (column == nullptr) {
        return -1;
    }
    const auto found = m_columns.find(std::wstring_view(column));
    return found == m_columns.end() ? -1 : found->second;
}

int CTabFile::GetInt(unsigned row, const wchar_t* column, int defaultValue) {
    return CellValue(GetString(row, column), defaultValue, ToInt);
}
int CTabFile::GetInt(unsigned row, unsigned column, int defaultValue) {
    return CellValue(GetString(row, column), defaultValue, ToInt);
}
std::int64_t CTabFile::GetInt64(unsigned row, const wchar_t* column, std::int64_t defaultValue) {
    return CellValue(GetString(row, column), defaultValue, ToInt64);
}
std::int64_t CTabFile::GetInt64(unsigned row, unsigned column, std::int64_t defaultValue) {
    return CellValue(GetString(row, column), defaultValue, ToInt64);
}
float CTabFile::GetFloat(unsigned row, const wchar_t* column, float defaultValue) {
    return CellValue(GetString(row, column), defaultValue, ToFloat);
}
float CTabFile::GetFloat(unsigned row, unsigned column, float defaultValue) {
    return CellValue(GetString(row, column), defaultValue, ToFloat);
}

} // namespace detail
} // namespace Orvex
