// Configuration files from arbitrary bytes. The whole input is the file: it is
// loaded from an exactly-sized buffer (the content plus the two zero bytes
// LoadBytes asks for, so ASan sees any read beyond them), and the verdict, the
// encoding and the sections must be those of the parser run on the text as
// decoded here by the documented rules. Whatever the parser gave is then
// written in every encoding: UTF-16 and UTF-8 are loaded again and must read
// back the same, and the other encodings must write those UTF-8 bytes (after
// the mark where they ask for one).
// The getters are compared with the content, names from the input included,
// and SetString, SetInt, Clear and Close must change exactly what they say.
// The same bytes, two a unit, also go to the parser directly as wide text.
// Nothing may be logged, and every pooled byte must be back at the end.
//
// Why the written text reads back the same: the parser only ever stores
//   - section names that start with no blank, hold no ']' and no line end,
//     and end in no blank, so "[name]" gives the name back;
//   - keys that hold no '=' and no line end, end in no blank, and start with
//     no blank, ';', '/' or '[' (those start other tokens), so a "key = "
//     line starts a key line and gives the key back (the empty key too: its
//     line starts with the blank, which is skipped);
//   - values that hold no line end and start and end in no blank, so all of
//     " value" after the '=' gives the value back.
// No name or value holds a zero unit, and every written text starts with the
// mark or with '[', so the encoding is found again too. What writing does
// change is how the units themselves are carried: UTF-8 has no form for a
// unit above 0x10FFFF (the 5- and 6-byte forms the decoder accepts make such
// units) and writes U+FFFD for it; UTF-16 writes a unit from 0x10000 up as a
// surrogate pair, which reads back as its two halves, and has nothing for a
// unit above 0x10FFFF. The content expected back is the content with those
// changes (names that become equal merged, the later written winning); a
// content holding a unit above 0x10FFFF is not written as UTF-16 at all.
#include "FuzzInput.h"
#include "FuzzTextFile.h"
#include "OrvexCommon/format/detail/IniFile.h"
#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/text/OrvexText.h"
#include "OrvexCommon/text/detail/Utf8Sequence.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using Orvex::EIniEncoding;
using Orvex::eIniKeep;
using Orvex::eIniNoBom;
using Orvex::eIniUtf16;
using Orvex::eIniUtf8Bom;
using Orvex::detail::CIniFile;
using Orvex::detail::IniSections;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_inifile: %s\n", what);
        std::abort();
    }
}

// Lines the log stream delivered; configuration files never log.
unsigned g_loggedLines = 0;

void CountLogLine(const char*, unsigned) {
    ++g_loggedLines;
}

typedef std::map<std::wstring, std::map<std::wstring, std::wstring>> Content;

std::wstring Plain(std::wstring_view text) {
    return std::wstring(text);
}

Content ContentOf(const IniSections& sections) {
    Content content;
    for (const auto& section : sections) {
        auto& keys = content[Plain(section.first)];
        for (const auto& entry : section.second) {
            keys[Plain(entry.first)] = Plain(entry.second);
        }
    }
    return content;
}

std::uint32_t UnitValue(wchar_t unit) {
    return static_cast<Orvex::detail::WideUnit>(unit);
}

// A name or value as UTF-8 carries it back.
std::wstring ThroughUtf8(const std::wstring& text) {
    std::wstring out;
    for (const wchar_t unit : text) {
        out.push_back(UnitValue(unit) > 0x10FFFF ? static_cast<wchar_t>(0xFFFD) : unit);
    }
    return out;
}

// A name or value as UTF-16 carries it back: a unit above 0xFFFF as its
// surrogate pair, one beyond Unicode as U+FFFD.
std::wstring ThroughUtf16(const std::wstring& text) {
    std::wstring out;
    for (const wchar_t unit : text) {
        const std::uint32_t value = UnitValue(unit);
        if (value > 0x10FFFF) {
            out.push_back(static_cast<wchar_t>(0xFFFD));
        } else if (value > 0xFFFF) {
            out.push_back(static_cast<wchar_t>(0xD800 + ((value - 0x10000) >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + ((value - 0x10000) & 0x3FF)));
        } else {
            out.push_back(unit);
        }
    }
    return out;
}

// The content the written `sections` reads back as, names and values passed
// through `carry` and stored in the order they are written, as the parser
// stores them (names that `carry` makes equal merge).
Content ReadBackAs(const IniSections& sections, std::wstring (*carry)(const std::wstring&)) {
    Content content;
    for (const auto& item : sections) {
        auto& keys = content[carry(Plain(item.first))];
        for (const auto& entry : item.second) {
            keys[carry(Plain(entry.first))] = carry(Plain(entry.second));
        }
    }
    return content;
}

// Writes `sections` in `encoding` (UTF-16 or UTF-8 without a mark), loads the
// bytes into a fresh object and gives the bytes back.
Orvex::OrvexString CheckReadBack(const IniSections& sections, EIniEncoding encoding) {
    const Content expected =
        ReadBackAs(sections, encoding == eIniUtf16 ? ThroughUtf16 : ThroughUtf8);
    Orvex::OrvexString bytes;
    Orvex::detail::FormatIniText(sections, encoding, bytes);
    const char* mark = encoding == eIniUtf16 ? "\xFF\xFE" : "";
    Check(bytes.compare(0, std::strlen(mark), mark) == 0, "the text does not start with its mark");
    Check(sections.empty() == (bytes.size() == std::strlen(mark)),
          "the text is empty but for its mark when, and only when, there are no sections");

    const auto copy = PaddedCopy(bytes.data(), bytes.size());
    CIniFile* reread = CIniFile::Create();
    Check(reread != nullptr, "no memory for an object");
    Check(reread->LoadBytes(copy.get(), static_cast<std::uint32_t>(bytes.size())),
          "a written text does not load");
    Check(reread->GetEncoding() == encoding, "a written text loads in another encoding");
    Check(ContentOf(reread->GetSections()) == expected, "a written text reads back otherwise");
    reread->Release();
    return bytes;
}

void CheckReadBackInEveryEncoding(const IniSections& sections) {
    CheckReadBack(sections, eIniUtf16);
    const Orvex::OrvexString plain = CheckReadBack(sections, eIniNoBom);
    // The other encodings write UTF-8 too, with or without its mark: the same
    // bytes after the mark, so they need no load of their own (inputs that
    // start with the mark load that way anyway).
    for (const EIniEncoding encoding : {eIniUtf8Bom, eIniKeep, static_cast<EIniEncoding>(9)}) {
        Orvex::OrvexString bytes;
        Orvex::detail::FormatIniText(sections, encoding, bytes);
        const Orvex::OrvexString mark = encoding == eIniUtf8Bom ? "\xEF\xBB\xBF" : "";
        Check(bytes == mark + plain, "a UTF-8 encoding writes other bytes than plain UTF-8");
    }
}

// The text LoadBytes must parse, and the encoding it must find.
std::vector<wchar_t> DecodedText(const unsigned char* bytes, std::uint32_t size,
                                 EIniEncoding& encoding) {
    std::vector<wchar_t> text;
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        encoding = eIniUtf8Bom;
        DecodeUtf8(bytes + 3, text);
    } else if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        encoding = eIniUtf16;
        for (std::uint32_t k = 2; k + 1 < size; k += 2) {
            text.push_back(static_cast<wchar_t>(bytes[k] | bytes[k + 1] << 8));
        }
    } else {
        encoding = eIniNoBom;
        if (!DecodeUtf8(bytes, text)) {
            // Not UTF-8: the system's ANSI code page, whatever that is here.
            text.assign(size + 1, 0);
            text.resize(Orvex::sys::AnsiToWide(reinterpret_cast<const char*>(bytes), size,
                                               text.data(), size));
        }
    }
    text.push_back(0);
    return text;
}

// A name of up to 8 input bytes from `at`, one unit each, cut at a zero byte.
std::wstring NameFrom(const std::uint8_t* data, std::size_t size, std::size_t at) {
    std::wstring name;
    for (std::size_t k = at; k < size && k < at + 8 && data[k] != 0; ++k) {
        name.push_back(static_cast<wchar_t>(data[k]));
    }
    return name;
}

// Every getter on one section and key, against the content.
void CheckLookup(CIniFile& ini, const Content& content, const std::wstring& section,
                 const std::wstring& key) {
    const std::wstring* value = nullptr;
    const auto keys = content.find(section);
    if (keys != content.end()) {
        const auto entry = keys->second.find(key);
        if (entry != keys->second.end()) {
            value = &entry->second;
        }
    }
    const wchar_t* got = ini.GetString(section.c_str(), key.c_str());
    Check((got == nullptr) == (value == nullptr), "GetString finds what is not there or misses");
    if (value == nullptr) {
        Check(ini.GetInt(section.c_str(), key.c_str(), -77) == -77, "GetInt misses its default");
        Check(ini.GetFloat(section.c_str(), key.c_str(), 2.5f) == 2.5f,
              "GetFloat misses its default");
        Check(ini.GetChar(section.c_str(), key.c_str(), L'#') == L'#',
              "GetChar misses its default");
        return;
    }
    Check(*value == got, "GetString gives another value");
    Check(ini.GetInt(section.c_str(), key.c_str(), -77) == Orvex::OrvexA2I(value->c_str()),
          "GetInt does not read the value");
    Check(SameFloat(ini.GetFloat(section.c_str(), key.c_str(), 2.5f),
                    static_cast<float>(Orvex::OrvexA2F(value->c_str()))),
          "GetFloat does not read the value");
    Check(ini.GetChar(section.c_str(), key.c_str(), L'#') == value->c_str()[0],
          "GetChar does not give the first unit");
}

void CheckGetters(CIniFile& ini, const Content& content, const std::uint8_t* data,
                  std::size_t size) {
    // Values and sections up to a bound on the work: every lookup takes the
    // same path, and a long file would otherwise spend most of an input here.
    unsigned budget = 16;
    for (const auto& section : content) {
        for (const auto& entry : section.second) {
            if (budget == 0) {
                break;
            }
            --budget;
            CheckLookup(ini, content, section.first, entry.first);
        }
        if (budget == 0) {
            break;
        }
        --budget;
        CheckLookup(ini, content, section.first, L"");
    }
    // Names out of the input's leading bytes, alone and with names found.
    const std::wstring first = NameFrom(data, size, 0);
    const std::wstring second = NameFrom(data, size, 8);
    CheckLookup(ini, content, first, second);
    CheckLookup(ini, content, second, first);
    if (!content.empty()) {
        CheckLookup(ini, content, content.begin()->first, first);
        CheckLookup(ini, content, content.rbegin()->first, second);
    }
    // Null names find nothing.
    Check(ini.GetString(nullptr, first.c_str()) == nullptr, "GetString with a null section");
    Check(ini.GetString(first.c_str(), nullptr) == nullptr, "GetString with a null key");
    Check(ini.GetInt(nullptr, nullptr, 5) == 5, "GetInt with null names");
    Check(ini.GetFloat(nullptr, nullptr, 0.5f) == 0.5f, "GetFloat with null names");
    Check(ini.GetChar(nullptr, nullptr, L'x') == L'x', "GetChar with null names");
}

void CheckSetters(CIniFile& ini, Content& content, const std::uint8_t* data, std::size_t size) {
    const std::wstring section = NameFrom(data, size, 0);
    const std::wstring key = NameFrom(data, size, 8);
    const std::wstring value = NameFrom(data, size, 16) + NameFrom(data, size, 24);
    ini.SetString(section.c_str(), key.c_str(), value.c_str());
    content[section][key] = value;
    CheckLookup(ini, content, section, key);

    int number = 0;
    for (std::size_t k = 0; k < 4 && k < size; ++k) {
        number = static_cast<int>(static_cast<unsigned>(number) << 8 | data[k]);
    }
    const std::wstring numberKey = key + L"#";
    ini.SetInt(section.c_str(), numberKey.c_str(), number);
    content[section][numberKey] = std::to_wstring(number);
    CheckLookup(ini, content, section, numberKey);
    Check(ini.GetInt(section.c_str(), numberKey.c_str(), 0) == number,
          "GetInt does not read back SetInt");
    // The first section gets a key too.
    const std::wstring other = content.begin()->first;
    ini.SetInt(other.c_str(), key.c_str(), ~number);
    content[other][key] = std::to_wstring(~number);
    // Null arguments are ignored.
    ini.SetString(nullptr, key.c_str(), value.c_str());
    ini.SetString(section.c_str(), nullptr, value.c_str());
    ini.SetString(section.c_str(), key.c_str(), nullptr);
    ini.SetInt(nullptr, key.c_str(), 1);
    ini.SetInt(section.c_str(), nullptr, 1);
    Check(ContentOf(ini.GetSections()) == content, "a setter changed what it should not");
}

void LoadFile(const std::uint8_t* data, std::size_t size) {
    const auto bytes = PaddedCopy(data, size);
    const auto length = static_cast<std::uint32_t>(size);
    EIniEncoding encoding = eIniUtf16;
    const std::vector<wchar_t> text = DecodedText(bytes.get(), length, encoding);
    IniSections parsed;
    const bool parses = Orvex::detail::ParseIniText(text.data(), parsed);

    CIniFile* ini = CIniFile::Create();
    Check(ini != nullptr, "no memory for an object");
    const bool loaded = ini->LoadBytes(bytes.get(), length);
    Check(loaded == parses, "LoadBytes disagrees with the parser on the decoded text");
    Check(ini->GetEncoding() == encoding, "LoadBytes found another encoding");
    Content content = ContentOf(ini->GetSections());
    Check(content == (loaded ? ContentOf(parsed) : Content()),
          "LoadBytes holds other sections than the parser gave");
    if (loaded) {
        CheckReadBackInEveryEncoding(ini->GetSections());
    }

    CheckGetters(*ini, content, data, size);
    CheckSetters(*ini, content, data, size);
    ini->Clear();
    Check(ini->GetSections().empty() && ini->GetEncoding() == encoding,
          "Clear left sections or changed the encoding");
    Check(ini->GetString(content.begin()->first.c_str(), L"") == nullptr,
          "a value is found after Clear");
    ini->SetString(L"s", L"k", L"v");
    Check(ini->GetString(L"s", L"k") != nullptr, "SetString after Clear");
    ini->Close();
    Check(ini->GetSections().empty() && ini->GetEncoding() == encoding,
          "Close left sections or changed the encoding");
    ini->Release();
}

// The input's bytes as wide text, straight to the parser.
void ParseWide(const std::uint8_t* data, std::size_t size) {
    const std::vector<wchar_t> wide = FuzzInput(data, size).RestAsWide();
    IniSections parsed;
    const bool parses = Orvex::detail::ParseIniText(wide.data(), parsed);
    // What was parsed before a failure is content like any other.
    CheckReadBackInEveryEncoding(parsed);
    if (parses) {
        // The same text again only stores the same values again.
        const Content once = ContentOf(parsed);
        Check(Orvex::detail::ParseIniText(wide.data(), parsed), "a text parses only once");
        Check(ContentOf(parsed) == once, "a text parsed twice adds content");
    }
    // As a UTF-16 file (when every unit has 16 bits) LoadBytes gives the same.
    std::string file("\xFF\xFE");
    for (std::size_t k = 0; k + 1 < wide.size(); ++k) {
        const std::uint32_t unit = UnitValue(wide[k]);
        if (unit > 0xFFFF) {
            return;
        }
        file.push_back(static_cast<char>(unit & 0xFF));
        file.push_back(static_cast<char>(unit >> 8));
    }
    const auto bytes = PaddedCopy(file.data(), file.size());
    CIniFile* ini = CIniFile::Create();
    Check(ini != nullptr, "no memory for an object");
    Check(ini->LoadBytes(bytes.get(), static_cast<std::uint32_t>(file.size())) == parses,
          "a UTF-16 file and its wide text parse differently");
    Check(ini->GetEncoding() == eIniUtf16, "a UTF-16 file is not found to be one");
    Check(ContentOf(ini->GetSections()) == (parses ? ContentOf(parsed) : Content()),
          "a UTF-16 file and its wide text give different content");
    ini->Release();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Orvex::SetGlobLogFun(CountLogLine);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const long long allocated = GetTotalAllocSize();
    LoadFile(data, size);
    ParseWide(data, size);
    Check(g_loggedLines == 0, "a configuration file logged");
    Check(GetTotalAllocSize() == allocated, "configuration files leaked pooled memory");
    return 0;
}
