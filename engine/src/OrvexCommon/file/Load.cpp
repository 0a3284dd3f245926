// Load: a file's head and extra data to its listener at once, the rest at once
// (synchronous) or through the request lists (asynchronous). The path is the
// same for every source: its leading part and head, then the rest read now,
// queued already read (a source in memory), or queued for the loading thread.
//
// Choices where the bytes cannot be trusted or held: a rest that a pooled
// buffer cannot hold (2 GiB with its spare bytes) makes the load fail before
// any callback; so does a loose file's head whose extra data runs past the
// end of the file. A pool that has no memory after OnLoadHead ran makes Load
// return -1 without OnLoadData.
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/memory/detail/WithoutMemory.h"

#include <memory>
#include <new>

namespace Orvex {
namespace detail {

namespace {

// A source file closed however the load ends.
struct OpenedFile {
    SSourceFile file;
    OpenedFile() = default;
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;
    ~OpenedFile() {
        if (file.source != nullptr) {
            file.source->Close(file);
        }
    }
};

// A request for the file's bytes [start, size), zero-filled, with a reader of
// its own for the loading thread; null, with nothing kept, when memory runs
// out.
SLoadRequest* NewRequest(IFileLoadListener* listener, const SSourceFile& file,
                         std::uint32_t start) {
    try {
        std::unique_ptr<SLoadRequest> request(new SLoadRequest);
        request->data.assign(file.size - start, 0);
        request->listener = listener;
        request->start = start;
        file.source->Duplicate(file, request->file);
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
        OpenedFile opened;
        // The first source that has the file answers, even when it then
        // refuses the head.
        if (!OpenInSources(fileName, /*handleNow=*/false, opened.file)) {
            return -1;
        }
        return LoadFrom(opened.file, listener);
    });
}

std::int32_t CFileMgr::LoadFrom(SSourceFile& file, IFileLoadListener* listener) {
    SLeadingPart lead;
    if (!PrepareLoad(file, listener, !m_async, lead)) {
        return -1;
    }
    return FinishLoad(file, listener, !m_async, lead);
}

bool CFileMgr::PrepareLoad(SSourceFile& file, IFileLoadListener* listener, bool restNow,
                           SLeadingPart& lead) {
    const std::int32_t fileType = listener->GetFileType();
    if (!file.source->ReadLeading(file, fileType, restNow, lead)) {
        return false;
    }
    if (lead.hasHead && static_cast<std::int32_t>(lead.head.GetType()) != fileType) {
        return false;
    }
    return lead.holdsRest || FitsPooledBuffer(file.size - lead.restStart);
}

std::int32_t CFileMgr::FinishLoad(SSourceFile& file, IFileLoadListener* listener, bool restNow,
                                  SLeadingPart& lead) {
    if (lead.hasHead) {
        listener->OnLoadHead(lead.head, lead.buffer);
    }
    if (lead.holdsRest) {
        if (lead.bodyAtRestStart) {
            lead.buffer.pos = lead.restStart;
        }
        listener->OnLoadData(lead.buffer);
        return lead.resultWhenHeld;
    }
    return restNow ? DeliverRest(file, lead.restStart, listener)
                   : QueueRest(file, lead.restStart, listener);
}

std::int32_t CFileMgr::DeliverRest(SSourceFile& file, std::uint32_t start,
                                   IFileLoadListener* listener) {
    const std::uint32_t rest = file.size - start;
    PooledBytes copy;
    const unsigned char* bytes = file.source->InPlace(file, start, file.size);
    if (bytes == nullptr) {
        if (!copy.Allocate(rest) || !file.source->ReadRange(file, start, rest, copy.get())) {
            return -1; // no memory, or the file can no longer be read
        }
        bytes = copy.get();
    }
    SLoadBuffer buffer = {bytes - start, start, file.size, start};
    listener->OnLoadData(buffer);
    return static_cast<std::int32_t>(rest);
}

std::int32_t CFileMgr::QueueRest(SSourceFile& file, std::uint32_t start,
                                 IFileLoadListener* listener) {
    SLoadRequest* request = NewRequest(listener, file, start);
    if (request == nullptr) {
        return -1;
    }
    // Bytes already in memory skip the loading thread.
    request->filled = file.source->InMemory(file);
    const auto rest = static_cast<std::uint32_t>(request->data.size());
    if (request->filled && rest > 0) {
        (void)file.source->ReadRange(file, start, rest, request->data.data());
    }
    QueueRequest(request);
    return static_cast<std::int32_t>(file.size - start);
}

} // namespace detail
} // namespace Orvex
