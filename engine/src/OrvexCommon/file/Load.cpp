// Load: a file's head and extra data to its listener at once, the rest at once
// (synchronous) or through the request lists (asynchronous).
//
// Choices where the bytes cannot be trusted or held: a rest that a pooled
// buffer cannot hold (2 GiB with its spare bytes) makes the load fail before
// any callback; so does a loose file's head whose extra data runs past the
// end of the file. A pool that has no memory after OnLoadHead ran makes Load
// return -1 without OnLoadData.
#include "OrvexCommon/file/detail/FileHeadReader.h"
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/Patch.h"
#include "OrvexCommon/file/detail/PooledBytes.h"
#include "OrvexCommon/memory/detail/WithoutMemory.h"

#include <memory>
#include <new>

namespace Orvex {
namespace detail {

namespace {

constexpr SourceAnswer kNotHere = {false, 0};
constexpr SourceAnswer kRefused = {true, -1};

bool HeadMatches(SLoadBuffer& buffer, CCommonFileHead& head, IFileLoadListener* listener) {
    return ReadFileHead(buffer, head) &&
           static_cast<std::int32_t>(head.GetType()) == listener->GetFileType();
}

// True when bytes [from, to) of the entry must be copied out of a mapped
// package rather than read in place.
bool MustCopyFromMapping(const SPackage& package, const SPackageEntry& entry, std::uint32_t from,
                         std::uint32_t to) {
    return package.scrambled || PatchTouches(package.patch, entry.offset + from, to - from) ||
           !EntryInsideMapping(package, entry, from, to);
}

// A request with `size` zero bytes and the name to read from; null, with
// nothing kept, when memory runs out.
SLoadRequest* NewRequest(IFileLoadListener* listener, std::uint32_t size, const wchar_t* fileName) {
    try {
        std::unique_ptr<SLoadRequest> request(new SLoadRequest);
        request->data.assign(size, 0);
        request->fileName = fileName;
        request->listener = listener;
        return request.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

std::int32_t CFileMgr::Load(const wchar_t* fileName, IFileLoadListener* listener) {
    if (fileName == nullptr) {
        return 0;
    }
    if (listener == nullptr) {
        return -1;
    }
    // Memory that runs out before the listener hears of the file refuses
    // the load; after OnLoadHead the load is refused without OnLoadData.
    return FallbackWithoutMemory(-1, [&] {
        SourceAnswer answer = m_packageFirst ? LoadFromPackage(fileName, listener)
                                             : LoadLooseFile(fileName, listener);
        if (!answer.found) {
            answer = m_packageFirst ? LoadLooseFile(fileName, listener)
                                    : LoadFromPackage(fileName, listener);
        }
        return answer.found ? answer.result : -1;
    });
}

SourceAnswer CFileMgr::LoadFromPackage(const wchar_t* fileName, IFileLoadListener* listener) {
    const PackageMatch match = FindPackageEntry(fileName, m_deepSearch);
    if (match.package == nullptr) {
        return kNotHere;
    }
    SPackage& package = *match.package;
    const SPackageEntry& entry = *match.entry;
    const std::uint32_t resident = entry.residentSize;
    const std::uint32_t rest = entry.size - resident;
    const std::uint64_t restOffset = static_cast<std::uint64_t>(entry.offset) + resident;
    if (!FitsPooledBuffer(rest) || !FitsPooledBuffer(resident) || restOffset > 0xFFFFFFFFu) {
        return kRefused;
    }
    if (resident > 0) {
        TOrvexVector<unsigned char> copy;
        const unsigned char* bytes = entry.data;
        if (package.mapped && MustCopyFromMapping(package, entry, 0, resident)) {
            copy.assign(resident + kSpareBytes, 0);
            CopyFromPackage(package, copy.data(), entry.offset, resident);
            bytes = copy.data();
        }
        SLoadBuffer buffer = {bytes, 0, resident, 0};
        CCommonFileHead head;
        if (!HeadMatches(buffer, head, listener)) {
            return kRefused;
        }
        listener->OnLoadHead(head, buffer);
        if (rest == 0) {
            listener->OnLoadData(buffer);
            return {true, 0};
        }
    }
    return LoadPackageRest(package, entry, fileName, listener);
}

SourceAnswer CFileMgr::LoadPackageRest(SPackage& package, const SPackageEntry& entry,
                                       const wchar_t* fileName, IFileLoadListener* listener) {
    const std::uint32_t resident = entry.residentSize;
    const std::uint32_t rest = entry.size - resident;
    const std::uint32_t restOffset = entry.offset + resident;
    if (m_async) {
        SLoadRequest* request = NewRequest(listener, rest, fileName);
        if (request == nullptr) {
            return kRefused;
        }
        request->package = &package;
        request->fileOffset = restOffset;
        request->start = resident;
        if (package.mapped) {
            // Bytes in memory already: the request skips the loading thread.
            CopyFromPackage(package, request->data.data(), restOffset, rest);
            request->fileOffset = kDataInMemory;
        }
        QueueRequest(request);
        return {true, static_cast<std::int32_t>(rest)};
    }
    if (package.mapped && !MustCopyFromMapping(package, entry, resident, entry.size)) {
        SLoadBuffer buffer = {entry.data, resident, entry.size, resident};
        listener->OnLoadData(buffer);
        return {true, static_cast<std::int32_t>(rest)};
    }
    PooledBytes bytes(rest);
    if (bytes.get() == nullptr) {
        return kRefused;
    }
    if (package.mapped) {
        CopyFromPackage(package, bytes.get(), restOffset, rest);
    } else if (!ReadPackageRange(package, restOffset, rest, bytes.get())) {
        return kRefused; // the package's file was deleted or replaced
    }
    SLoadBuffer buffer = {bytes.get() - resident, resident, entry.size, resident};
    listener->OnLoadData(buffer);
    return {true, static_cast<std::int32_t>(rest)};
}

SourceAnswer CFileMgr::LoadLooseFile(const wchar_t* fileName, IFileLoadListener* listener) {
    OrvexWString opened;
    SFileReader reader;
    if (!OpenLooseFile(fileName, reader, opened)) {
        return kNotHere;
    }
    const SourceAnswer answer =
        m_async ? LoadLooseAsync(reader, opened, listener) : LoadLooseSync(reader, listener);
    CloseReader(reader);
    return answer;
}

SourceAnswer CFileMgr::LoadLooseAsync(SFileReader& reader, const OrvexWString& opened,
                                      IFileLoadListener* listener) {
    const std::uint32_t size = reader.size;
    std::uint32_t start = 0;
    if (listener->GetFileType() != -1) {
        CCommonFileHead head;
        if (!ReadFileHead(reader, head) ||
            static_cast<std::int32_t>(head.GetType()) != listener->GetFileType()) {
            return kRefused;
        }
        const std::uint32_t headEnd = reader.position;
        const std::uint32_t extra = head.GetExtraDataSize();
        if (extra > size - headEnd) {
            return kRefused; // extra data past the end of the file
        }
        PooledBytes bytes(extra);
        if (bytes.get() == nullptr) {
            return kRefused;
        }
        (void)ReadFrom(reader, bytes.get(), extra);
        SLoadBuffer buffer = {bytes.get() - headEnd, headEnd, headEnd + extra, headEnd};
        listener->OnLoadHead(head, buffer);
        start = reader.position;
        if (size <= start) {
            listener->OnLoadData(buffer);
            return {true, static_cast<std::int32_t>(size)};
        }
    }
    const std::uint32_t rest = size - start;
    SLoadRequest* request =
        FitsPooledBuffer(rest) ? NewRequest(listener, rest, opened.c_str()) : nullptr;
    if (request == nullptr) {
        return kRefused;
    }
    request->fileOffset = start;
    request->start = start;
    QueueRequest(request);
    return {true, static_cast<std::int32_t>(rest)};
}

SourceAnswer CFileMgr::LoadLooseSync(SFileReader& reader, IFileLoadListener* listener) {
    const std::uint32_t size = reader.size;
    if (!FitsPooledBuffer(size)) {
        return kRefused;
    }
    PooledBytes bytes(size);
    if (bytes.get() == nullptr) {
        return kRefused;
    }
    (void)ReadFrom(reader, bytes.get(), size);
    SLoadBuffer buffer = {bytes.get(), 0, size, 0};
    if (listener->GetFileType() == -1) {
        listener->OnLoadData(buffer);
        return {true, static_cast<std::int32_t>(size)};
    }
    CCommonFileHead head;
    if (!HeadMatches(buffer, head, listener)) {
        return kRefused;
    }
    const std::uint64_t extraEnd = static_cast<std::uint64_t>(buffer.pos) + head.GetExtraDataSize();
    if (extraEnd > size) {
        return kRefused; // extra data past the end of the file
    }
    listener->OnLoadHead(head, buffer);
    // The body starts after the extra data, whatever OnLoadHead read.
    buffer.pos = static_cast<std::uint32_t>(extraEnd);
    listener->OnLoadData(buffer);
    return {true, static_cast<std::int32_t>(size - extraEnd)};
}

} // namespace detail
} // namespace Orvex
