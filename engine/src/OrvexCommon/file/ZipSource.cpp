// Zip entries as a source of the file manager.
#include "OrvexCommon/file/detail/ZipSource.h"
#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/ZipArchive.h"
#include "OrvexCommon/file/detail/ZipEntryStream.h"

#include <atomic>
#include <cstring>
#include <memory>

namespace Orvex {
namespace detail {

// One open zip entry: the archive's bytes for this reader and the entry's
// stream over them, both opened on the first need.
struct SZipFileState : COrvexPoolObject {
    SZipArchive* archive = nullptr;
    const SZipEntry* entry = nullptr;
    bool shareHandle = false; // the loading thread's copy
    bool attached = false;
    bool opened = false;
    int crcInPlace = 0; // a mapped stored entry's CRC-32: 1 holds, -1 does not
    CZipArchiveBytes bytes;
    CZipEntryStream stream;
};

namespace {

std::atomic<bool> g_zipSearch{true};

constexpr std::uint64_t kLargestLoaderFile = 0xFFFFFFFFu;

// Attaches the bytes and opens the stream, once.
bool ReadyStream(SZipFileState& state) {
    if (state.opened) {
        return true;
    }
    if (!state.attached) {
        state.attached = state.bytes.Attach(*state.archive, state.shareHandle);
        if (!state.attached) {
            return false;
        }
    }
    const EZipRead opened = state.stream.Open(state.bytes, state.archive->directory, *state.entry);
    state.opened = opened == EZipRead::kOk;
    return state.opened;
}

// A read that failed: zeros out, and the file marked so that no caller
// takes them for its bytes.
bool Failed(SSourceFile& file, std::uint32_t n, unsigned char* out) {
    if (n > 0) {
        std::memset(out, 0, n);
    }
    file.unreadable = true;
    return false;
}

// The stored entry's bytes in the mapping its reader took, once their CRC-32
// is known to hold; null otherwise.
const unsigned char* MappedStoredBytes(SZipFileState& state) {
    if (state.entry->method != kZipStored || !ReadyStream(state) ||
        state.bytes.Mapping() == nullptr) {
        return nullptr;
    }
    const unsigned char* bytes = state.bytes.Mapping() + state.stream.DataOffset();
    if (state.crcInPlace == 0) {
        const bool holds = UpdateZipCrc(0, bytes, state.entry->size) == state.entry->crc;
        state.crcInPlace = holds ? 1 : -1;
    }
    return state.crcInPlace > 0 ? bytes : nullptr;
}

} // namespace

bool ZipSearchEnabled() {
    return g_zipSearch.load(std::memory_order_relaxed);
}

bool CZipSource::Has(const wchar_t* fileName) const {
    const ArchiveMatch match = FindArchiveEntry(fileName, m_deepSearch, ZipSearchEnabled());
    return match.zip != nullptr && match.zipEntry->size <= kLargestLoaderFile;
}

bool CZipSource::Open(const wchar_t* fileName, bool, SSourceFile& file) const {
    const ArchiveMatch match = FindArchiveEntry(fileName, m_deepSearch, ZipSearchEnabled());
    return match.zip != nullptr && OpenEntry(*match.zip, *match.zipEntry, file);
}

bool CZipSource::OpenEntry(SZipArchive& archive, const SZipEntry& entry, SSourceFile& file) const {
    if (entry.size > kLargestLoaderFile) {
        return false;
    }
    std::unique_ptr<SZipFileState> state(new SZipFileState);
    state->archive = &archive;
    state->entry = &entry;
    if (!ReadyStream(*state)) {
        return false;
    }
    const std::uint64_t dataOffset = state->stream.DataOffset();
    file.source = this;
    file.zip = state.release();
    file.entry = nullptr;
    file.size = static_cast<std::uint32_t>(entry.size);
    file.base = dataOffset <= kLargestLoaderFile ? static_cast<std::uint32_t>(dataOffset) : 0;
    file.borrowed = false;
    file.unreadable = false;
    return true;
}

bool CZipSource::ReadLeading(SSourceFile& file, std::int32_t fileType, bool restNow,
                             SLeadingPart& lead) const {
    return ReadPlainLeading(file, fileType, restNow, lead);
}

bool CZipSource::ReadRange(SSourceFile& file, std::uint32_t from, std::uint32_t n,
                           unsigned char* out) const {
    SZipFileState& state = *file.zip;
    if (!ReadyStream(state) || state.stream.Read(from, n, out) != EZipRead::kOk) {
        return Failed(file, n, out);
    }
    return true;
}

const unsigned char* CZipSource::InPlace(const SSourceFile& file, std::uint32_t from,
                                         std::uint32_t) const {
    const unsigned char* bytes = MappedStoredBytes(*file.zip);
    return bytes == nullptr ? nullptr : bytes + from;
}

bool CZipSource::InMemory(const SSourceFile& file) const {
    return MappedStoredBytes(*file.zip) != nullptr;
}

void CZipSource::Duplicate(const SSourceFile& file, SSourceFile& copy) const {
    std::unique_ptr<SZipFileState> state(new SZipFileState);
    state->archive = file.zip->archive;
    state->entry = file.zip->entry;
    state->shareHandle = true;
    copy.source = this;
    copy.base = file.base;
    copy.size = file.size;
    copy.entry = nullptr;
    copy.reader = SFileReader();
    copy.borrowed = false;
    copy.unreadable = false;
    copy.zip = state.release();
}

void CZipSource::Close(SSourceFile& file) const {
    delete file.zip;
    file.zip = nullptr;
    ForgetSourceFile(file);
}

} // namespace detail

void SetZipArchiveSearch(bool enable) {
    detail::g_zipSearch.store(enable, std::memory_order_relaxed);
}

bool IsZipArchiveSearch() {
    return detail::ZipSearchEnabled();
}

} // namespace Orvex
