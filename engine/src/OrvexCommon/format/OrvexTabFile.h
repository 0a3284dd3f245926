// Table files: rows separated by line ends ("\n" or "\r\n"), cells separated
// by tabs; the first row (row 0) names the columns and is also an ordinary
// row. Rows may hold different numbers of cells.
//
// The text is decoded once into one array and cut into cells in place: each
// separator becomes a terminator and a cell is an offset into the array.
// Lookups outside the table give a shared empty string, and the typed getters
// their default. Only Unicode files are read: UTF-16 with the mark FF FE,
// UTF-8 with the mark EF BB BF, or valid UTF-8 without a mark; anything else
// logs "can not use asc file here!!" and throws that text as a char*, giving
// back the file object and the byte buffer on the way out. Files too large to
// hold (2 GiB and more, or wide text the pool cannot give) load as failures.
//
// Decoding is faithful to the bytes, and two consequences follow. Decoded
// UTF-8 keeps a final zero unit inside the scanned text, so a UTF-8 table
// whose last line ends in a line end has one more row, holding one empty
// cell, than the same table in UTF-16. And a header cell is a column name
// only when a separator ends it: the last header cell of a table that has no
// other row is not one.
//
// Made by the file manager's CreateTabFile and read through its file objects,
// so it finds files loose or inside packages. No lock: lookups from several
// threads are safe while nobody loads, clears or releases the object.
#ifndef ORVEX_FORMAT_ORVEXTABFILE_H
#define ORVEX_FORMAT_ORVEXTABFILE_H

#include <cstdint>

namespace Orvex {

class ITabFile {
public:
    // Cuts the text into rows and cells, adding rows to those present; always
    // true. Text from memory: Clear, SetText, Parse.
    virtual bool Parse() = 0;
    // Makes the text exactly `count` units copied from `src`. Rows and columns
    // stay: until the next Parse, earlier rows read the new text at their
    // offsets and an empty cell past its end (never memory beyond it).
    virtual void SetText(const wchar_t* src, unsigned count) = 0;
    // Reads, decodes and parses a file. False, changing nothing, when it
    // cannot be opened or read or is empty. Throws (see above) for text that
    // is not Unicode, leaving the table empty.
    virtual bool Load(const wchar_t* fileName) = 0;
    // Empties the text, the rows and the columns.
    virtual void Clear() = 0;
    // Destroys the object.
    virtual void Release() = 0;
    // Rows, the header row included; 0 for an empty table.
    virtual unsigned GetHeight() = 0;
    // Cells of row 0; 0 when there are no rows.
    virtual unsigned GetWidth() = 0;
    // The cell in the named column, or "" when the name is not a column.
    virtual const wchar_t* GetString(unsigned row, const wchar_t* column) = 0;
    // The cell, or "" outside the table or beyond the row's cells. Valid
    // until the next Clear, SetText, Load or Release.
    virtual const wchar_t* GetString(unsigned row, unsigned column) = 0;
    // The typed getters give the default for an empty or missing cell, else
    // OrvexA2I, OrvexA2I64 or OrvexA2F (as a float) of the cell.
    virtual int GetInt(unsigned row, const wchar_t* column, int defaultValue) = 0;
    virtual int GetInt(unsigned row, unsigned column, int defaultValue) = 0;
    virtual std::int64_t GetInt64(unsigned row, const wchar_t* column,
                                  std::int64_t defaultValue) = 0;
    virtual std::int64_t GetInt64(unsigned row, unsigned column, std::int64_t defaultValue) = 0;
    virtual float GetFloat(unsigned row, const wchar_t* column, float defaultValue) = 0;
    virtual float GetFloat(unsigned row, unsigned column, float defaultValue) = 0;
    // The column number of a header name (the later one when two cells hold
    // it; names are case-sensitive), or -1.
    virtual int GetColumn(const wchar_t* column) = 0;

protected:
    ~ITabFile() = default;
};

} // namespace Orvex

#endif // ORVEX_FORMAT_ORVEXTABFILE_H
