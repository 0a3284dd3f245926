// Reading a zip archive's end records and central directory.
#include "OrvexCommon/file/detail/ZipDirectory.h"
#include "OrvexCommon/file/detail/NameKey.h"
#include "OrvexCommon/file/detail/ZipFormat.h"

#include <algorithm>
#include <new>
#include <utility>

namespace Orvex {
namespace detail {

namespace {

constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::uint32_t kEnd64Signature = 0x06064B50;
constexpr std::uint32_t kEnd64LocatorSignature = 0x07064B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kEnd64Size = 56;
constexpr std::size_t kEnd64LocatorSize = 20;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kMaxComment = 0xFFFF;
constexpr std::uint16_t kZip64ExtraId = 0x0001;

// What the end records say about the directory.
struct SDirectoryPlace {
    std::uint64_t entries = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
    std::uint64_t limit = 0; // the first end record: the directory ends before it
};

// The classic end record: the last signature in the tail whose comment fits
// inside the archive. Returns its offset within the tail, or -1.
long FindEndRecord(const TOrvexVector<unsigned char>& tail) {
    if (tail.size() < kEndSize) {
        return -1;
    }
    for (std::size_t at = tail.size() - kEndSize + 1; at-- > 0;) {
        if (ReadLittleEndian32(&tail[at]) == kEndSignature &&
            at + kEndSize + ReadZip16(&tail[at + 20]) <= tail.size()) {
            return static_cast<long>(at);
        }
    }
    return -1;
}

// Fills `place` from the ZIP64 end record the locator before the classic
// record at `endOffset` points to.
EZipOpen ReadZip64End(IZipBytes& bytes, std::uint64_t endOffset, SDirectoryPlace& place) {
    if (endOffset < kEnd64LocatorSize) {
        return EZipOpen::kMalformed;
    }
    const std::uint64_t locatorOffset = endOffset - kEnd64LocatorSize;
    unsigned char locator[kEnd64LocatorSize];
    if (!bytes.Read(locatorOffset, sizeof(locator), locator)) {
        return EZipOpen::kReadFailed;
    }
    if (ReadLittleEndian32(locator) != kEnd64LocatorSignature) {
        return EZipOpen::kMalformed;
    }
    if (ReadLittleEndian32(locator + 4) != 0 || ReadLittleEndian32(locator + 16) > 1) {
        return EZipOpen::kMultiDisk;
    }
    const std::uint64_t recordOffset = ReadZip64(locator + 8);
    if (recordOffset > locatorOffset || locatorOffset - recordOffset < kEnd64Size) {
        return EZipOpen::kMalformed;
    }
    unsigned char record[kEnd64Size];
    if (!bytes.Read(recordOffset, sizeof(record), record)) {
        return EZipOpen::kReadFailed;
    }
    if (ReadLittleEndian32(record) != kEnd64Signature) {
        return EZipOpen::kMalformed;
    }
    if (ReadLittleEndian32(record + 16) != 0 || ReadLittleEndian32(record + 20) != 0 ||
        ReadZip64(record + 24) != ReadZip64(record + 32)) {
        return EZipOpen::kMultiDisk;
    }
    place.entries = ReadZip64(record + 32);
    place.size = ReadZip64(record + 40);
    place.offset = ReadZip64(record + 48);
    place.limit = recordOffset;
    return EZipOpen::kOpened;
}

// Finds the directory through the end records.
EZipOpen PlaceDirectory(IZipBytes& bytes, std::uint64_t archiveSize, SDirectoryPlace& place) {
    const std::size_t tailSize =
        static_cast<std::size_t>(std::min<std::uint64_t>(archiveSize, kEndSize + kMaxComment));
    TOrvexVector<unsigned char> tail(tailSize);
    if (!bytes.Read(archiveSize - tailSize, tailSize, tail.data())) {
        return EZipOpen::kReadFailed;
    }
    const long found = FindEndRecord(tail);
    if (found < 0) {
        return EZipOpen::kNotZip;
    }
    const unsigned char* end = &tail[static_cast<std::size_t>(found)];
    const std::uint64_t endOffset = archiveSize - tailSize + static_cast<std::uint64_t>(found);
    const std::uint16_t disk = ReadZip16(end + 4);
    const std::uint16_t directoryDisk = ReadZip16(end + 6);
    const std::uint16_t entriesHere = ReadZip16(end + 8);
    place.entries = ReadZip16(end + 10);
    place.size = ReadLittleEndian32(end + 12);
    place.offset = ReadLittleEndian32(end + 16);
    place.limit = endOffset;
    const bool wide = disk == 0xFFFF || directoryDisk == 0xFFFF || entriesHere == 0xFFFF ||
                      place.entries == 0xFFFF || place.size == 0xFFFFFFFF ||
                      place.offset == 0xFFFFFFFF;
    if (wide) {
        const EZipOpen wideEnd = ReadZip64End(bytes, endOffset, place);
        if (wideEnd != EZipOpen::kOpened) {
            return wideEnd;
        }
    } else if (disk != 0 || directoryDisk != 0 || entriesHere != place.entries) {
        return EZipOpen::kMultiDisk;
    }
    if (place.offset > place.limit || place.limit - place.offset < place.size ||
        place.entries > place.size / kCentralSize) {
        return EZipOpen::kMalformed;
    }
    return EZipOpen::kOpened;
}

// Where a record's entry lies must leave room for its local header and data
// before the directory.
bool PlacedBeforeDirectory(const SZipEntry& entry, std::uint64_t directoryOffset) {
    const std::uint64_t minimalHeader = kZipLocalHeaderSize + entry.nameLength;
    return entry.headerOffset <= directoryOffset &&
           directoryOffset - entry.headerOffset >= minimalHeader &&
           directoryOffset - entry.headerOffset - minimalHeader >= entry.compressedSize;
}

// Why a record is left out, or kKept; kFolder for folders.
enum class ERecord { kKept, kFolder, kMethod, kEncrypted, kName, kPlacement };

ERecord JudgeRecord(const SZipEntry& entry, const OrvexWString& name, bool nameDecoded,
                    bool fieldsRead, std::uint64_t directoryOffset) {
    if (nameDecoded && !name.empty() && (name.back() == L'/' || name.back() == L'\\')) {
        return ERecord::kFolder;
    }
    if ((entry.flags & (kZipFlagEncrypted | kZipFlagStrongEncryption)) != 0) {
        return ERecord::kEncrypted;
    }
    if (entry.method != kZipStored && entry.method != kZipDeflated) {
        return ERecord::kMethod;
    }
    if (!nameDecoded || !IsSafeZipName(name)) {
        return ERecord::kName;
    }
    if (!fieldsRead || !PlacedBeforeDirectory(entry, directoryOffset)) {
        return ERecord::kPlacement;
    }
    return ERecord::kKept;
}

void CountRefusal(ERecord verdict, std::uint16_t method, SZipRefusals& refused) {
    switch (verdict) {
    case ERecord::kMethod:
        if (refused.methods++ == 0) {
            refused.firstMethod = method;
        }
        break;
    case ERecord::kEncrypted:
        ++refused.encrypted;
        break;
    case ERecord::kName:
        ++refused.names;
        break;
    case ERecord::kPlacement:
        ++refused.placement;
        break;
    case ERecord::kKept:
    case ERecord::kFolder:
        break;
    }
}

typedef TOrvexVector<std::pair<std::uint32_t, SZipEntry>> ZipItems;

// Reads the records of the directory held in `records`; false when they do
// not follow one another exactly or are fewer than `entries`.
bool ReadRecords(const TOrvexVector<unsigned char>& records, std::uint64_t entries,
                 SZipDirectory& directory, ZipItems& items) {
    std::size_t at = 0;
    OrvexWString name;
    for (std::uint64_t k = 0; k < entries; ++k) {
        if (records.size() - at < kCentralSize) {
            return false;
        }
        const unsigned char* record = &records[at];
        const std::size_t nameLength = ReadZip16(record + 28);
        const std::size_t extraLength = ReadZip16(record + 30);
        const std::size_t commentLength = ReadZip16(record + 32);
        if (ReadLittleEndian32(record) != kCentralSignature ||
            records.size() - at - kCentralSize < nameLength + extraLength + commentLength) {
            return false;
        }
        SZipEntry entry;
        entry.flags = ReadZip16(record + 8);
        entry.method = ReadZip16(record + 10);
        entry.crc = ReadLittleEndian32(record + 16);
        entry.compressedSize = ReadLittleEndian32(record + 20);
        entry.size = ReadLittleEndian32(record + 24);
        entry.headerOffset = ReadLittleEndian32(record + 42);
        entry.nameLength = static_cast<std::uint16_t>(nameLength);
        const bool fieldsRead = ReadZip64Fields(
            record + kCentralSize + nameLength, extraLength, entry, entry.size == 0xFFFFFFFF,
            entry.compressedSize == 0xFFFFFFFF, entry.headerOffset == 0xFFFFFFFF);
        const char* nameBytes = reinterpret_cast<const char*>(record + kCentralSize);
        const bool nameDecoded =
            DecodeZipName(nameBytes, nameLength, (entry.flags & kZipFlagUtf8) != 0, name);
        const ERecord verdict =
            JudgeRecord(entry, name, nameDecoded, fieldsRead, directory.directoryOffset);
        CountRefusal(verdict, entry.method, directory.refused);
        if (verdict == ERecord::kKept) {
            entry.nameOffset = static_cast<std::uint32_t>(directory.names.size());
            directory.names.insert(directory.names.end(), nameBytes, nameBytes + nameLength);
            items.emplace_back(EntryKey(name.c_str()), entry);
        }
        at += kCentralSize + nameLength + extraLength + commentLength;
    }
    return at == records.size();
}

} // namespace

bool ReadZip64Fields(const unsigned char* extra, std::size_t extraSize, SZipEntry& entry,
                     bool wideSize, bool wideCompressed, bool wideOffset) {
    if (!wideSize && !wideCompressed && !wideOffset) {
        return true;
    }
    for (std::size_t at = 0; extraSize - at >= 4;) {
        const std::uint16_t id = ReadZip16(extra + at);
        const std::size_t length = ReadZip16(extra + at + 2);
        at += 4;
        if (length > extraSize - at) {
            return false;
        }
        if (id == kZip64ExtraId) {
            const unsigned char* field = extra + at;
            std::uint64_t* const targets[3] = {wideSize ? &entry.size : nullptr,
                                               wideCompressed ? &entry.compressedSize : nullptr,
                                               wideOffset ? &entry.headerOffset : nullptr};
            std::size_t used = 0;
            for (std::uint64_t* target : targets) {
                if (target != nullptr) {
                    if (length - used < 8) {
                        return false;
                    }
                    *target = ReadZip64(field + used);
                    used += 8;
                }
            }
            return true;
        }
        at += length;
    }
    return false;
}

EZipOpen ReadZipDirectory(IZipBytes& bytes, std::uint64_t archiveSize, SZipDirectory& directory) {
    try {
        directory = SZipDirectory();
        SDirectoryPlace place;
        const EZipOpen placed = PlaceDirectory(bytes, archiveSize, place);
        if (placed != EZipOpen::kOpened) {
            return placed;
        }
        // The names of all records together fit in 32 bits (their offsets).
        if (place.size > 0xFFFFFFFFu) {
            return EZipOpen::kMalformed;
        }
        directory.directoryOffset = place.offset;
        TOrvexVector<unsigned char> records(static_cast<std::size_t>(place.size));
        if (!bytes.Read(place.offset, records.size(), records.data())) {
            return EZipOpen::kReadFailed;
        }
        ZipItems items;
        items.reserve(static_cast<std::size_t>(place.entries));
        if (!ReadRecords(records, place.entries, directory, items)) {
            return EZipOpen::kMalformed;
        }
        const std::size_t kept = items.size();
        directory.index.Assign(std::move(items));
        directory.refused.shadowed = static_cast<unsigned>(kept - directory.index.size());
        return EZipOpen::kOpened;
    } catch (const std::bad_alloc&) {
        directory = SZipDirectory();
        return EZipOpen::kNoMemory;
    }
}

} // namespace detail
} // namespace Orvex
