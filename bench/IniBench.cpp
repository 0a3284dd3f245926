// Configuration files beside SimpleIni 4.19 and inih, the libraries a program
// would otherwise use to read "key = value" files under "[section]" headers.
// At start-up, in a scratch directory, the binary writes one configuration
// text of 500 sections of 40 keys each (about 1 MiB of UTF-8 without a mark,
// "\r\n" line ends, fixed seed): keys of 4-24 ASCII characters, values that
// are integers, decimals or words of 4-80 characters with a few non-ASCII
// letters, a comment line before half of the sections and before one key in
// eight, a blank line after every section. The line ends are the ones Save
// writes; they also keep our comments to their line, since a comment runs to
// the next carriage return. Then it times:
//
//  - parse: the file read and parsed into a fresh object, and the object given
//    back: ours CreateIniFile + Load + Release; SimpleIni's wide form
//    (CSimpleIniCaseW, UTF-16 through ICU, the converter Debian builds it
//    with) and its narrow form (CSimpleIniCaseA, UTF-8 bytes as they are),
//    both LoadFile; inih's ini_parse with a handler that stores every value
//    in a std::map of sections of std::map of keys, what a user of it needs
//    to look values up later;
//  - lookup: 100 000 (section, key) lookups in a fixed random order on an
//    object loaded once, 98% hits, 1% absent keys of present sections and 1%
//    absent sections: ours GetString, SimpleIni GetValue, inih's maps;
//  - modify-save: 200 values (1%) set to new ones, then the whole object
//    written to a file: ours SetString + Save(name, eIniNoBom), SimpleIni
//    SetValue + SaveFile(name, false) (no mark, like ours). inih cannot write.
//
// Before timing, every value is looked up through every contender and
// compared with the value written, the lookups' answers are compared with the
// expected ones, and each contender's saved file is read back by that
// contender and compared; the binary aborts on a difference.
#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/format/OrvexIniFile.h"
#include "OrvexCommon/platform/OrvexPlatform.h"

#include <benchmark/benchmark.h>

#include "BenchMain.h"
#include "BenchScratch.h"
#include <SimpleIni.h>
#include <ini.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr int kSections = 500;
constexpr int kKeysPerSection = 40;
constexpr std::size_t kLookups = 100000;
// Out of every 100 lookups: this many absent keys, then as many absent
// sections; the rest are hits.
constexpr std::uint32_t kMissPercent = 1;
constexpr std::size_t kModified = kSections * kKeysPerSection / 100;

typedef std::map<std::string, std::map<std::string, std::string>> InihMap;

// ---- Text in the forms each contender takes ----

// Code points as UTF-8, wide text (32-bit wchar_t) and UTF-16.
std::string ToUtf8(const std::u32string& text) {
    std::string out;
    for (const char32_t point : text) {
        const auto value = static_cast<std::uint32_t>(point);
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
    return out;
}

std::wstring ToWide(const std::u32string& text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string ToUtf16(const std::u32string& text) {
    std::u16string out;
    for (const char32_t point : text) {
        const auto value = static_cast<std::uint32_t>(point);
        if (value > 0xFFFF) {
            out.push_back(static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(value));
        }
    }
    return out;
}

// The code points of well-formed UTF-8 (the texts this binary made).
std::u32string FromUtf8(const std::string& text) {
    std::u32string out;
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
        out.push_back(static_cast<char32_t>(value));
        i += length;
    }
    return out;
}

// The code points of UTF-16 text (pairs only where this binary put them).
std::u32string FromUtf16(const char16_t* text) {
    std::u32string out;
    for (const char16_t* unit = text; *unit != 0; ++unit) {
        if (*unit >= 0xD800 && *unit < 0xDC00) {
            out.push_back(
                static_cast<char32_t>(0x10000 + ((unit[0] - 0xD800) << 10) + (unit[1] - 0xDC00)));
            ++unit;
        } else {
            out.push_back(*unit);
        }
    }
    return out;
}

std::string Utf8OfWide(const wchar_t* text) {
    return ToUtf8(std::u32string(text, text + std::wcslen(text)));
}

// ---- The configuration ----

struct Entry {
    std::string key, value; // UTF-8
};

struct Section {
    std::string name;
    std::vector<Entry> entries;
};

// One lookup: the names in every contender's form and the expected value
// (null for a miss).
struct Query {
    std::wstring wideSection, wideKey;
    std::u16string utf16Section, utf16Key;
    std::string section, key;
    const std::string* value;
};

// A value that modify-save changes, and the two values it alternates between.
struct Change {
    std::size_t section, entry;
    std::string utf8[2];
    std::wstring wide[2];
    std::u16string utf16[2];
};

struct Data {
    std::string path;      // the configuration file
    std::wstring widePath; // the same for ours
    std::string savePath;  // where SimpleIni saves
    std::wstring wideSave; // where ours saves
    std::size_t bytes = 0; // the file's size
    std::vector<Section> sections;
    std::vector<Query> queries;
    std::vector<Change> changes;
    // Loaded once for the lookups.
    Orvex::IIniFile* ours = nullptr;
    CSimpleIniCaseW simpleWide;
    CSimpleIniCaseA simpleNarrow;
    InihMap inih;
};

Data& Shared() {
    static Data data;
    return data;
}

// Random text of the kinds a configuration holds. Words are mostly ASCII
// letters and digits; one character in 25 comes from a set of Latin-1, Greek,
// Cyrillic, CJK letters and one character outside the 16-bit range.
class TextMaker {
public:
    explicit TextMaker(std::uint32_t seed) : m_random(seed) {}

    int Between(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(m_random);
    }

    std::u32string Name(int low, int high) {
        static const char kFirst[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
        static const char kOther[] =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.";
        const int length = Between(low, high);
        std::u32string name(1, static_cast<char32_t>(kFirst[Between(0, 51)]));
        while (static_cast<int>(name.size()) < length) {
            name.push_back(static_cast<char32_t>(kOther[Between(0, 63)]));
        }
        return name;
    }

    std::u32string Value() {
        const int kind = Between(0, 9);
        char digits[32];
        if (kind < 3) {
            std::snprintf(digits, sizeof digits, "%d", Between(-100000, 1000000));
            return Ascii(digits);
        }
        if (kind < 5) {
            std::snprintf(digits, sizeof digits, "%.4f", Between(-5000000, 5000000) / 1000.0);
            return Ascii(digits);
        }
        // Words separated by single spaces, 4-80 characters in all.
        static const char kLetters[] =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        static const char32_t kOthers[] = {0xE9,  0xFC,   0xDF,   0xF1,   0x3A9,
                                           0x416, 0x4E2D, 0x6587, 0x65E5, 0x1F600};
        const int length = Between(4, 80);
        std::u32string text;
        while (static_cast<int>(text.size()) < length) {
            if (!text.empty() && text.back() != U' ' &&
                static_cast<int>(text.size()) < length - 1 && Between(0, 6) == 0) {
                text.push_back(U' ');
            } else if (Between(0, 24) == 0) {
                text.push_back(kOthers[Between(0, 9)]);
            } else {
                text.push_back(static_cast<char32_t>(kLetters[Between(0, 61)]));
            }
        }
        return text;
    }

    std::u32string Comment() {
        std::u32string text = U"; ";
        const int words = Between(2, 10);
        for (int i = 0; i < words; ++i) {
            text += (i == 0 ? U"" : U" ") + Name(2, 9);
        }
        return text;
    }

    std::uint32_t Next() { return static_cast<std::uint32_t>(m_random()); }

private:
    static std::u32string Ascii(const char* text) {
        return std::u32string(text, text + std::char_traits<char>::length(text));
    }

    std::mt19937 m_random;
};

// The sections and their keys (unique names), and the text written for them.
std::string MakeConfiguration(Data& data) {
    TextMaker maker(20261209);
    std::set<std::string> sectionNames;
    std::string text;
    while (static_cast<int>(data.sections.size()) < kSections) {
        Section section;
        section.name = ToUtf8(maker.Name(4, 20));
        if (!sectionNames.insert(section.name).second) {
            continue;
        }
        if (maker.Between(0, 1) == 0) {
            text += ToUtf8(maker.Comment()) + "\r\n";
        }
        text += "[" + section.name + "]\r\n";
        std::set<std::string> keys;
        while (static_cast<int>(section.entries.size()) < kKeysPerSection) {
            Entry entry;
            entry.key = ToUtf8(maker.Name(4, 24));
            if (!keys.insert(entry.key).second) {
                continue;
            }
            entry.value = ToUtf8(maker.Value());
            if (maker.Between(0, 7) == 0) {
                text += ToUtf8(maker.Comment()) + "\r\n";
            }
            text += entry.key + " = " + entry.value + "\r\n";
            section.entries.push_back(entry);
        }
        text += "\r\n";
        data.sections.push_back(section);
    }

    // The lookups, in a fixed random order.
    for (std::size_t i = 0; i < kLookups; ++i) {
        const Section& section = data.sections[maker.Next() % kSections];
        const std::uint32_t draw = maker.Next() % 100;
        std::string sectionName = section.name;
        std::string key;
        const std::string* value = nullptr;
        if (draw < kMissPercent) {
            // Names of keys never contain '-': these are not there.
            key = ToUtf8(maker.Name(4, 20)) + "-";
        } else if (draw < 2 * kMissPercent) {
            sectionName += "-";
            key = section.entries[maker.Next() % kKeysPerSection].key;
        } else {
            const Entry& entry = section.entries[maker.Next() % kKeysPerSection];
            key = entry.key;
            value = &entry.value;
        }
        const std::u32string wideSection = FromUtf8(sectionName), wideKey = FromUtf8(key);
        data.queries.push_back({ToWide(wideSection), ToWide(wideKey), ToUtf16(wideSection),
                                ToUtf16(wideKey), sectionName, key, value});
    }

    // The values modify-save changes: 1%, distinct, each with two new values.
    std::set<std::pair<std::size_t, std::size_t>> chosen;
    while (data.changes.size() < kModified) {
        const std::size_t section = maker.Next() % kSections;
        const std::size_t entry = maker.Next() % kKeysPerSection;
        if (!chosen.insert({section, entry}).second) {
            continue;
        }
        Change change{section, entry, {}, {}, {}};
        for (int k = 0; k < 2; ++k) {
            const std::u32string value = maker.Value();
            change.utf8[k] = ToUtf8(value);
            change.wide[k] = ToWide(value);
            change.utf16[k] = ToUtf16(value);
        }
        data.changes.push_back(change);
    }
    return text;
}

// ---- The contenders' loads ----

int StoreInih(void* user, const char* section, const char* name, const char* value) {
    (*static_cast<InihMap*>(user))[section][name] = value;
    return 1;
}

bool LoadInih(const std::string& path, InihMap& map) {
    return ini_parse(path.c_str(), StoreInih, &map) == 0;
}

// The file is UTF-8: SimpleIni is told so (else it converts with the
// locale's multibyte functions).
template <typename Simple> bool LoadSimple(const std::string& path, Simple& ini) {
    ini.SetUnicode(true);
    return ini.LoadFile(path.c_str()) == SI_OK;
}

// ---- Checks ----

// What the contenders found under the configuration's names, and under the
// lookups' names, must be what was written.
template <typename Read>
void CheckValues(const std::vector<Section>& sections, const char* who, Read read) {
    for (const Section& named : sections) {
        for (const Entry& entry : named.entries) {
            const std::u32string section = FromUtf8(named.name);
            const std::u32string key = FromUtf8(entry.key);
            const std::string* found = nullptr;
            std::string value;
            if (read(section, key, value)) {
                found = &value;
            }
            if (found == nullptr || *found != entry.value) {
                std::fprintf(stderr, "ini_bench: %s reads [%s] %s wrong\n", who, named.name.c_str(),
                             entry.key.c_str());
                BenchScratch::Fail("a value reads wrong");
            }
        }
    }
}

void CheckQueries(const Data& data) {
    std::size_t hits = 0;
    for (const Query& query : data.queries) {
        const wchar_t* ours =
            data.ours->GetString(query.wideSection.c_str(), query.wideKey.c_str());
        const char16_t* simpleWide =
            data.simpleWide.GetValue(query.utf16Section.c_str(), query.utf16Key.c_str());
        const char* simpleNarrow =
            data.simpleNarrow.GetValue(query.section.c_str(), query.key.c_str());
        const auto section = data.inih.find(query.section);
        const std::string* inih = nullptr;
        if (section != data.inih.end()) {
            const auto value = section->second.find(query.key);
            inih = value == section->second.end() ? nullptr : &value->second;
        }
        if (query.value == nullptr) {
            if (ours != nullptr || simpleWide != nullptr || simpleNarrow != nullptr ||
                inih != nullptr) {
                BenchScratch::Fail("an absent name is found");
            }
            continue;
        }
        ++hits;
        const std::u32string expected = FromUtf8(*query.value);
        if (ours == nullptr || std::wstring(ours) != ToWide(expected) || simpleWide == nullptr ||
            std::u16string(simpleWide) != ToUtf16(expected) || simpleNarrow == nullptr ||
            *query.value != simpleNarrow || inih == nullptr || *inih != *query.value) {
            BenchScratch::Fail("a lookup reads wrong");
        }
    }
    std::fprintf(stderr, "ini_bench: %zu lookups, %zu hits\n", data.queries.size(), hits);
}

// Every value as written, except those of the changes, which hold `round`'s.
std::vector<Section> Expected(const Data& data, int round) {
    std::vector<Section> sections = data.sections;
    for (const Change& change : data.changes) {
        sections[change.section].entries[change.entry].value = change.utf8[round];
    }
    return sections;
}

// ---- Timed bodies ----

void ParseOrvex(benchmark::State& state) {
    const Data& data = Shared();
    TimeFileManagerLoad(state, data.widePath, data.bytes,
                        [](Orvex::IOrvexFileMgr& files) { return files.CreateIniFile(); });
}

template <typename Simple> void ParseSimple(benchmark::State& state) {
    const Data& data = Shared();
    for (auto _ : state) {
        Simple ini;
        if (!LoadSimple(data.path, ini)) {
            BenchScratch::Fail("SimpleIni's LoadFile failed");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.bytes));
}

void ParseInih(benchmark::State& state) {
    const Data& data = Shared();
    for (auto _ : state) {
        InihMap map;
        if (!LoadInih(data.path, map)) {
            BenchScratch::Fail("ini_parse failed");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.bytes));
}

void LookupOrvex(benchmark::State& state) {
    const Data& data = Shared();
    for (auto _ : state) {
        for (const Query& query : data.queries) {
            const wchar_t* value =
                data.ours->GetString(query.wideSection.c_str(), query.wideKey.c_str());
            benchmark::DoNotOptimize(value);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLookups));
}

void LookupSimpleWide(benchmark::State& state) {
    Data& data = Shared();
    for (auto _ : state) {
        for (const Query& query : data.queries) {
            const char16_t* value =
                data.simpleWide.GetValue(query.utf16Section.c_str(), query.utf16Key.c_str());
            benchmark::DoNotOptimize(value);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLookups));
}

void LookupSimpleNarrow(benchmark::State& state) {
    Data& data = Shared();
    for (auto _ : state) {
        for (const Query& query : data.queries) {
            const char* value =
                data.simpleNarrow.GetValue(query.section.c_str(), query.key.c_str());
            benchmark::DoNotOptimize(value);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLookups));
}

// What a user of the maps writes: find the section, then the key.
void LookupInih(benchmark::State& state) {
    const Data& data = Shared();
    for (auto _ : state) {
        for (const Query& query : data.queries) {
            const std::string* value = nullptr;
            const auto section = data.inih.find(query.section);
            if (section != data.inih.end()) {
                const auto found = section->second.find(query.key);
                if (found != section->second.end()) {
                    value = &found->second;
                }
            }
            benchmark::DoNotOptimize(value);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLookups));
}

// Each iteration sets the changed values to the other of their two new values
// and saves, so every iteration really changes them.
void ModifySaveOrvex(benchmark::State& state) {
    const Data& data = Shared();
    Orvex::IIniFile* ini = Orvex::GetOrvexFileMgr().CreateIniFile();
    if (!ini->Load(data.widePath.c_str())) {
        BenchScratch::Fail("our Load failed");
    }
    std::vector<std::wstring> sections, keys;
    for (const Change& change : data.changes) {
        const Section& section = data.sections[change.section];
        sections.push_back(ToWide(FromUtf8(section.name)));
        keys.push_back(ToWide(FromUtf8(section.entries[change.entry].key)));
    }
    int round = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < data.changes.size(); ++i) {
            ini->SetString(sections[i].c_str(), keys[i].c_str(),
                           data.changes[i].wide[round].c_str());
        }
        if (!ini->Save(data.wideSave.c_str(), Orvex::eIniNoBom)) {
            BenchScratch::Fail("our Save failed");
        }
        round ^= 1;
    }
    ini->Release();
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

template <typename Simple, typename Text, typename Convert>
void ModifySaveSimple(benchmark::State& state, Convert convert,
                      std::basic_string<Text> const (Change::*values)[2]) {
    const Data& data = Shared();
    Simple ini;
    if (!LoadSimple(data.path, ini)) {
        BenchScratch::Fail("SimpleIni's LoadFile failed");
    }
    std::vector<std::basic_string<Text>> sections, keys;
    for (const Change& change : data.changes) {
        const Section& section = data.sections[change.section];
        sections.push_back(convert(FromUtf8(section.name)));
        keys.push_back(convert(FromUtf8(section.entries[change.entry].key)));
    }
    int round = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < data.changes.size(); ++i) {
            ini.SetValue(sections[i].c_str(), keys[i].c_str(),
                         (data.changes[i].*values)[round].c_str());
        }
        if (ini.SaveFile(data.savePath.c_str(), false) != SI_OK) {
            BenchScratch::Fail("SimpleIni's SaveFile failed");
        }
        round ^= 1;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void ModifySaveSimpleWide(benchmark::State& state) {
    ModifySaveSimple<CSimpleIniCaseW, char16_t>(state, ToUtf16, &Change::utf16);
}

void ModifySaveSimpleNarrow(benchmark::State& state) {
    ModifySaveSimple<CSimpleIniCaseA, char>(state, ToUtf8, &Change::utf8);
}

// ---- Start-up ----

// Saving once per contender and reading the file back with the same
// contender gives the changed values and every other value as loaded.
void CheckSaves(const Data& data) {
    const std::vector<Section> changed = Expected(data, 0);
    Orvex::IOrvexFileMgr& files = Orvex::GetOrvexFileMgr();
    {
        Orvex::IIniFile* ini = files.CreateIniFile();
        Orvex::IIniFile* back = files.CreateIniFile();
        if (!ini->Load(data.widePath.c_str())) {
            BenchScratch::Fail("our Load failed");
        }
        for (const Change& change : data.changes) {
            const Section& section = data.sections[change.section];
            ini->SetString(ToWide(FromUtf8(section.name)).c_str(),
                           ToWide(FromUtf8(section.entries[change.entry].key)).c_str(),
                           change.wide[0].c_str());
        }
        if (!ini->Save(data.wideSave.c_str(), Orvex::eIniNoBom) ||
            !back->Load(data.wideSave.c_str())) {
            BenchScratch::Fail("our saved file does not load");
        }
        CheckValues(
            changed, "ours, saved,",
            [back](const std::u32string& section, const std::u32string& key, std::string& value) {
                const wchar_t* found =
                    back->GetString(ToWide(section).c_str(), ToWide(key).c_str());
                if (found == nullptr) {
                    return false;
                }
                value = Utf8OfWide(found);
                return true;
            });
        ini->Release();
        back->Release();
    }
    {
        CSimpleIniCaseW ini;
        CSimpleIniCaseW back;
        if (!LoadSimple(data.path, ini)) {
            BenchScratch::Fail("SimpleIni's LoadFile failed");
        }
        for (const Change& change : data.changes) {
            const Section& section = data.sections[change.section];
            ini.SetValue(ToUtf16(FromUtf8(section.name)).c_str(),
                         ToUtf16(FromUtf8(section.entries[change.entry].key)).c_str(),
                         change.utf16[0].c_str());
        }
        if (ini.SaveFile(data.savePath.c_str(), false) != SI_OK ||
            !LoadSimple(data.savePath, back)) {
            BenchScratch::Fail("SimpleIni's saved file does not load");
        }
        CheckValues(
            changed, "SimpleIni, saved,",
            [&back](const std::u32string& section, const std::u32string& key, std::string& value) {
                const char16_t* found =
                    back.GetValue(ToUtf16(section).c_str(), ToUtf16(key).c_str());
                if (found == nullptr) {
                    return false;
                }
                value = ToUtf8(FromUtf16(found));
                return true;
            });
    }
    {
        CSimpleIniCaseA ini;
        CSimpleIniCaseA back;
        if (!LoadSimple(data.path, ini)) {
            BenchScratch::Fail("SimpleIni's LoadFile failed");
        }
        for (const Change& change : data.changes) {
            const Section& section = data.sections[change.section];
            ini.SetValue(section.name.c_str(), section.entries[change.entry].key.c_str(),
                         change.utf8[0].c_str());
        }
        if (ini.SaveFile(data.savePath.c_str(), false) != SI_OK ||
            !LoadSimple(data.savePath, back)) {
            BenchScratch::Fail("SimpleIni's saved file does not load");
        }
        CheckValues(
            changed, "SimpleIni-A, saved,",
            [&back](const std::u32string& section, const std::u32string& key, std::string& value) {
                const char* found = back.GetValue(ToUtf8(section).c_str(), ToUtf8(key).c_str());
                if (found == nullptr) {
                    return false;
                }
                value = found;
                return true;
            });
    }
}

void Prepare(const BenchScratch& scratch) {
    Data& data = Shared();
    data.path = scratch.File("config.ini").string();
    data.widePath = scratch.File("config.ini").wstring();
    data.savePath = scratch.File("saved.ini").string();
    data.wideSave = scratch.File("saved.ini").wstring();

    const std::string text = MakeConfiguration(data);
    scratch.Write(data.path, text);
    data.bytes = text.size();
    std::fprintf(stderr, "ini_bench: %zu bytes, %d sections of %d keys\n", data.bytes, kSections,
                 kKeysPerSection);

    data.ours = Orvex::GetOrvexFileMgr().CreateIniFile();
    if (data.ours == nullptr || !data.ours->Load(data.widePath.c_str()) ||
        !LoadSimple(data.path, data.simpleWide) || !LoadSimple(data.path, data.simpleNarrow) ||
        !LoadInih(data.path, data.inih)) {
        BenchScratch::Fail("a contender cannot load the configuration file");
    }
    if (data.inih.size() != kSections) {
        BenchScratch::Fail("inih holds a wrong number of sections");
    }
    for (const Section& section : data.sections) {
        if (data.inih[section.name].size() != kKeysPerSection ||
            data.simpleWide.GetSectionSize(ToUtf16(FromUtf8(section.name)).c_str()) !=
                kKeysPerSection ||
            data.simpleNarrow.GetSectionSize(section.name.c_str()) != kKeysPerSection) {
            BenchScratch::Fail("a contender holds a wrong number of keys");
        }
    }
    CheckValues(
        data.sections, "ours",
        [&data](const std::u32string& section, const std::u32string& key, std::string& value) {
            const wchar_t* found =
                data.ours->GetString(ToWide(section).c_str(), ToWide(key).c_str());
            if (found == nullptr) {
                return false;
            }
            value = Utf8OfWide(found);
            return true;
        });
    CheckValues(
        data.sections, "SimpleIni",
        [&data](const std::u32string& section, const std::u32string& key, std::string& value) {
            const char16_t* found =
                data.simpleWide.GetValue(ToUtf16(section).c_str(), ToUtf16(key).c_str());
            if (found == nullptr) {
                return false;
            }
            value = ToUtf8(FromUtf16(found));
            return true;
        });
    CheckValues(
        data.sections, "SimpleIni-A",
        [&data](const std::u32string& section, const std::u32string& key, std::string& value) {
            const char* found =
                data.simpleNarrow.GetValue(ToUtf8(section).c_str(), ToUtf8(key).c_str());
            if (found == nullptr) {
                return false;
            }
            value = found;
            return true;
        });
    CheckValues(
        data.sections, "inih",
        [&data](const std::u32string& section, const std::u32string& key, std::string& value) {
            const auto keys = data.inih.find(ToUtf8(section));
            if (keys == data.inih.end() || keys->second.count(ToUtf8(key)) == 0) {
                return false;
            }
            value = keys->second.at(ToUtf8(key));
            return true;
        });
    CheckQueries(data);
    CheckSaves(data);
}

void CleanUp() {
    Data& data = Shared();
    data.ours->Release();
    data.ours = nullptr;
}

void RegisterAll() {
    benchmark::RegisterBenchmark("OrvexIni/parse/Orvex", ParseOrvex)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OrvexIni/parse/SimpleIni", ParseSimple<CSimpleIniCaseW>)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OrvexIni/parse/SimpleIni-A", ParseSimple<CSimpleIniCaseA>)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OrvexIni/parse/inih", ParseInih)->Unit(benchmark::kMillisecond);

    benchmark::RegisterBenchmark("OrvexIniLookup/lookup/Orvex", LookupOrvex)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OrvexIniLookup/lookup/SimpleIni", LookupSimpleWide)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OrvexIniLookup/lookup/SimpleIni-A", LookupSimpleNarrow)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OrvexIniLookup/lookup/inih", LookupInih)
        ->Unit(benchmark::kMillisecond);

    benchmark::RegisterBenchmark("OrvexIniSave/modify-save/Orvex", ModifySaveOrvex)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OrvexIniSave/modify-save/SimpleIni", ModifySaveSimpleWide)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OrvexIniSave/modify-save/SimpleIni-A", ModifySaveSimpleNarrow)
        ->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv) {
    const BenchScratch scratch("ini_bench");
    Prepare(scratch);
    RegisterAll();
    const int result = RunRegisteredBenchmarks(argc, argv);
    CleanUp();
    return result;
}
