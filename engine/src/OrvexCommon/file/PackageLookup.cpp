// Finding the package and the entry of a file name.
#include "OrvexCommon/file/detail/NameKey.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/platform/OrvexSys.h"

namespace Orvex {
namespace detail {

namespace {

// Names longer than this have no package.
constexpr std::size_t kMaxPackagePath = 260;
constexpr wchar_t kPackageSuffix[] = L".pkg";

bool IsSeparator(wchar_t unit) {
    return unit == L'\\' || unit == L'/';
}

// One lock per search form, held only around opening a package.
sys::RecursiveLock* DeepSearchLock() {
    static sys::OwnedLock lock;
    return lock.get();
}
sys::RecursiveLock* ShallowSearchLock() {
    static sys::OwnedLock lock;
    return lock.get();
}

// Opens the package named by the first `length` units of `name` plus ".pkg".
SPackage* OpenDirectoryPackage(const wchar_t* name, std::size_t length, sys::RecursiveLock* lock) {
    wchar_t path[kMaxPackagePath + sizeof(kPackageSuffix) / sizeof(wchar_t)];
    for (std::size_t i = 0; i < length; ++i) {
        path[i] = name[i];
    }
    for (std::size_t i = 0; i < sizeof(kPackageSuffix) / sizeof(wchar_t); ++i) {
        path[length + i] = kPackageSuffix[i];
    }
    sys::ScopedLock hold(lock);
    return OpenPackage(path, nullptr, 0, false);
}

std::size_t NameLength(const wchar_t* name, std::size_t limit) {
    std::size_t length = 0;
    while (length <= limit && name[length] != 0) {
        ++length;
    }
    return length;
}

// The deepest directory of the name that has a package; position 0 is never a
// directory's end.
PackageMatch FindDeep(const wchar_t* fileName, const wchar_t*& innerName) {
    PackageMatch match;
    const std::size_t length = NameLength(fileName, kMaxPackagePath);
    if (length > kMaxPackagePath) {
        return match;
    }
    for (std::size_t position = length; position-- > 1;) {
        if (!IsSeparator(fileName[position])) {
            continue;
        }
        match.package = OpenDirectoryPackage(fileName, position, DeepSearchLock());
        if (match.package != nullptr) {
            innerName = fileName + position + 1;
            break;
        }
    }
    return match;
}

// The package of the name's first directory.
PackageMatch FindShallow(const wchar_t* fileName, const wchar_t*& innerName) {
    PackageMatch match;
    std::size_t position = 0;
    while (fileName[position] != 0 && !IsSeparator(fileName[position])) {
        if (++position >= kMaxPackagePath) {
            return match;
        }
    }
    if (fileName[position] == 0) {
        return match;
    }
    match.package = OpenDirectoryPackage(fileName, position, ShallowSearchLock());
    innerName = fileName + position + 1;
    return match;
}

} // namespace

const SPackageEntry* FindEntryByName(const SPackage& package, const wchar_t* innerName) {
    const EntryKeyBytes name(innerName);
    if (const SPackageEntry* found = package.index.Find(name.Key())) {
        return found;
    }
    // The one-digit fallback, in digit order: the 16 keys from one pass over
    // the name, and only those the index's filter may hold looked up.
    std::uint32_t keys[16];
    name.DigitKeys(keys);
    for (const std::uint32_t key : keys) {
        if (!package.index.MayHold(key)) {
            continue;
        }
        if (const SPackageEntry* found = package.index.Find(key)) {
            return found;
        }
    }
    return nullptr;
}

PackageMatch FindPackageEntry(const wchar_t* fileName, bool deep) {
    if (fileName == nullptr) {
        return PackageMatch();
    }
    const wchar_t* innerName = nullptr;
    PackageMatch match = deep ? FindDeep(fileName, innerName) : FindShallow(fileName, innerName);
    if (match.package == nullptr) {
        return PackageMatch();
    }
    match.entry = FindEntryByName(*match.package, innerName);
    if (match.entry == nullptr) {
        match.package = nullptr;
    }
    return match;
}

} // namespace detail
} // namespace Orvex
