// The configuration file object, its parser and its writer. The parser walks
// the decoded wide text once and copies each name and value into two levels
// of maps ordered unit by unit, found by a view of the caller's text (no
// string built for a lookup). The maps' nodes and the longer texts of one
// object come from its NodeArena.
#ifndef ORVEX_FORMAT_DETAIL_INIFILE_H
#define ORVEX_FORMAT_DETAIL_INIFILE_H

#include "OrvexCommon/format/OrvexIniFile.h"
#include "OrvexCommon/format/detail/IniString.h"
#include "OrvexCommon/format/detail/NodeArena.h"
#include "OrvexCommon/format/detail/TextFile.h"

#include <map>
#include <utility>

namespace Orvex {
namespace detail {

typedef std::map<IniString, IniString, UnitLess,
                 TArenaAllocator<std::pair<const IniString, IniString>>>
    IniKeys;
typedef std::map<IniString, IniKeys, UnitLess, TArenaAllocator<std::pair<const IniString, IniKeys>>>
    IniSections;

// Parses a zero-terminated text into `sections`, adding to what is there.
// False at the first error; what was parsed before it stays.
bool ParseIniText(const wchar_t* text, IniSections& sections);

// The section of that name, added when missing.
IniKeys& FindOrAddSection(IniSections& sections, std::wstring_view name);
// Stores the value under the key, adding the key when missing.
void StoreValue(IniKeys& keys, std::wstring_view key, std::wstring_view value);

// The bytes Save writes for `sections` in `encoding`: the mark, then each
// "[section]\r\n" and "key = value\r\n" in order.
void FormatIniText(const IniSections& sections, EIniEncoding encoding, OrvexString& out);

class CIniFile final : public IIniFile {
public:
    // Memory from the pool; null when the pool has none.
    static CIniFile* Create() { return NewPooledObject<CIniFile>(); }

    bool Load(const wchar_t* fileName) override;
    bool Save(const wchar_t* fileName, EIniEncoding encoding) override;
    void Clear() override;
    void Close() override;
    void Release() override;
    const wchar_t* GetString(const wchar_t* section, const wchar_t* key) override;
    int GetInt(const wchar_t* section, const wchar_t* key, int defaultValue) override;
    float GetFloat(const wchar_t* section, const wchar_t* key, float defaultValue) override;
    wchar_t GetChar(const wchar_t* section, const wchar_t* key, wchar_t defaultValue) override;
    void SetString(const wchar_t* section, const wchar_t* key, const wchar_t* value) override;
    void SetInt(const wchar_t* section, const wchar_t* key, int value) override;

    // Decodes and parses a file's bytes, as Load does once it has read them:
    // `size` bytes followed by at least two zero bytes. Stores the encoding
    // found; on a parse failure closes the object.
    bool LoadBytes(const unsigned char* bytes, std::uint32_t size);
    EIniEncoding GetEncoding() const { return m_encoding; }
    const IniSections& GetSections() const { return m_sections; }

private:
    friend CIniFile* NewPooledObject<CIniFile>();
    friend void DeletePooledObject<CIniFile>(CIniFile*);
    CIniFile() = default;
    ~CIniFile() = default;

    // The file's text as one zero-terminated wide text, and its encoding.
    EIniEncoding Decode(const unsigned char* bytes, std::uint32_t size, WideText& text);

    OrvexWString m_fileName;
    EIniEncoding m_encoding = eIniUtf16;
    // The maps' nodes; declared first, so it outlives them.
    NodeArena m_nodes;
    IniSections m_sections{IniSections::allocator_type(&m_nodes)};
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FORMAT_DETAIL_INIFILE_H
