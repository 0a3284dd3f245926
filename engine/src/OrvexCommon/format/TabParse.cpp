// Cutting a table's text into rows and cells in place.
#include "OrvexCommon/format/detail/TabFile.h"

namespace Orvex {
namespace detail {

void CTabFile::EndCell(std::uint32_t start, std::uint32_t end) {
    m_text[end] = 0;
    if (m_rowStarts.size() == 1) {
        const std::wstring_view name(m_text.data() + start);
        m_columns[OrvexWString(name)] = static_cast<std::int32_t>(RowWidth(0));
    }
    m_cells.push_back(start);
}

// The text's last unit is never examined in the loop: it is the zero unit
// that decoded UTF-8 ends with, or the last unit of UTF-16 text, which the
// final step looks at for a trailing tab.
bool CTabFile::Parse() {
    AddRow();
    const std::uint32_t length = static_cast<std::uint32_t>(TextLength());
    std::uint32_t cellStart = 0;
    std::uint32_t position = 0;
    while (length >= 1 && position < length - 1) {
        const wchar_t unit = m_text[position];
        if (unit == L'\t' || unit == L'\n') {
            EndCell(cellStart, position);
            cellStart = position + 1;
            if (unit == L'\n') {
                AddRow();
            }
            position += 1;
        } else if (unit == L'\r' && m_text[position + 1] == L'\n') {
            EndCell(cellStart, position);
            cellStart = position + 2;
            if (cellStart >= length) {
                return true; // a final line end adds no row
            }
            AddRow();
            position += 2;
        } else {
            position += 1;
        }
    }
    m_cells.push_back(cellStart);
    if (length >= 1 && m_text[length - 1] == L'\t') {
        m_text[length - 1] = 0;
        m_cells.push_back(length - 1);
    }
    // One more zero unit for the text; the spare one after it stays.
    if (m_text.empty()) {
        EndText();
    }
    EndText();
    return true;
}

} // namespace detail
} // namespace Orvex
