// Package files from arbitrary bytes: loading, lookups and reads of every
// entry in both modes, with and without a patch, and packages that exist only
// as a patch. Nothing may touch memory out of bounds. A plain model of the
// file also says whether it loads, what its index holds, and what every byte
// below the package's extent reads as (compared when the patch's chunks
// ascend without overlap, as patches must; bytes past the extent are only
// read, not compared).
//
// Input layout (bytes past the end read as zero):
//   byte 0     flags: 1 keep the package mapped, 2 lay a patch over it,
//              4 the package exists only as its patch (no file),
//              8 the patch overrides the package's length, 16 look up a name
//              longer than the part that makes its key as well
//   byte 1     the patch's chunk count
//   bytes 2-3  the patch block's length (big-endian), cut to what follows
//   bytes 4-7  the size override (little-endian), taken modulo the image's
//              length + 64 KiB + 1 so that memory stays bounded
//   byte 8     the length of a name to look up, then that many name bytes
//   then       the patch block, then the package file's bytes (the rest)
//
// Packages opened through OpenPackage stay registered for the life of the
// process, so each input is loaded into a local package record instead: its
// bytes go to one scratch file of this process, rewritten for every input.
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/NameKey.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/Patch.h"
#include "OrvexCommon/file/detail/Scramble.h"
#include "OrvexCommon/platform/OrvexPlatform.h"

#include "FuzzScratchFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace {

using namespace Orvex::detail;

// Entries larger than this are read in slices only.
constexpr std::uint32_t kWholeReadCap = 1u << 20;
// Bytes of whole entries read per mode and input; the rest in slices.
constexpr std::uint64_t kWholeReadBudget = 1u << 20;
// Resident parts beyond this total are not taken into private mode.
constexpr std::uint64_t kPrivateCap = 1u << 20;
// Entries found by name are read whole up to this size.
constexpr std::uint32_t kLookUpReadCap = 64u * 1024;
constexpr std::uint32_t kSlice = 4096;
constexpr std::uint32_t kOverrideSlack = 64u * 1024;

enum Flags : unsigned {
    kKeepMapped = 1,
    kUsePatch = 2,
    kPatchOnly = 4,
    kOverrideSize = 8,
    kLongName = 16,
};

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_package: %s\n", what);
        std::abort();
    }
}

// Hands out consecutive slices of the input.
class Cursor {
public:
    Cursor(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    unsigned Byte() {
        if (m_size == 0) {
            return 0;
        }
        --m_size;
        return *m_data++;
    }
    std::size_t Remaining() const { return m_size; }
    // Up to `count` bytes (fewer when the input ends first).
    const std::uint8_t* Take(std::size_t& count) {
        count = std::min(count, m_size);
        const std::uint8_t* slice = m_data;
        m_data += count;
        m_size -= count;
        return slice;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

// One scratch file for this process, and a name no file has: the
// patch-only package's path.
struct ScratchFile : FuzzScratchFile {
    ScratchFile() : FuzzScratchFile("orvex_fuzz_package_", ".pkg"), absent(wide + L".absent") {}
    std::wstring absent;
};

const ScratchFile& Scratch() {
    static const ScratchFile scratch;
    return scratch;
}

// True when the patch's chunks ascend without overlap, as SetFilePatch asks
// of its callers; only then does a slice of the file see the same overlay as
// the whole.
bool PatchIsOrdered(const SFilePatch& patch) {
    for (std::size_t i = 1; i < patch.chunks.size(); ++i) {
        const std::uint64_t end =
            static_cast<std::uint64_t>(patch.chunks[i - 1].offset) + patch.chunks[i - 1].length;
        if (end > patch.chunks[i].offset) {
            return false;
        }
    }
    return true;
}

struct ModelEntry {
    std::uint32_t residentSize, offset, size;
};

// What the package holds, worked out without the library's reading code:
// every byte below its extent, the header and the index.
struct Model {
    std::uint32_t extent = 0;
    std::vector<unsigned char> raw;   // file bytes, zeros past the file, the patch laid over
    std::vector<unsigned char> plain; // raw, descrambled when the header says so
    bool exact = true;                // raw and plain may be compared with reads
    bool loads = false;               // the header and index are acceptable
    bool scrambled = false;
    std::uint64_t residentTotal = 0;
    std::map<std::uint32_t, ModelEntry> index;

    Model(const std::uint8_t* file, std::size_t fileSize, const SFilePatch* patch) {
        extent = static_cast<std::uint32_t>(fileSize);
        if (patch != nullptr && patch->sizeOverride != -1) {
            extent = static_cast<std::uint32_t>(patch->sizeOverride);
        }
        raw = Slice(file, fileSize, patch, 0, extent);
        exact = patch == nullptr || PatchIsOrdered(*patch);
        plain = raw;
        // The header and the index are read as slices of their own: with
        // chunks out of order a slice may see another overlay than the whole.
        if (extent < kPackageHeaderSize) {
            return;
        }
        const std::vector<unsigned char> header =
            Slice(file, fileSize, patch, 0, kPackageHeaderSize);
        if (ReadLittleEndian32(header.data()) != kPackageMagic) {
            return;
        }
        const std::uint32_t count = ReadLittleEndian32(header.data() + 8);
        const std::uint32_t indexOffset = ReadLittleEndian32(header.data() + 12);
        const std::uint64_t indexBytes = static_cast<std::uint64_t>(count) * kPackageEntrySize;
        if (indexBytes + kSpareBytes > kMaxPooledBuffer || indexOffset + indexBytes > extent) {
            return;
        }
        const std::vector<unsigned char> records =
            Slice(file, fileSize, patch, indexOffset, static_cast<std::uint32_t>(indexBytes));
        for (std::uint32_t i = 0; i < count; ++i) {
            const unsigned char* record =
                records.data() + static_cast<std::size_t>(i) * kPackageEntrySize;
            ModelEntry entry;
            entry.size = ReadLittleEndian32(record + 12);
            entry.residentSize = std::min(ReadLittleEndian32(record + 4), entry.size);
            entry.offset = ReadLittleEndian32(record + 8);
            index[ReadLittleEndian32(record)] = entry;
            residentTotal += entry.residentSize;
        }
        loads = true;
        scrambled = header[4] != 0;
        if (scrambled) {
            Descramble(plain.data(), 0, extent);
        }
    }

    // The file's bytes [start, start + length), zeros past its end, with the
    // patch laid over them.
    static std::vector<unsigned char> Slice(const std::uint8_t* file, std::size_t fileSize,
                                            const SFilePatch* patch, std::uint32_t start,
                                            std::uint32_t length) {
        std::vector<unsigned char> bytes(length, 0);
        if (start < fileSize && length > 0) {
            const std::size_t held = std::min<std::size_t>(fileSize - start, length);
            std::memcpy(bytes.data(), file + start, held);
        }
        if (patch != nullptr && length > 0) {
            ApplyPatch(*patch, bytes.data(), start, length);
        }
        return bytes;
    }

    // Checks `bytes`, read from package position `offset` on, against the
    // model wherever the package holds them.
    void Compare(const std::vector<unsigned char>& expected, const unsigned char* bytes,
                 std::uint32_t offset, std::uint32_t count, const char* what) const {
        if (!exact || offset >= extent) {
            return;
        }
        const std::uint32_t held = std::min(count, extent - offset);
        Check(held == 0 || std::memcmp(bytes, expected.data() + offset, held) == 0, what);
    }
};

std::unique_ptr<unsigned char[]> ZeroedBuffer(std::size_t size) {
    return std::unique_ptr<unsigned char[]>(new unsigned char[size]());
}

// The first and the last slice of an entry: straight out of the package, and
// through the package's own reader.
void ReadSlices(SPackage& package, const SPackageEntry& entry, const Model& model,
                const std::uint8_t* file, std::size_t fileSize) {
    const std::uint32_t length = std::min(entry.size, kSlice);
    std::uint32_t starts[2] = {entry.offset, entry.offset};
    const std::uint64_t end = static_cast<std::uint64_t>(entry.offset) + entry.size;
    if (end <= 0xFFFFFFFFu) {
        starts[1] = static_cast<std::uint32_t>(end - length);
    }
    for (const std::uint32_t start : starts) {
        auto copied = ZeroedBuffer(length);
        CopyFromPackage(package, copied.get(), start, length);
        // Without the mapping only the patch and the descrambling reach the
        // copy: it tells nothing about the file.
        if (package.mapped) {
            model.Compare(model.plain, copied.get(), start, length, "CopyFromPackage");
        }
        (void)PatchTouches(package.patch, start, length);

        auto taken = ZeroedBuffer(length);
        MoveTo(package.reader, start);
        const std::int32_t count = ReadFrom(package.reader, taken.get(), length);
        Check(count >= 0 && static_cast<std::uint32_t>(count) <= length,
              "the reader took more than asked");
        Check(count == 0 || static_cast<std::uint64_t>(start) + count <= model.extent,
              "the reader went past the package's extent");
        model.Compare(model.raw, taken.get(), start, static_cast<std::uint32_t>(count), "ReadFrom");
    }
    // A range the mapping holds may be read in place: those are the file's
    // own bytes.
    if (EntryInsideMapping(package, entry, 0, length)) {
        Check(entry.data != nullptr, "an entry inside the mapping without data");
        Check(static_cast<std::uint64_t>(entry.offset) + length <= fileSize,
              "an entry inside the mapping beyond the file");
        Check(length == 0 || std::memcmp(entry.data, file + entry.offset, length) == 0,
              "the mapping differs from the file");
    }
}

// Reads every entry of the package in its current mode.
void ReadEverything(SPackage& package, const Model& model, const std::uint8_t* file,
                    std::size_t fileSize) {
    std::uint64_t budget = kWholeReadBudget;
    for (const auto& item : package.index) {
        const SPackageEntry& entry = item.second;
        if (entry.size <= kWholeReadCap && entry.size <= budget) {
            budget -= entry.size;
            auto bytes = ZeroedBuffer(entry.size);
            ReadPackageEntry(package, entry, bytes.get());
            model.Compare(model.plain, bytes.get(), entry.offset, entry.size, "ReadPackageEntry");
            if (!package.mapped) {
                // Private mode: the resident part sits in the private buffer.
                model.Compare(model.plain, entry.data, entry.offset, entry.residentSize,
                              "the private buffer");
            }
        }
        ReadSlices(package, entry, model, file, fileSize);
    }
}

// Looks a name up and reads what it finds.
void LookUp(const SPackage& package, const wchar_t* name) {
    const SPackageEntry* entry = FindEntryByName(package, name);
    if (entry == nullptr) {
        return;
    }
    bool listed = false;
    for (const auto& item : package.index) {
        listed = listed || &item.second == entry;
    }
    Check(listed, "FindEntryByName returned an entry outside the index");
    if (entry->size <= kLookUpReadCap) {
        auto bytes = ZeroedBuffer(entry->size);
        ReadPackageEntry(package, *entry, bytes.get());
    }
}

void LookUpNames(const SPackage& package, const std::uint8_t* name, std::size_t nameSize,
                 bool withLongName) {
    static const wchar_t* const kFixed[] = {
        L"",
        L"a",
        L"a.txt",
        L"b.bin",
        L"dir/file.dat",
        L"DIR\\FILE.DAT",
        L"dir000/file000000.dat",
        L"readme",
        L"readme0",
        L"\xFFFF",
        L"/",
        L"\\\\",
        L"data/level1/map.bin",
    };
    for (const wchar_t* fixed : kFixed) {
        LookUp(package, fixed);
    }
    // The input's name bytes one unit each, then two bytes a unit.
    std::wstring narrow(name, name + nameSize);
    LookUp(package, narrow.c_str());
    std::wstring wide;
    for (std::size_t i = 0; i + 1 < nameSize; i += 2) {
        wide.push_back(static_cast<wchar_t>(name[i] | name[i + 1] << 8));
    }
    LookUp(package, wide.c_str());
    // Hashing a name 17 times over (the digit fallback) is slow under the
    // fuzzer's instrumentation: the longest only when the input asks.
    if (withLongName) {
        const std::wstring longName(kMaxKeyNameLength + 5, L'x');
        LookUp(package, longName.c_str());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Cursor input(data, size);
    const unsigned flags = input.Byte();
    const unsigned chunkCount = input.Byte();
    std::size_t patchSize = input.Byte() << 8;
    patchSize |= input.Byte();
    std::uint32_t override = 0;
    for (int i = 0; i < 4; ++i) {
        override |= static_cast<std::uint32_t>(input.Byte()) << (8 * i);
    }
    std::size_t nameSize = input.Byte();
    const std::uint8_t* name = input.Take(nameSize);
    const std::uint8_t* patchBlock = input.Take(patchSize);
    std::size_t fileSize = input.Remaining();
    const std::uint8_t* file = input.Take(fileSize);

    const bool patchOnly = (flags & kPatchOnly) != 0;
    const bool keepMapped = (flags & kKeepMapped) != 0;
    if (patchOnly) {
        fileSize = 0; // no file: its bytes are only the patch's
    }

    SFilePatch patch;
    // A block that runs short leaves the patch without chunks.
    (void)ParsePatchChunks(patch, chunkCount, patchBlock, patchSize);
    if ((flags & kOverrideSize) != 0) {
        patch.sizeOverride = static_cast<std::int32_t>(override % (fileSize + kOverrideSlack + 1));
    }
    const bool usePatch = (flags & kUsePatch) != 0 || patchOnly;
    const Model model(file, fileSize, usePatch ? &patch : nullptr);

    const ScratchFile& scratch = Scratch();
    SPackage package;
    if (patchOnly) {
        package.path = Orvex::OrvexWString(scratch.absent.c_str());
        package.reader = SFileReader();
    } else {
        scratch.Write(file, fileSize);
        package.path = Orvex::OrvexWString(scratch.wide.c_str());
        Check(OpenReader(package.reader, package.path.c_str()), "cannot read the scratch file");
    }
    package.reader.owner = &package;
    package.patch = usePatch ? &patch : nullptr;

    // Only a non-empty file can be mapped; without the mapping the package
    // goes private at once, which a huge resident total must not reach.
    const bool canMap = !patchOnly && fileSize > 0;
    const bool privateFits = model.residentTotal <= kPrivateCap;
    if (model.loads && !privateFits && (!canMap || !keepMapped)) {
        ReleasePackage(package);
        return 0;
    }

    const EPackageLoad result = LoadPackage(package, keepMapped);
    const bool loaded = result == EPackageLoad::Loaded;
    Check(loaded == model.loads, "LoadPackage disagrees with the header and index");
    Check(loaded || result == EPackageLoad::NotAPackage, "a package this small ran out of memory");
    if (loaded) {
        Check(package.mapped == (canMap && keepMapped), "the package is in the wrong mode");
        Check(package.scrambled == model.scrambled, "the scrambled flag was misread");
        Check(package.residentTotal == model.residentTotal, "the resident total is wrong");
        Check(package.index.size() == model.index.size(), "the index has the wrong size");
        for (const auto& item : model.index) {
            const auto* found = package.index.Find(item.first);
            Check(found != nullptr, "an index entry is missing");
            Check(found->offset == item.second.offset && found->size == item.second.size &&
                      found->residentSize == item.second.residentSize,
                  "an index entry was misread");
        }

        ReadEverything(package, model, file, fileSize);
        LookUpNames(package, name, nameSize, (flags & kLongName) != 0);

        const bool toMapped = !package.mapped;
        if (toMapped || privateFits) {
            const bool switched = SwitchMapped(package, toMapped);
            Check(package.mapped == (switched ? toMapped : !toMapped),
                  "SwitchMapped left the package in the wrong mode");
            Check(switched || (toMapped && !canMap), "SwitchMapped failed");
            // The index is the same in both modes: no second round of lookups.
            ReadEverything(package, model, file, fileSize);
        }
    }
    ReleasePackage(package);
    return 0;
}
