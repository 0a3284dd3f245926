// Loose files as a source of the file manager.
#include "OrvexCommon/file/detail/DirectorySource.h"
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/ReloadWatch.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstring>

namespace Orvex {
namespace detail {

bool CDirectorySource::Has(const wchar_t* fileName) const {
    return sys::IsReadableRegularFile(fileName);
}

bool CDirectorySource::Open(const wchar_t* fileName, bool, SSourceFile& file) const {
    file.path = m_aliases.Resolve(fileName);
    if (!OpenReader(file.reader, file.path.c_str())) {
        file.path = fileName;
        if (!OpenReader(file.reader, file.path.c_str())) {
            file.path.clear();
            return false;
        }
    }
    file.source = this;
    file.base = 0;
    file.size = file.reader.size;
    file.borrowed = false;
    ReloadWatch().NoteLooseFile(fileName, file.path);
    return true;
}

bool CDirectorySource::ReadLeading(SSourceFile& file, std::int32_t fileType, bool restNow,
                                   SLeadingPart& lead) const {
    return ReadPlainLeading(file, fileType, restNow, lead);
}

bool CDirectorySource::ReadRange(SSourceFile& file, std::uint32_t from, std::uint32_t n,
                                 unsigned char* out) const {
    const bool openedHere = file.reader.handle == nullptr;
    if (openedHere && !OpenReader(file.reader, file.path.c_str())) {
        if (n > 0) {
            std::memset(out, 0, n);
        }
        return false;
    }
    (void)ReadAt(file.reader, from, out, n);
    if (openedHere) {
        CloseReader(file.reader);
        file.reader = SFileReader();
    }
    return true;
}

void CDirectorySource::Duplicate(const SSourceFile& file, SSourceFile& copy) const {
    copy.path = file.path;
    copy.source = this;
    copy.base = 0;
    copy.size = file.size;
    copy.reader = SFileReader();
    copy.borrowed = false;
    copy.entry = nullptr;
}

} // namespace detail
} // namespace Orvex
