// Saving a file through a temporary one (see detail/FileReplace.h).
#include "OrvexCommon/filesystem/detail/FileReplace.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <new>

namespace Orvex {
namespace detail {

namespace {

constexpr wchar_t kTemporaryPrefix[] = L".~save";
constexpr unsigned kTemporaryDigits = 8;

// Names to try before giving up: another process may have taken one.
constexpr int kNameTries = 4;

// The length of the target's folder part, separator included: none, "dir/",
// and where paths have drives "C:" or "C:\dir\".
std::size_t FolderLength(const OrvexWString& target) {
    const bool drives = sys::PathsHaveDrives();
    for (std::size_t at = target.size(); at > 0; --at) {
        const wchar_t unit = target[at - 1];
        if (unit == L'/' || (drives && (unit == L'\\' || unit == L':'))) {
            return at;
        }
    }
    return 0;
}

// A number for the next temporary name: this process's id and count of
// saves, mixed so that two processes rarely start from the same one.
std::uint32_t NextTemporaryNumber() {
    static std::atomic<std::uint32_t> saves{0};
    const std::uint32_t count = saves.fetch_add(1, std::memory_order_relaxed);
    return (sys::CurrentProcessId() * 2654435761u) ^ (count * 40503u) ^ count;
}

OrvexWString TemporaryNameBeside(const OrvexWString& target, std::uint32_t number) {
    OrvexWString name(target, 0, FolderLength(target));
    name += kTemporaryPrefix;
    static const wchar_t digits[] = L"0123456789abcdef";
    for (unsigned digit = kTemporaryDigits; digit-- > 0;) {
        name += digits[(number >> (4 * digit)) & 0xF];
    }
    return name;
}

// The file to replace for `fileName`, or false when a save may not replace it.
bool SettleTarget(const wchar_t* fileName, OrvexWString& target, sys::SaveTarget& about) {
    target.resize(std::wcslen(fileName) + 1 + sys::kSaveTargetCapacity);
    if (!sys::ExamineSaveTarget(fileName, &target[0], target.size(), about)) {
        return false;
    }
    target.resize(std::wcslen(target.c_str()));
    return true;
}

bool WriteAndPutInPlace(std::FILE* stream, const OrvexWString& temporary,
                        const OrvexWString& target, FileContentWriter write, const void* content) {
    bool written = false;
    try {
        written = write(stream, content) && sys::FlushStreamToDisk(stream);
    } catch (const std::bad_alloc&) {
        // The stream is still closed and the temporary file removed.
    }
    const bool closed = std::fclose(stream) == 0;
    if (written && closed && sys::ReplaceFileWith(temporary.c_str(), target.c_str())) {
        return true;
    }
    sys::RemoveFile(temporary.c_str());
    return false;
}

} // namespace

bool SaveByReplacing(const wchar_t* fileName, FileContentWriter write, const void* content) {
    if (fileName == nullptr || *fileName == 0 || write == nullptr) {
        return false;
    }
    try {
        OrvexWString target;
        sys::SaveTarget about{};
        if (!SettleTarget(fileName, target, about)) {
            return false;
        }
        for (int attempt = 0; attempt < kNameTries; ++attempt) {
            const OrvexWString temporary = TemporaryNameBeside(target, NextTemporaryNumber());
            if (std::FILE* stream = sys::CreateFileStreamLike(temporary.c_str(), about)) {
                return WriteAndPutInPlace(stream, temporary, target, write, content);
            }
        }
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace detail
} // namespace Orvex
