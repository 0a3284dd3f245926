// Finding the package and the entry of a file name.
#include "OrvexCommon/file/detail/NameKey.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/SettledPackages.h"
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

constexpr std::size_t kSuffixLength = sizeof(kPackageSuffix) / sizeof(wchar_t) - 1;

// The package of the directory spelt by the first `length` units of `name`,
// whose hash, without the suffix, is `headHash`: the registry's settled answer
// when it has one, else an open of the directory's name plus ".pkg".
SPackage* DirectoryPackage(const wchar_t* name, std::size_t length, std::uint64_t headHash,
                           sys::RecursiveLock* lock) {
    const SSpelling spelling{name, length, kPackageSuffix, kSuffixLength,
                             AddSpellingHash(headHash, kPackageSuffix, kSuffixLength)};
    SPackage* settled = nullptr;
    if (FindSettledPackage(spelling, settled)) {
        return settled;
    }
    wchar_t path[kMaxPackagePath + kSuffixLength + 1];
    for (std::size_t i = 0; i < length; ++i) {
        path[i] = name[i];
    }
    for (std::size_t i = 0; i <= kSuffixLength; ++i) {
        path[length + i] = kPackageSuffix[i];
    }
    sys::ScopedLock hold(lock);
    return OpenPackage(path, nullptr, 0, false);
}

// The deepest directory of the name that has a package; position 0 is never a
// directory's end. The text before the last separator is hashed once, and
// the hash kept at each separator, so each directory's lookup adds only the
// suffix; the file's own name is never hashed.
PackageMatch FindDeep(const wchar_t* fileName, const wchar_t*& innerName) {
    std::size_t lastSeparator = 0;
    for (std::size_t position = 0; fileName[position] != 0; ++position) {
        if (position == kMaxPackagePath) {
            return PackageMatch(); // too long to have a package
        }
        if (position > 0 && IsSeparator(fileName[position])) {
            lastSeparator = position;
        }
    }
    struct SDirectory {
        std::size_t end;
        std::uint64_t hash;
    } directories[kMaxPackagePath];
    std::size_t count = 0;
    std::uint64_t hash = kSpellingHashStart;
    for (std::size_t position = 0; position <= lastSeparator && lastSeparator > 0; ++position) {
        if (position > 0 && IsSeparator(fileName[position])) {
            directories[count++] = {position, hash};
        }
        hash = AddSpellingHash(hash, fileName + position, 1);
    }
    PackageMatch match;
    while (count-- > 0) {
        const SDirectory& directory = directories[count];
        match.package = DirectoryPackage(fileName, directory.end, directory.hash, DeepSearchLock());
        if (match.package != nullptr) {
            innerName = fileName + directory.end + 1;
            break;
        }
    }
    return match;
}

// The package of the name's first directory.
PackageMatch FindShallow(const wchar_t* fileName, const wchar_t*& innerName) {
    PackageMatch match;
    std::size_t position = 0;
    std::uint64_t hash = kSpellingHashStart;
    while (fileName[position] != 0 && !IsSeparator(fileName[position])) {
        hash = AddSpellingHash(hash, fileName + position, 1);
        if (++position >= kMaxPackagePath) {
            return match;
        }
    }
    if (fileName[position] == 0) {
        return match;
    }
    match.package = DirectoryPackage(fileName, position, hash, ShallowSearchLock());
    innerName = fileName + position + 1;
    return match;
}

} // namespace

const SPackageEntry* FindEntryByName(const SPackage& package, const wchar_t* innerName) {
    const EntryKeyBytes name(innerName);
    const std::uint32_t key = name.Key();
    if (package.index.MayHold(key)) {
        if (const SPackageEntry* found = package.index.Find(key)) {
            return found;
        }
    }
    // The one-digit fallback, in digit order: the 16 keys from one pass over
    // the name, and only those the index's filter may hold looked up.
    std::uint32_t keys[16];
    name.DigitKeys(keys);
    for (const std::uint32_t digitKey : keys) {
        if (!package.index.MayHold(digitKey)) {
            continue;
        }
        if (const SPackageEntry* found = package.index.Find(digitKey)) {
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
