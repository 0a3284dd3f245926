// Loose files as a source of the file manager.
#include "OrvexCommon/file/detail/DirectorySource.h"
#include "OrvexCommon/file/detail/FileHeadReader.h"
#include "OrvexCommon/file/detail/FileReader.h"
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
    return true;
}

bool CDirectorySource::ReadLeading(SSourceFile& file, std::int32_t fileType, bool restNow,
                                   SLeadingPart& lead) const {
    if (restNow) {
        return ReadWholeFile(file, fileType, lead);
    }
    if (fileType == -1) {
        return true; // no head: the whole file is the rest
    }
    return ReadHeadAndExtra(file, lead);
}

bool CDirectorySource::ReadWholeFile(SSourceFile& file, std::int32_t fileType,
                                     SLeadingPart& lead) const {
    const std::uint32_t size = file.size;
    if (!FitsPooledBuffer(size) || !lead.storage.Allocate(size)) {
        return false;
    }
    (void)ReadRange(file, 0, size, lead.storage.get());
    lead.buffer = {lead.storage.get(), 0, size, 0};
    lead.holdsRest = true;
    lead.resultWhenHeld = static_cast<std::int32_t>(size);
    if (fileType == -1) {
        return true;
    }
    if (!ReadFileHead(lead.buffer, lead.head)) {
        return false;
    }
    const std::uint64_t extraEnd =
        static_cast<std::uint64_t>(lead.buffer.pos) + lead.head.GetExtraDataSize();
    if (extraEnd > size) {
        return false; // extra data past the end of the file
    }
    lead.hasHead = true;
    // The body starts after the extra data, whatever OnLoadHead read.
    lead.restStart = static_cast<std::uint32_t>(extraEnd);
    lead.bodyAtRestStart = true;
    lead.resultWhenHeld = static_cast<std::int32_t>(size - lead.restStart);
    return true;
}

bool CDirectorySource::ReadHeadAndExtra(SSourceFile& file, SLeadingPart& lead) const {
    SFileReader& reader = file.reader;
    if (!ReadFileHead(reader, lead.head)) {
        return false;
    }
    const std::uint32_t headEnd = reader.position;
    const std::uint32_t extra = lead.head.GetExtraDataSize();
    if (extra > file.size - headEnd) {
        return false; // extra data past the end of the file
    }
    if (!lead.storage.Allocate(extra)) {
        return false;
    }
    (void)ReadFrom(reader, lead.storage.get(), extra);
    lead.buffer = {lead.storage.get() - headEnd, headEnd, headEnd + extra, headEnd};
    lead.hasHead = true;
    lead.restStart = reader.position;
    // Nothing after the extra data: the head's buffer is delivered as the
    // data too, and the result is the file's size.
    lead.holdsRest = file.size <= lead.restStart;
    lead.resultWhenHeld = static_cast<std::int32_t>(file.size);
    return true;
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
