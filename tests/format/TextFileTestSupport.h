// Objects and file bytes for the configuration and table file tests: owners
// that give the objects back, and wide text written as UTF-8 or UTF-16 bytes
// by encoders of the tests' own.
#ifndef ORVEX_TESTS_FORMAT_TEXTFILETESTSUPPORT_H
#define ORVEX_TESTS_FORMAT_TEXTFILETESTSUPPORT_H

#include "../file/PackageTestSupport.h"
#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/format/OrvexFormat.h"

#include <memory>
#include <string>

namespace OrvexTest {

using OrvexTest::Bytes;

struct ReleaseObject {
    template <typename T> void operator()(T* object) const { object->Release(); }
};
typedef std::unique_ptr<Orvex::IIniFile, ReleaseObject> IniObject;
typedef std::unique_ptr<Orvex::ITabFile, ReleaseObject> TabObject;

inline IniObject NewIni() {
    return IniObject(Orvex::GetOrvexFileMgr().CreateIniFile());
}
inline TabObject NewTab() {
    return TabObject(Orvex::GetOrvexFileMgr().CreateTabFile());
}

inline Bytes BytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// UTF-8 of wide text (code points up to 0x10FFFF), with the mark when asked.
inline Bytes Utf8Of(const std::wstring& text, bool mark = false) {
    Bytes bytes;
    if (mark) {
        bytes = {0xEF, 0xBB, 0xBF};
    }
    for (const wchar_t unit : text) {
        const unsigned value = static_cast<unsigned>(unit);
        if (value < 0x80) {
            bytes.push_back(static_cast<unsigned char>(value));
        } else if (value < 0x800) {
            bytes.push_back(static_cast<unsigned char>(0xC0 | (value >> 6)));
            bytes.push_back(static_cast<unsigned char>(0x80 | (value & 0x3F)));
        } else if (value < 0x10000) {
            bytes.push_back(static_cast<unsigned char>(0xE0 | (value >> 12)));
            bytes.push_back(static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F)));
            bytes.push_back(static_cast<unsigned char>(0x80 | (value & 0x3F)));
        } else {
            bytes.push_back(static_cast<unsigned char>(0xF0 | (value >> 18)));
            bytes.push_back(static_cast<unsigned char>(0x80 | ((value >> 12) & 0x3F)));
            bytes.push_back(static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F)));
            bytes.push_back(static_cast<unsigned char>(0x80 | (value & 0x3F)));
        }
    }
    return bytes;
}

// The mark FF FE and two bytes per unit, low byte first (units up to 0xFFFF).
inline Bytes Utf16Of(const std::wstring& text) {
    Bytes bytes = {0xFF, 0xFE};
    for (const wchar_t unit : text) {
        bytes.push_back(static_cast<unsigned char>(static_cast<unsigned>(unit) & 0xFF));
        bytes.push_back(static_cast<unsigned char>((static_cast<unsigned>(unit) >> 8) & 0xFF));
    }
    return bytes;
}

// Scratch files named uniquely for each call, removed when the owner ends.
class ScratchFiles {
public:
    std::wstring Write(const char* tag, const wchar_t* extension, const Bytes& bytes) {
        const std::wstring path = m_paths.Add(OrvexTest::UniqueName(tag) + extension);
        OrvexTest::WriteRawFile(path, bytes);
        return path;
    }
    std::wstring Name(const char* tag, const wchar_t* extension) {
        return m_paths.Add(OrvexTest::UniqueName(tag) + extension);
    }

private:
    OrvexTest::ScratchPaths m_paths;
};

} // namespace OrvexTest

#endif // ORVEX_TESTS_FORMAT_TEXTFILETESTSUPPORT_H
