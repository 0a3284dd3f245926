// Table files from arbitrary bytes. The whole input is the file: it is loaded
// from an exactly-sized buffer (the content plus the two zero bytes LoadBytes
// asks for, so ASan sees any read beyond them). The same bytes, two a unit,
// are also the wide text given to SetText: new text over the rows left from
// the file, then a table of its own (Clear, SetText, Parse), new text over
// that, and a second Parse that adds rows to those present.
//
// A plain model of the table follows every step: the text as the object must
// hold it, the rows as offsets into it and the column names. After each step
// every cell of every row, and one cell past each row's end, is read and
// compared with the model (ASan checks that each stays inside the text up to
// its terminator), the typed getters are compared with the number parsers on
// the cell, and every column name is looked up. A text that is not Unicode
// must be refused with the documented char* and log line, leaving the table
// empty. Every pooled byte must be back at the end.
#include "FuzzInput.h"
#include "FuzzTextFile.h"
#include "OrvexCommon/format/detail/TabFile.h"
#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/text/OrvexText.h"
#include "OrvexCommon/text/detail/Utf8Sequence.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using Orvex::detail::CTabFile;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_tabfile: %s\n", what);
        std::abort();
    }
}

const char kRefusal[] = "can not use asc file here!!";

// What the log stream delivered for the current input.
std::string g_logged;

void KeepLogLine(const char* text, unsigned length) {
    g_logged.append(text, length);
}

// The table as the object documents it. `m_text` is the text followed by
// the one zero unit that is not part of it.
class TableModel {
public:
    void Clear() {
        m_text.clear();
        m_rows.clear();
        m_columns.clear();
    }

    void SetText(const wchar_t* src, unsigned count) {
        m_text.assign(src, src + count);
        m_text.push_back(0);
    }

    // False when the text is to be refused (the table is then empty).
    bool Load(const unsigned char* bytes, std::uint32_t size) {
        Clear();
        if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
            // Decoded UTF-8 keeps its terminator as the text's last unit.
            DecodeUtf8(bytes + 3, m_text);
            m_text.push_back(0);
        } else if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
            // The whole units after the mark, nothing after them.
            for (std::uint32_t k = 2; k + 1 < size; k += 2) {
                m_text.push_back(static_cast<wchar_t>(bytes[k] | bytes[k + 1] << 8));
            }
        } else {
            if (!DecodeUtf8(bytes, m_text)) {
                m_text.clear();
                return false;
            }
            m_text.push_back(0);
        }
        m_text.push_back(0);
        Parse();
        return true;
    }

    // Cells end at a tab, a line feed or a carriage return and line feed;
    // rows at either line end. The text's last unit ends nothing, except that
    // a final tab ends the last cell and adds an empty one; a final "\r\n"
    // adds no row. Only cells of the first row that a separator ends are
    // column names, the later of equal names winning.
    void Parse() {
        m_rows.emplace_back();
        const std::size_t length = Length();
        std::size_t start = 0;
        std::size_t at = 0;
        while (at + 1 < length) {
            const wchar_t unit = m_text[at];
            std::size_t separator = 0;
            if (unit == L'\t' || unit == L'\n') {
                separator = 1;
            } else if (unit == L'\r' && m_text[at + 1] == L'\n') {
                separator = 2;
            }
            if (separator == 0) {
                ++at;
                continue;
            }
            m_text[at] = 0;
            if (m_rows.size() == 1) {
                m_columns[std::wstring(m_text.data() + start)] = static_cast<int>(m_rows[0].size());
            }
            m_rows.back().push_back(static_cast<std::uint32_t>(start));
            start = at + separator;
            at = start;
            if (unit == L'\t') {
                continue;
            }
            if (separator == 2 && start >= length) {
                return; // the text stays as it was, spare unit included
            }
            m_rows.emplace_back();
        }
        m_rows.back().push_back(static_cast<std::uint32_t>(start));
        if (length >= 1 && m_text[length - 1] == L'\t') {
            m_text[length - 1] = 0;
            m_rows.back().push_back(static_cast<std::uint32_t>(length - 1));
        }
        // The spare unit joins the text and a new one follows it.
        if (m_text.empty()) {
            m_text.push_back(0);
        }
        m_text.push_back(0);
    }

    std::size_t Length() const { return m_text.empty() ? 0 : m_text.size() - 1; }
    const std::vector<std::vector<std::uint32_t>>& Rows() const { return m_rows; }
    const std::map<std::wstring, int>& Columns() const { return m_columns; }

    // The cell's text, or null where the object gives its shared empty string.
    const wchar_t* Cell(std::size_t row, std::size_t column) const {
        if (row >= m_rows.size() || column >= m_rows[row].size()) {
            return nullptr;
        }
        const std::uint32_t offset = m_rows[row][column];
        return offset < Length() ? m_text.data() + offset : nullptr;
    }

    int ColumnOf(const std::wstring& name) const {
        const auto found = m_columns.find(name);
        return found == m_columns.end() ? -1 : found->second;
    }

private:
    std::vector<wchar_t> m_text;
    std::vector<std::vector<std::uint32_t>> m_rows;
    std::map<std::wstring, int> m_columns;
};

constexpr int kIntDefault = -424242;
constexpr std::int64_t kInt64Default = -4242424242424242;
constexpr float kFloatDefault = -4.25f;

// The typed getters on a cell read as `cell`.
void CheckTyped(CTabFile& table, unsigned row, unsigned column, const wchar_t* cell) {
    const bool empty = cell[0] == 0;
    Check(table.GetInt(row, column, kIntDefault) == (empty ? kIntDefault : Orvex::OrvexA2I(cell)),
          "GetInt does not read the cell");
    Check(table.GetInt64(row, column, kInt64Default) ==
              (empty ? kInt64Default : Orvex::OrvexA2I64(cell)),
          "GetInt64 does not read the cell");
    Check(SameFloat(table.GetFloat(row, column, kFloatDefault),
                    empty ? kFloatDefault : static_cast<float>(Orvex::OrvexA2F(cell))),
          "GetFloat does not read the cell");
}

// A name finds its column. Given `rows`, its lookups in some rows also agree
// with the lookups by its column.
void CheckName(CTabFile& table, const TableModel& model, const std::wstring& name, bool rows) {
    const int column = model.ColumnOf(name);
    Check(table.GetColumn(name.c_str()) == column, "GetColumn gives another column");
    if (!rows) {
        return;
    }
    const unsigned height = table.GetHeight();
    for (const unsigned row : {0u, 1u, height / 2, height - 1, height}) {
        const wchar_t* byName = table.GetString(row, name.c_str());
        if (column < 0) {
            Check(byName == table.GetString(height, 0u), "an unknown name finds a cell");
            Check(table.GetInt(row, name.c_str(), kIntDefault) == kIntDefault,
                  "GetInt of an unknown name");
            continue;
        }
        const auto number = static_cast<unsigned>(column);
        Check(byName == table.GetString(row, number), "a name finds another cell than its column");
        Check(table.GetInt(row, name.c_str(), 7) == table.GetInt(row, number, 7),
              "GetInt by name differs from GetInt by column");
        Check(table.GetInt64(row, name.c_str(), 7) == table.GetInt64(row, number, 7),
              "GetInt64 by name differs from GetInt64 by column");
        Check(SameFloat(table.GetFloat(row, name.c_str(), 0.5f), table.GetFloat(row, number, 0.5f)),
              "GetFloat by name differs from GetFloat by column");
    }
}

// How many names of a walk have their rows looked up by name too: enough for
// every path of a lookup, while every name still finds its column. A wide
// first row would otherwise spend most of an input on the same lookups.
constexpr unsigned kNamesWithRows = 8;

// How much a walk checks. New text without a Parse changes what the cells
// read, not the column names or how a cell's text is typed: after it the
// cells are enough, and the whole walk runs after each Load and Parse.
enum class Depth { Cells, Everything };

// What the table gives, against the model: the cells, and at depth
// Everything their typed values and every name lookup. `names` are further
// names to look up.
void Walk(CTabFile& table, const TableModel& model, const std::vector<std::wstring>& names,
          Depth depth) {
    const auto& rows = model.Rows();
    Check(table.GetHeight() == rows.size(), "the table has another height");
    Check(table.GetWidth() == (rows.empty() ? 0 : rows[0].size()), "the table has another width");
    Check(table.GetTextLength() == model.Length(), "the text has another length");
    const unsigned height = table.GetHeight();
    const wchar_t* none = table.GetString(height, 0u);
    Check(none != nullptr && none[0] == 0, "a row past the table is not empty");
    Check(table.GetString(~0u, ~0u) == none && table.GetString(0u, ~0u) == none,
          "lookups outside the table give different strings");
    for (unsigned row = 0; row < height; ++row) {
        // One column past the row's end too.
        for (unsigned column = 0; column <= rows[row].size(); ++column) {
            const wchar_t* cell = table.GetString(row, column);
            const wchar_t* expected = model.Cell(row, column);
            if (expected == nullptr) {
                Check(cell == none, "a cell outside the text is not the shared empty string");
            } else {
                Check(cell != none && std::wcscmp(cell, expected) == 0,
                      "a cell reads another text");
            }
            if (depth == Depth::Everything) {
                CheckTyped(table, row, column, cell);
            }
        }
    }
    if (depth == Depth::Cells) {
        return;
    }
    unsigned withRows = kNamesWithRows;
    const auto checkName = [&](const std::wstring& name) {
        CheckName(table, model, name, withRows > 0);
        withRows -= withRows > 0 ? 1 : 0;
    };
    for (const auto& name : names) {
        checkName(name);
    }
    for (const auto& column : model.Columns()) {
        checkName(column.first);
    }
    // Cells of the first row that are not names (the last one, mostly).
    if (height > 0) {
        for (unsigned column = 0; column < rows[0].size(); ++column) {
            if (const wchar_t* cell = model.Cell(0, column)) {
                checkName(cell);
            }
        }
    }
    Check(table.GetColumn(nullptr) == -1, "GetColumn of null");
    Check(table.GetString(0u, static_cast<const wchar_t*>(nullptr)) == none,
          "GetString of a null name");
}

// Names out of the input's leading bytes: up to its first separator one unit
// a byte, and two bytes a unit.
std::vector<std::wstring> NamesFrom(const std::uint8_t* data, std::size_t size) {
    std::wstring bytes;
    for (std::size_t k = 0; k < size && k < 32; ++k) {
        const wchar_t unit = data[k];
        if (unit == 0 || unit == L'\t' || unit == L'\r' || unit == L'\n') {
            break;
        }
        bytes.push_back(unit);
    }
    std::wstring pairs;
    for (std::size_t k = 0; k + 1 < size && k < 32; k += 2) {
        const wchar_t unit = static_cast<wchar_t>(data[k] | data[k + 1] << 8);
        if (unit == 0) {
            break;
        }
        pairs.push_back(unit);
    }
    return {bytes, pairs};
}

// The first `count` units of `wide` in a buffer of exactly that many.
std::unique_ptr<wchar_t[]> WideCopy(const std::vector<wchar_t>& wide, unsigned count) {
    std::unique_ptr<wchar_t[]> copy(new wchar_t[count]);
    std::copy(wide.begin(), wide.begin() + count, copy.get());
    return copy;
}

// New text without a Parse: the rows present read it at their offsets.
void SetTextOver(CTabFile& table, TableModel& model, const std::vector<wchar_t>& wide,
                 unsigned count, const std::vector<std::wstring>& names) {
    const auto copy = WideCopy(wide, count);
    table.SetText(copy.get(), count);
    model.SetText(copy.get(), count);
    Walk(table, model, names, Depth::Cells);
}

void Exercise(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::wstring> names = NamesFrom(data, size);
    // The input two bytes a unit, its terminator included.
    const std::vector<wchar_t> wide = FuzzInput(data, size).RestAsWide();
    const auto units = static_cast<unsigned>(wide.size());

    CTabFile* table = CTabFile::Create();
    Check(table != nullptr, "no memory for a table");
    TableModel model;

    const std::unique_ptr<unsigned char[]> bytes = PaddedCopy(data, size);
    const bool accepted = model.Load(bytes.get(), static_cast<std::uint32_t>(size));
    bool refused = false;
    g_logged.clear();
    try {
        table->LoadBytes(bytes.get(), static_cast<std::uint32_t>(size));
    } catch (char* text) {
        refused = true;
        Check(text != nullptr && std::strcmp(text, kRefusal) == 0, "another text was thrown");
    }
    Check(refused == !accepted, "LoadBytes refuses Unicode or takes what is not");
    Check(g_logged == (refused ? std::string(kRefusal) + "\n" : std::string()),
          "the log holds other lines than the refusal");
    if (refused) {
        Check(table->GetHeight() == 0 && table->GetWidth() == 0, "a refused table has rows");
    }
    Walk(*table, model, names, Depth::Everything);

    // New text over the rows of the file: none, some, and all of the input.
    for (const unsigned count : {0u, units / 3, units}) {
        SetTextOver(*table, model, wide, count, names);
    }
    table->SetText(nullptr, 5);
    model.SetText(nullptr, 0);
    Walk(*table, model, names, Depth::Cells);

    // An empty table parses to one row of one empty cell.
    table->Clear();
    model.Clear();
    Walk(*table, model, names, Depth::Everything);
    table->Parse();
    model.Parse();
    Walk(*table, model, names, Depth::Everything);

    // A table of the wide text, now and then with its terminator as the last
    // unit, as decoded UTF-8 has it.
    table->Clear();
    model.Clear();
    const unsigned count = size > 0 && (data[0] & 1) != 0 ? units : units - 1;
    const auto text = WideCopy(wide, count);
    table->SetText(text.get(), count);
    model.SetText(text.get(), count);
    Walk(*table, model, names, Depth::Cells);
    table->Parse();
    model.Parse();
    Walk(*table, model, names, Depth::Everything);

    // Shorter text over those rows, then a Parse that adds its rows.
    SetTextOver(*table, model, wide, count / 2, names);
    table->Parse();
    model.Parse();
    Walk(*table, model, names, Depth::Everything);

    table->Release();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Orvex::SetGlobLogFun(KeepLogLine);
    // The log stream copies every line to standard output as well: the
    // refusals would flood whatever runs the fuzzer. libFuzzer reports on
    // standard error.
    const int sink = open("/dev/null", O_WRONLY);
    if (sink >= 0) {
        dup2(sink, STDOUT_FILENO);
        close(sink);
    }
    // The stream is made on first use; make it before any input is measured.
    Orvex::GetLogStream().flush();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const long long allocated = GetTotalAllocSize();
    Exercise(data, size);
    Check(GetTotalAllocSize() == allocated, "tables leaked pooled memory");
    return 0;
}
