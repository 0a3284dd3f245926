// Table files beside libcsv 3.0.3, the C library a program would otherwise use
// to cut delimited text into fields. At start-up, in a scratch directory, the
// binary writes one table of 100 000 rows under a header row that names its
// 12 columns (UTF-8 without a mark, cells separated by tabs, rows ended by
// "\r\n", fixed seed): ids, integers, decimals, names and model paths, free
// text with spaces and a few non-ASCII letters, short tags, some cells empty.
// Then it times:
//
//  - load: the file read whole into memory and cut into cells, the result
//    given back: ours CreateTabFile + Load + Release; libcsv with a tab as
//    delimiter (csv_set_delim) and callbacks that keep the cells in two ways,
//    as a std::vector of rows of std::string (`libcsv`, the usual way) and as
//    one buffer of the cells' bytes, each followed by a zero, with a vector of
//    offsets per row (`libcsv-offsets`, the way ours keeps them), both with a
//    std::map from column name to column number made from row 0 as ours
//    makes one; `memchr`: the same bytes read the same way and scanned with
//    memchr for line ends and tabs, counting cells, the bound on any reader
//    that looks at every byte;
//  - lookup, by-number: 100 000 cells in a fixed random order by row and
//    column number (ours GetString(row, column), the others an index into
//    their rows); by-name: the same rows with the column given by its name
//    (ours GetString(row, name), the others a map lookup, then the index).
//
// Before timing, every cell is read through every contender and compared with
// the cell written, the column names are looked up, and the memchr scan's
// count of cells is checked; the binary aborts on a difference.
#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/format/OrvexTabFile.h"
#include "OrvexCommon/platform/OrvexPlatform.h"

#include <benchmark/benchmark.h>

#include "BenchMain.h"
#include "BenchScratch.h"
#include <csv.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr std::uint32_t kRows = 100000; // below the header row
constexpr std::uint32_t kColumns = 12;
constexpr std::size_t kLookups = 100000;

const char* const kColumnNames[kColumns] = {"Id",    "Name",  "Level", "Life", "Speed", "Scale",
                                            "Model", "Flags", "Text",  "PosX", "PosY",  "Tag"};

// The wide text of well-formed UTF-8 (the cells this binary made).
std::wstring WideOf(const std::string& text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        std::uint32_t value = length == 1   ? lead
                              : length == 2 ? lead & 0x1Fu
                              : length == 3 ? lead & 0x0Fu
                                            : lead & 0x07u;
        for (std::size_t k = 1; k < length; ++k) {
            value = (value << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        }
        out.push_back(static_cast<wchar_t>(value));
        i += length;
    }
    return out;
}

void AppendUtf8(std::string& out, std::uint32_t value) {
    if (value < 0x80) {
        out.push_back(static_cast<char>(value));
    } else if (value < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (value >> 6)));
        out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else if (value < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (value >> 12)));
        out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (value >> 18)));
        out.push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    }
}

// ---- What the libcsv users keep ----

typedef std::map<std::string, int, std::less<>> ColumnNames;

// The usual way: every cell its own std::string.
struct StringRows {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    ColumnNames columns;

    const char* Cell(std::uint32_t r, std::uint32_t c) const { return rows[r][c].c_str(); }
    std::uint32_t Height() const { return static_cast<std::uint32_t>(rows.size()); }
    std::uint32_t Width(std::uint32_t r) const {
        return static_cast<std::uint32_t>(rows[r].size());
    }

    static void OnCell(void* cell, std::size_t size, void* user) {
        static_cast<StringRows*>(user)->row.emplace_back(static_cast<const char*>(cell), size);
    }
    static void OnRow(int, void* user) {
        auto& self = *static_cast<StringRows*>(user);
        self.rows.push_back(std::move(self.row));
        self.row.clear();
    }
    void Reserve(std::size_t) {}
    void NameColumns() {
        for (std::uint32_t c = 0; !rows.empty() && c < rows[0].size(); ++c) {
            columns[rows[0][c]] = static_cast<int>(c);
        }
    }
};

// Ours' way: the cells' bytes in one buffer, each followed by a zero, and a
// vector of offsets per row (reserved as long as the row before it).
struct OffsetRows {
    std::string text;
    std::vector<std::vector<std::uint32_t>> rows;
    std::vector<std::uint32_t> row;
    ColumnNames columns;

    const char* Cell(std::uint32_t r, std::uint32_t c) const { return text.data() + rows[r][c]; }
    std::uint32_t Height() const { return static_cast<std::uint32_t>(rows.size()); }
    std::uint32_t Width(std::uint32_t r) const {
        return static_cast<std::uint32_t>(rows[r].size());
    }

    static void OnCell(void* cell, std::size_t size, void* user) {
        auto& self = *static_cast<OffsetRows*>(user);
        self.row.push_back(static_cast<std::uint32_t>(self.text.size()));
        self.text.append(static_cast<const char*>(cell), size);
        self.text.push_back(0);
    }
    static void OnRow(int, void* user) {
        auto& self = *static_cast<OffsetRows*>(user);
        const std::size_t width = self.row.size();
        self.rows.push_back(std::move(self.row));
        self.row.clear();
        self.row.reserve(width);
    }
    // Cells and their zeros take no more than the file's bytes and one.
    void Reserve(std::size_t bytes) { text.reserve(bytes + 1); }
    void NameColumns() {
        for (std::uint32_t c = 0; !rows.empty() && c < rows[0].size(); ++c) {
            columns[Cell(0, c)] = static_cast<int>(c);
        }
    }
};

struct Data {
    std::string path;               // the table file
    std::wstring widePath;          // the same for ours
    std::size_t bytes = 0;          // the file's size
    std::vector<std::string> cells; // the cells written, row by row, header first
    // The lookups: rows (1..kRows) and columns in a fixed random order, and
    // the column names in every contender's form.
    std::vector<std::uint32_t> lookupRows, lookupColumns;
    std::wstring wideNames[kColumns];
    std::string names[kColumns];
    // Loaded once for the lookups.
    Orvex::ITabFile* ours = nullptr;
    StringRows strings;
    OffsetRows offsets;
};

Data& Shared() {
    static Data data;
    return data;
}

// ---- The table ----

class CellMaker {
public:
    explicit CellMaker(std::uint32_t seed) : m_random(seed) {}

    int Between(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(m_random);
    }

    std::string Int(int low, int high) { return std::to_string(Between(low, high)); }

    std::string Decimal(int low, int high, int places) {
        char digits[48];
        std::snprintf(digits, sizeof digits, "%.*f", places, Between(low, high) / 1000.0);
        return digits;
    }

    // Letters and digits, one character in 20 from a set of Latin-1, Greek,
    // Cyrillic and CJK letters; single spaces between words when asked.
    std::string Words(int low, int high, bool spaces) {
        static const char kLetters[] =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        static const std::uint32_t kOthers[] = {0xE9,  0xFC,   0xDF,   0xF1,   0x3A9,
                                                0x416, 0x4E2D, 0x6587, 0x65E5, 0x1F600};
        const int length = Between(low, high);
        std::string text;
        bool space = true; // no space first
        for (int i = 0; i < length; ++i) {
            if (spaces && !space && i < length - 1 && Between(0, 6) == 0) {
                text.push_back(' ');
                space = true;
                continue;
            }
            if (Between(0, 19) == 0) {
                AppendUtf8(text, kOthers[Between(0, 9)]);
            } else {
                text.push_back(kLetters[Between(0, 61)]);
            }
            space = false;
        }
        return text;
    }

    std::uint32_t Next() { return static_cast<std::uint32_t>(m_random()); }

private:
    std::mt19937 m_random;
};

std::string MakeTable(Data& data) {
    CellMaker maker(20261209);
    data.cells.reserve((kRows + 1) * kColumns);
    for (const char* name : kColumnNames) {
        data.cells.emplace_back(name);
    }
    for (std::uint32_t row = 1; row <= kRows; ++row) {
        data.cells.push_back(std::to_string(row * 10 + 1000));
        data.cells.push_back(maker.Words(3, 14, false));
        data.cells.push_back(maker.Int(1, 100));
        data.cells.push_back(maker.Int(0, 100000));
        data.cells.push_back(maker.Decimal(0, 20000, 2));
        data.cells.push_back(maker.Decimal(100, 5000, 3));
        data.cells.push_back("model/" + maker.Words(4, 10, false) + "_" + maker.Int(0, 99));
        data.cells.push_back(maker.Int(0, 65535));
        data.cells.push_back(maker.Between(0, 9) == 0 ? "" : maker.Words(4, 40, true));
        data.cells.push_back(maker.Decimal(-1000000, 1000000, 3));
        data.cells.push_back(maker.Decimal(-1000000, 1000000, 3));
        data.cells.push_back(maker.Between(0, 3) == 0 ? "" : maker.Words(2, 6, false));
    }
    std::string text;
    for (std::size_t i = 0; i < data.cells.size(); ++i) {
        text += data.cells[i];
        text += (i + 1) % kColumns == 0 ? "\r\n" : "\t";
    }
    for (std::size_t i = 0; i < kLookups; ++i) {
        data.lookupRows.push_back(1 + maker.Next() % kRows);
        data.lookupColumns.push_back(maker.Next() % kColumns);
    }
    for (std::uint32_t c = 0; c < kColumns; ++c) {
        data.names[c] = kColumnNames[c];
        data.wideNames[c] = WideOf(kColumnNames[c]);
    }
    return text;
}

// ---- Reading ----

// The file whole in a fresh buffer, as the peers' users read it.
std::unique_ptr<char[]> ReadWhole(const std::string& path, std::size_t& size) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        BenchScratch::Fail("cannot open the table file");
    }
    std::fseek(file, 0, SEEK_END);
    size = static_cast<std::size_t>(std::ftell(file));
    std::fseek(file, 0, SEEK_SET);
    std::unique_ptr<char[]> bytes(new char[size]);
    const std::size_t read = std::fread(bytes.get(), 1, size, file);
    std::fclose(file);
    if (read != size) {
        BenchScratch::Fail("cannot read the table file");
    }
    return bytes;
}

template <typename Rows> void LoadLibcsv(const std::string& path, Rows& rows) {
    std::size_t size = 0;
    const std::unique_ptr<char[]> bytes = ReadWhole(path, size);
    rows.Reserve(size);
    csv_parser parser;
    if (csv_init(&parser, 0) != 0) {
        BenchScratch::Fail("csv_init failed");
    }
    csv_set_delim(&parser, CSV_TAB);
    if (csv_parse(&parser, bytes.get(), size, Rows::OnCell, Rows::OnRow, &rows) != size ||
        csv_fini(&parser, Rows::OnCell, Rows::OnRow, &rows) != 0) {
        BenchScratch::Fail("libcsv cannot parse the table");
    }
    csv_free(&parser);
    rows.NameColumns();
}

// Cells in the bytes: each line's tabs plus one.
std::size_t ScanCells(const std::string& path) {
    std::size_t size = 0;
    const std::unique_ptr<char[]> bytes = ReadWhole(path, size);
    const char* cursor = bytes.get();
    const char* const end = cursor + size;
    std::size_t cells = 0;
    while (cursor < end) {
        const char* line = static_cast<const char*>(std::memchr(cursor, '\n', end - cursor));
        if (line == nullptr) {
            line = end;
        }
        for (const char* cell = cursor;; ++cells) {
            const char* tab = static_cast<const char*>(std::memchr(cell, '\t', line - cell));
            if (tab == nullptr) {
                ++cells;
                break;
            }
            cell = tab + 1;
        }
        cursor = line + 1;
    }
    return cells;
}

// ---- Checks ----

template <typename Rows> void CheckRows(const Data& data, const Rows& rows, const char* who) {
    if (rows.Height() != kRows + 1) {
        std::fprintf(stderr, "tab_bench: %s: %u rows\n", who, rows.Height());
        BenchScratch::Fail("a wrong number of rows");
    }
    for (std::uint32_t r = 0; r <= kRows; ++r) {
        if (rows.Width(r) != kColumns) {
            BenchScratch::Fail("a row of a wrong width");
        }
        for (std::uint32_t c = 0; c < kColumns; ++c) {
            if (data.cells[r * kColumns + c] != rows.Cell(r, c)) {
                std::fprintf(stderr, "tab_bench: %s reads cell (%u, %u) wrong\n", who, r, c);
                BenchScratch::Fail("a cell reads wrong");
            }
        }
    }
    for (std::uint32_t c = 0; c < kColumns; ++c) {
        const auto found = rows.columns.find(data.names[c]);
        if (found == rows.columns.end() || found->second != static_cast<int>(c)) {
            BenchScratch::Fail("a column name is not found");
        }
    }
}

// A UTF-8 table that ends in a line end has one more row than it has lines,
// holding one empty cell (OrvexTabFile.h tells why); it is checked as such.
void CheckOurs(const Data& data) {
    Orvex::ITabFile& tab = *data.ours;
    if (tab.GetHeight() != kRows + 2 || tab.GetWidth() != kColumns) {
        std::fprintf(stderr, "tab_bench: ours: %u rows, %u columns\n", tab.GetHeight(),
                     tab.GetWidth());
        BenchScratch::Fail("ours holds a wrong number of rows or columns");
    }
    for (std::uint32_t r = 0; r <= kRows; ++r) {
        for (std::uint32_t c = 0; c < kColumns; ++c) {
            const std::wstring expected = WideOf(data.cells[r * kColumns + c]);
            if (expected != tab.GetString(r, c) ||
                (r % 97 == 0 && expected != tab.GetString(r, data.wideNames[c].c_str()))) {
                std::fprintf(stderr, "tab_bench: ours reads cell (%u, %u) wrong\n", r, c);
                BenchScratch::Fail("a cell reads wrong");
            }
        }
    }
    if (std::wcslen(tab.GetString(kRows + 1, 0u)) != 0 || tab.GetString(kRows + 1, 1u)[0] != 0) {
        BenchScratch::Fail("our last row is not the one empty cell");
    }
    for (std::uint32_t c = 0; c < kColumns; ++c) {
        if (tab.GetColumn(data.wideNames[c].c_str()) != static_cast<int>(c)) {
            BenchScratch::Fail("our column names are wrong");
        }
    }
}

// ---- Timed bodies ----

void LoadOrvex(benchmark::State& state) {
    const Data& data = Shared();
    TimeFileManagerLoad(state, data.widePath, data.bytes,
                        [](Orvex::IOrvexFileMgr& files) { return files.CreateTabFile(); });
}

template <typename Rows> void LoadPeer(benchmark::State& state) {
    const Data& data = Shared();
    for (auto _ : state) {
        Rows rows;
        LoadLibcsv(data.path, rows);
        benchmark::DoNotOptimize(rows.rows.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.bytes));
}

void LoadMemchr(benchmark::State& state) {
    const Data& data = Shared();
    for (auto _ : state) {
        const std::size_t cells = ScanCells(data.path);
        benchmark::DoNotOptimize(cells);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.bytes));
}

void ByNumberOrvex(benchmark::State& state) {
    const Data& data = Shared();
    for (auto _ : state) {
        for (std::size_t i = 0; i < kLookups; ++i) {
            const wchar_t* cell = data.ours->GetString(data.lookupRows[i], data.lookupColumns[i]);
            benchmark::DoNotOptimize(cell);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLookups));
}

template <typename Rows> void ByNumberPeer(benchmark::State& state, const Rows* rows) {
    const Data& data = Shared();
    for (auto _ : state) {
        for (std::size_t i = 0; i < kLookups; ++i) {
            const char* cell = rows->Cell(data.lookupRows[i], data.lookupColumns[i]);
            benchmark::DoNotOptimize(cell);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLookups));
}

void ByNameOrvex(benchmark::State& state) {
    const Data& data = Shared();
    for (auto _ : state) {
        for (std::size_t i = 0; i < kLookups; ++i) {
            const wchar_t* cell = data.ours->GetString(
                data.lookupRows[i], data.wideNames[data.lookupColumns[i]].c_str());
            benchmark::DoNotOptimize(cell);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLookups));
}

// The name as a user holds it (a C string), its column from the map, then
// the cell; "" for a name that is not a column, like ours.
template <typename Rows> void ByNamePeer(benchmark::State& state, const Rows* rows) {
    const Data& data = Shared();
    for (auto _ : state) {
        for (std::size_t i = 0; i < kLookups; ++i) {
            const auto found = rows->columns.find(data.names[data.lookupColumns[i]].c_str());
            const char* cell =
                found == rows->columns.end()
                    ? ""
                    : rows->Cell(data.lookupRows[i], static_cast<std::uint32_t>(found->second));
            benchmark::DoNotOptimize(cell);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLookups));
}

// ---- Start-up ----

void Prepare(const BenchScratch& scratch) {
    Data& data = Shared();
    data.path = scratch.File("table.tab").string();
    data.widePath = scratch.File("table.tab").wstring();

    const std::string text = MakeTable(data);
    scratch.Write(data.path, text);
    data.bytes = text.size();
    std::fprintf(stderr, "tab_bench: %zu bytes, %u rows of %u cells and the header\n", data.bytes,
                 kRows, kColumns);

    data.ours = Orvex::GetOrvexFileMgr().CreateTabFile();
    if (data.ours == nullptr || !data.ours->Load(data.widePath.c_str())) {
        BenchScratch::Fail("ours cannot load the table file");
    }
    LoadLibcsv(data.path, data.strings);
    LoadLibcsv(data.path, data.offsets);
    CheckOurs(data);
    CheckRows(data, data.strings, "libcsv");
    CheckRows(data, data.offsets, "libcsv-offsets");
    if (ScanCells(data.path) != (kRows + 1) * kColumns) {
        BenchScratch::Fail("the memchr scan counts a wrong number of cells");
    }
}

void CleanUp() {
    Data& data = Shared();
    data.ours->Release();
    data.ours = nullptr;
}

void RegisterAll() {
    const Data& data = Shared();
    benchmark::RegisterBenchmark("OrvexTab/load/Orvex", LoadOrvex)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OrvexTab/load/libcsv", LoadPeer<StringRows>)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OrvexTab/load/libcsv-offsets", LoadPeer<OffsetRows>)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OrvexTab/load/memchr", LoadMemchr)->Unit(benchmark::kMillisecond);

    benchmark::RegisterBenchmark("OrvexTabLookup/by-number/Orvex", ByNumberOrvex)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("OrvexTabLookup/by-number/libcsv", ByNumberPeer<StringRows>,
                                 &data.strings)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("OrvexTabLookup/by-number/libcsv-offsets",
                                 ByNumberPeer<OffsetRows>, &data.offsets)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("OrvexTabLookup/by-name/Orvex", ByNameOrvex)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("OrvexTabLookup/by-name/libcsv", ByNamePeer<StringRows>,
                                 &data.strings)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("OrvexTabLookup/by-name/libcsv-offsets", ByNamePeer<OffsetRows>,
                                 &data.offsets)
        ->Unit(benchmark::kMicrosecond);
}

} // namespace

int main(int argc, char** argv) {
    const BenchScratch scratch("tab_bench");
    Prepare(scratch);
    RegisterAll();
    const int result = RunRegisteredBenchmarks(argc, argv);
    CleanUp();
    return result;
}
