// Patch files: diffing, encoding, checking and registering them.
#include "PatchFile.h"

#include "OrvexCommon/file/OrvexFile.h"

namespace OrvexPack {

namespace {

void AppendLittleEndian32(Bytes& bytes, std::uint32_t value) {
    unsigned char word[4];
    Orvex::detail::WriteLittleEndian32(word, value);
    bytes.insert(bytes.end(), word, word + 4);
}

} // namespace

PatchData DiffFiles(const Bytes& original, const Bytes& modified) {
    const std::size_t length = modified.size();
    // 64 bits wide whatever size_t is: offsets are 32-bit, the override 31-bit.
    const std::uint64_t wideLength = length;
    if (wideLength > 0xFFFFFFFFu || (length != original.size() && wideLength > 0x7FFFFFFFu)) {
        Fail("the modified file is too long for a patch (" + std::to_string(length) + " bytes)");
    }
    PatchData patch;
    patch.sizeOverride = length != original.size() ? static_cast<std::int32_t>(length) : -1;
    const auto emit = [&](std::size_t start, std::size_t end) {
        AppendLittleEndian32(patch.block, static_cast<std::uint32_t>(end - start));
        AppendLittleEndian32(patch.block, static_cast<std::uint32_t>(start));
        patch.block.insert(patch.block.end(), modified.begin() + static_cast<std::ptrdiff_t>(start),
                           modified.begin() + static_cast<std::ptrdiff_t>(end));
        ++patch.count;
    };
    bool open = false;
    std::size_t start = 0;
    std::size_t end = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (i < original.size() && original[i] == modified[i]) {
            continue;
        }
        if (open && i - end <= kPatchMergeGap) {
            end = i + 1;
            continue;
        }
        if (open) {
            emit(start, end);
        }
        open = true;
        start = i;
        end = i + 1;
    }
    if (open) {
        emit(start, end);
    }
    return patch;
}

Bytes EncodePatchFile(const PatchData& patch) {
    Bytes bytes;
    bytes.reserve(kPatchFileHeaderSize + patch.block.size());
    AppendLittleEndian32(bytes, kPatchFileMagic);
    AppendLittleEndian32(bytes, static_cast<std::uint32_t>(patch.sizeOverride));
    AppendLittleEndian32(bytes, patch.count);
    bytes.insert(bytes.end(), patch.block.begin(), patch.block.end());
    return bytes;
}

PatchData DecodePatchFile(const Bytes& bytes, const std::string& displayName) {
    using Orvex::detail::ReadLittleEndian32;
    const std::string what = "patch file '" + displayName + "'";
    if (bytes.size() < kPatchFileHeaderSize) {
        Fail(what + " is too short (" + std::to_string(bytes.size()) + " bytes)");
    }
    if (ReadLittleEndian32(bytes.data()) != kPatchFileMagic) {
        Fail(what + " is not a patch file (bad magic)");
    }
    PatchData patch;
    patch.sizeOverride = static_cast<std::int32_t>(ReadLittleEndian32(bytes.data() + 4));
    patch.count = ReadLittleEndian32(bytes.data() + 8);
    if (patch.sizeOverride < -1) {
        Fail(what + " has an invalid size override (" + std::to_string(patch.sizeOverride) + ")");
    }
    std::size_t position = kPatchFileHeaderSize;
    std::uint64_t previousEnd = 0;
    for (std::uint32_t i = 0; i < patch.count; ++i) {
        if (bytes.size() - position < 8) {
            Fail(what + " is truncated in chunk " + std::to_string(i));
        }
        const std::uint32_t length = ReadLittleEndian32(bytes.data() + position);
        const std::uint32_t offset = ReadLittleEndian32(bytes.data() + position + 4);
        position += 8;
        if (bytes.size() - position < length) {
            Fail(what + " is truncated in chunk " + std::to_string(i));
        }
        if (offset < previousEnd) {
            Fail(what + ": chunk " + std::to_string(i) + " overlaps or precedes the one before");
        }
        if (static_cast<std::uint64_t>(offset) + length > 0x100000000u) {
            Fail(what + ": chunk " + std::to_string(i) + " runs past 4 GiB");
        }
        previousEnd = static_cast<std::uint64_t>(offset) + length;
        position += length;
    }
    if (position != bytes.size()) {
        Fail(what + " has " + std::to_string(bytes.size() - position) +
             " bytes after its last chunk");
    }
    patch.block.assign(bytes.begin() + static_cast<std::ptrdiff_t>(kPatchFileHeaderSize),
                       bytes.end());
    return patch;
}

void RegisterPatch(const fs::path& packagePath, const PatchData& patch) {
    const std::int32_t consumed = Orvex::GetOrvexFileMgr().SetFilePatch(
        LibraryPath(packagePath).c_str(), patch.sizeOverride, patch.count,
        patch.block.empty() ? nullptr : patch.block.data());
    if (consumed < 0 || static_cast<std::size_t>(consumed) != patch.block.size()) {
        Fail("the file manager did not take the patch for '" + Display(packagePath) + "'");
    }
}

} // namespace OrvexPack
