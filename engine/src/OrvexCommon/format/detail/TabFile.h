// The table file object.
#ifndef ORVEX_FORMAT_DETAIL_TABFILE_H
#define ORVEX_FORMAT_DETAIL_TABFILE_H

#include "OrvexCommon/format/OrvexTabFile.h"
#include "OrvexCommon/format/detail/TextFile.h"

namespace Orvex {
namespace detail {

class CTabFile final : public ITabFile {
public:
    // Memory from the pool; null when the pool has none.
    static CTabFile* Create() { return NewPooledObject<CTabFile>(); }

    bool Parse() override;
    void SetText(const wchar_t* src, unsigned count) override;
    bool Load(const wchar_t* fileName) override;
    void Clear() override;
    void Release() override;
    unsigned GetHeight() override { return static_cast<unsigned>(m_rowStarts.size()); }
    unsigned GetWidth() override;
    const wchar_t* GetString(unsigned row, const wchar_t* column) override;
    const wchar_t* GetString(unsigned row, unsigned column) override;
    int GetInt(unsigned row, const wchar_t* column, int defaultValue) override;
    int GetInt(unsigned row, unsigned column, int defaultValue) override;
    std::int64_t GetInt64(unsigned row, const wchar_t* column, std::int64_t defaultValue) override;
    std::int64_t GetInt64(unsigned row, unsigned column, std::int64_t defaultValue) override;
    float GetFloat(unsigned row, const wchar_t* column, float defaultValue) override;
    float GetFloat(unsigned row, unsigned column, float defaultValue) override;
    int GetColumn(const wchar_t* column) override;

    // Clears, decodes and parses a file's bytes, as Load does once it has
    // read them: `size` bytes followed by at least two zero bytes. Throws the
    // refusal for text that is not Unicode.
    void LoadBytes(const unsigned char* bytes, std::uint32_t size);
    // Units of the text, terminators written by Parse included.
    std::size_t GetTextLength() const { return TextLength(); }

private:
    friend CTabFile* NewPooledObject<CTabFile>();
    friend void DeletePooledObject<CTabFile>(CTabFile*);
    CTabFile() = default;
    ~CTabFile() = default;

    // m_text holds the text followed by one more zero unit that is not part
    // of it, so any offset inside the text starts a terminated string, even
    // for rows left from an earlier text.
    std::size_t TextLength() const { return m_text.empty() ? 0 : m_text.size() - 1; }
    void EndText() { m_text.push_back(0); }
    void Decode(const unsigned char* bytes, std::uint32_t size);
    // Ends the current cell at `end` (a separator, made a terminator).
    void EndCell(std::uint32_t start, std::uint32_t end);
    void AddRow() { m_rowStarts.push_back(static_cast<std::uint32_t>(m_cells.size())); }
    // Cells of a row that exists.
    std::size_t RowWidth(std::size_t row) const;

    WideText m_text;
    // Rows are only ever appended, and cells only to the last row, so all
    // rows share one array of cell offsets: row r holds the cells from
    // m_rowStarts[r] up to the next row's start (the end for the last row).
    // A row then costs no allocation of its own, and a lookup one less miss.
    TOrvexVector<std::uint32_t> m_rowStarts;
    TOrvexVector<std::uint32_t> m_cells;
    TOrvexMap<OrvexWString, std::int32_t, UnitLess> m_columns;
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FORMAT_DETAIL_TABFILE_H
