// What every source of the file manager shares.
#include "OrvexCommon/file/detail/FileSource.h"
#include "OrvexCommon/file/detail/FileHeadReader.h"
#include "OrvexCommon/file/detail/FileReader.h"

namespace Orvex {
namespace detail {

namespace {

bool ReadWholeFile(SSourceFile& file, std::int32_t fileType, SLeadingPart& lead) {
    const std::uint32_t size = file.size;
    // Bytes that lie in memory as they are (a stored entry of a mapped zip
    // archive) are delivered from there, without a copy.
    const unsigned char* bytes = file.source->InPlace(file, 0, size);
    if (bytes == nullptr) {
        if (!FitsPooledBuffer(size) || !lead.storage.Allocate(size) ||
            !file.source->ReadRange(file, 0, size, lead.storage.get())) {
            return false;
        }
        bytes = lead.storage.get();
    }
    lead.buffer = {bytes, 0, size, 0};
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

bool ReadHeadAndExtra(SSourceFile& file, SLeadingPart& lead) {
    std::uint32_t headEnd = 0;
    if (!ReadFileHead(file, headEnd, lead.head)) {
        return false;
    }
    const std::uint32_t extra = lead.head.GetExtraDataSize();
    if (extra > file.size - headEnd) {
        return false; // extra data past the end of the file
    }
    if (!lead.storage.Allocate(extra) ||
        (extra > 0 && !file.source->ReadRange(file, headEnd, extra, lead.storage.get()))) {
        return false;
    }
    lead.buffer = {lead.storage.get() - headEnd, headEnd, headEnd + extra, headEnd};
    lead.hasHead = true;
    lead.restStart = headEnd + extra;
    // Nothing after the extra data: the head's buffer is delivered as the
    // data too, and the result is the file's size.
    lead.holdsRest = file.size <= lead.restStart;
    lead.resultWhenHeld = static_cast<std::int32_t>(file.size);
    return true;
}

} // namespace

bool ReadPlainLeading(SSourceFile& file, std::int32_t fileType, bool restNow, SLeadingPart& lead) {
    if (restNow) {
        return ReadWholeFile(file, fileType, lead);
    }
    if (fileType == -1) {
        return true; // no head: the whole file is the rest
    }
    return ReadHeadAndExtra(file, lead);
}

void ForgetSourceFile(SSourceFile& file) {
    if (!file.borrowed) {
        CloseReader(file.reader);
    }
    file.reader = SFileReader();
    file.borrowed = false;
    file.source = nullptr;
    file.entry = nullptr;
    file.unreadable = false;
    file.base = 0;
    file.size = 0;
}

} // namespace detail
} // namespace Orvex
