// The configuration file object: loading, lookups and changes.
#include "OrvexCommon/format/detail/IniFile.h"
#include "OrvexCommon/filesystem/detail/FileReplace.h"
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/text/OrvexText.h"

#include <cstdio>
#include <cwchar>
#include <new>

namespace Orvex {
namespace detail {

namespace {

// Zero bytes after a file's content: a UTF-16 text then always ends in a
// whole zero unit, and the marks can be tested without a size check.
constexpr std::uint32_t kIniPadding = 2;

} // namespace

void CIniFile::Release() {
    DeletePooledObject(this);
}

void CIniFile::Clear() {
    m_sections.clear();
    m_nodes.Reset();
}

void CIniFile::Close() {
    m_fileName.clear();
    Clear();
}

bool CIniFile::Load(const wchar_t* fileName) {
    if (fileName == nullptr || *fileName == 0) {
        return false;
    }
    if (m_fileName == fileName) {
        return true;
    }
    try {
        Close();
        m_fileName = fileName;
        FileBytes file;
        if (!file.ReadWholeFile(fileName, kIniPadding)) {
            return false;
        }
        return LoadBytes(file.bytes(), file.size());
    } catch (const std::bad_alloc&) {
        // Too large to hold: left empty, as after a failed read.
        Clear();
        return false;
    }
}

bool CIniFile::LoadBytes(const unsigned char* bytes, std::uint32_t size) {
    WideText text;
    m_encoding = Decode(bytes, size, text);
    if (text.empty() || !ParseIniText(text.data(), m_sections)) {
        Close();
        return false;
    }
    return true;
}

EIniEncoding CIniFile::Decode(const unsigned char* bytes, std::uint32_t size, WideText& text) {
    switch (FindTextMark(bytes, size)) {
    case ETextMark::Utf8:
        DecodeUtf8(bytes + kUtf8MarkBytes, size + 1, text);
        return eIniUtf8Bom;
    case ETextMark::Utf16:
        // The units after the mark; an odd last byte is dropped.
        AppendUtf16(bytes + kUtf16MarkBytes, size / 2 - 1, text);
        text.push_back(0);
        return eIniUtf16;
    case ETextMark::None:
        break;
    }
    if (IsUtf8(reinterpret_cast<const char*>(bytes))) {
        DecodeUtf8(bytes, size + 1, text);
    } else {
        text.resize(size + 1);
        text.resize(sys::AnsiToWide(reinterpret_cast<const char*>(bytes), size, text.data(), size));
        text.push_back(0);
    }
    return eIniNoBom;
}

namespace {

bool WriteBytes(std::FILE* stream, const void* content) {
    const OrvexString& bytes = *static_cast<const OrvexString*>(content);
    return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

} // namespace

bool CIniFile::Save(const wchar_t* fileName, EIniEncoding encoding) {
    const wchar_t* target = fileName != nullptr && *fileName != 0 ? fileName : m_fileName.c_str();
    if (*target == 0) {
        return false;
    }
    if (encoding == eIniKeep) {
        encoding = m_encoding;
    }
    m_encoding = encoding;
    OrvexString bytes;
    try {
        FormatIniText(m_sections, encoding, bytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return SaveByReplacing(target, WriteBytes, &bytes);
}

const wchar_t* CIniFile::GetString(const wchar_t* section, const wchar_t* key) {
    if (section == nullptr || key == nullptr) {
        return nullptr;
    }
    const IniString* value = m_sections.Find(section, key);
    return value == nullptr ? nullptr : value->c_str();
}

int CIniFile::GetInt(const wchar_t* section, const wchar_t* key, int defaultValue) {
    const wchar_t* value = GetString(section, key);
    return value == nullptr ? defaultValue : OrvexA2I(value);
}

float CIniFile::GetFloat(const wchar_t* section, const wchar_t* key, float defaultValue) {
    const wchar_t* value = GetString(section, key);
    return value == nullptr ? defaultValue : static_cast<float>(OrvexA2F(value));
}

wchar_t CIniFile::GetChar(const wchar_t* section, const wchar_t* key, wchar_t defaultValue) {
    const wchar_t* value = GetString(section, key);
    return value == nullptr ? defaultValue : value[0];
}

void CIniFile::SetString(const wchar_t* section, const wchar_t* key, const wchar_t* value) {
    if (section == nullptr || key == nullptr || value == nullptr) {
        return;
    }
    m_sections.Store(m_sections.FindOrAdd(section), key, value);
}

void CIniFile::SetInt(const wchar_t* section, const wchar_t* key, int value) {
    char digits[32];
    std::snprintf(digits, sizeof(digits), "%d", value);
    wchar_t wide[32];
    Utf8ToUcs(digits, wide, 32);
    SetString(section, key, wide);
}

} // namespace detail
} // namespace Orvex
