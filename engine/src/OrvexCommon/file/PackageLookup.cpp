// Finding the package and the entry of a file name.
#include "OrvexCommon/file/detail/IndexLookup.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/SettledNames.h"
#include "OrvexCommon/file/detail/SettledPackages.h"
#include "OrvexCommon/file/detail/ZipArchive.h"
#include "OrvexCommon/platform/OrvexSys.h"

namespace Orvex {
namespace detail {

namespace {

// Names longer than this have no package.
constexpr std::size_t kMaxPackagePath = 260;
constexpr wchar_t kPackageSuffix[] = L".pkg";
constexpr wchar_t kZipSuffix[] = L".zip";

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

// The archives a directory may have.
struct SDirectoryArchive {
    SPackage* package = nullptr;
    SZipArchive* zip = nullptr;
};

// The directory's name (`length` units) followed by `suffix`, terminated.
void SpellArchivePath(const wchar_t* name, std::size_t length, const wchar_t* suffix,
                      wchar_t (&path)[kMaxPackagePath + kSuffixLength + 1]) {
    for (std::size_t i = 0; i < length; ++i) {
        path[i] = name[i];
    }
    for (std::size_t i = 0; i <= kSuffixLength; ++i) {
        path[length + i] = suffix[i];
    }
}

// The archive of the directory spelt by the first `length` units of `name`,
// whose hash, without the suffix, is `headHash`: the registry's settled
// answer when it has one, else an open of the directory's name plus ".pkg",
// then (with `zips`, and no package) plus ".zip".
SDirectoryArchive DirectoryArchive(const wchar_t* name, std::size_t length, std::uint64_t headHash,
                                   sys::RecursiveLock* lock, bool zips) {
    const SSpelling spelling{name, length, kPackageSuffix, kSuffixLength,
                             AddSpellingHash(headHash, kPackageSuffix, kSuffixLength)};
    SDirectoryArchive found;
    SSettledAnswer settled;
    const bool packageSettled = FindSettledPackage(spelling, zips, settled);
    if (packageSettled) {
        found.package = settled.package;
        if (found.package != nullptr || !zips) {
            return found;
        }
        if (settled.zipSettled) {
            found.zip = settled.zip;
            return found;
        }
    }
    wchar_t path[kMaxPackagePath + kSuffixLength + 1];
    if (!packageSettled) {
        SpellArchivePath(name, length, kPackageSuffix, path);
        sys::ScopedLock hold(lock);
        found.package = OpenPackage(path, nullptr, 0, false);
    }
    if (found.package == nullptr && zips) {
        SpellArchivePath(name, length, kZipSuffix, path);
        found.zip = OpenZipArchive(path, spelling);
    }
    return found;
}

// The deepest directory of the name that has a package; position 0 is never a
// directory's end. The text before the last separator is hashed once, and
// the hash kept at each separator, so each directory's lookup adds only the
// suffix; the file's own name is never hashed.
SDirectoryArchive FindDeep(const wchar_t* fileName, bool zips, const wchar_t*& innerName) {
    std::size_t lastSeparator = 0;
    for (std::size_t position = 0; fileName[position] != 0; ++position) {
        if (position == kMaxPackagePath) {
            return SDirectoryArchive(); // too long to have a package
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
    SDirectoryArchive match;
    while (count-- > 0) {
        const SDirectory& directory = directories[count];
        match = DirectoryArchive(fileName, directory.end, directory.hash, DeepSearchLock(), zips);
        if (match.package != nullptr || match.zip != nullptr) {
            innerName = fileName + directory.end + 1;
            break;
        }
    }
    return match;
}

// The archive of the name's first directory.
SDirectoryArchive FindShallow(const wchar_t* fileName, bool zips, const wchar_t*& innerName) {
    SDirectoryArchive match;
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
    match = DirectoryArchive(fileName, position, hash, ShallowSearchLock(), zips);
    innerName = fileName + position + 1;
    return match;
}

} // namespace

const SPackageEntry* FindEntryByName(const SPackage& package, const wchar_t* innerName) {
    return FindInIndex(package.index, innerName);
}

ArchiveMatch SearchArchiveEntry(const wchar_t* fileName, bool deep, bool zips) {
    ArchiveMatch match;
    const wchar_t* innerName = nullptr;
    const SDirectoryArchive archive =
        deep ? FindDeep(fileName, zips, innerName) : FindShallow(fileName, zips, innerName);
    if (archive.package != nullptr) {
        match.entry = FindEntryByName(*archive.package, innerName);
        match.package = match.entry != nullptr ? archive.package : nullptr;
    } else if (archive.zip != nullptr) {
        match.zipEntry = FindInIndex(archive.zip->directory.index, innerName);
        match.zip = match.zipEntry != nullptr ? archive.zip : nullptr;
    }
    return match;
}

ArchiveMatch FindArchiveEntry(const wchar_t* fileName, bool deep, bool zips) {
    ArchiveMatch match;
    if (fileName == nullptr) {
        return match;
    }
    const SNameKey key = MakeNameKey(fileName, zips, deep);
    CSettledNames& settled = SettledNames();
    if (settled.Find(key, match)) {
        return match;
    }
    const std::uint32_t unsettled = UnsettledOpens();
    match = SearchArchiveEntry(fileName, deep, zips);
    if (UnsettledOpens() == unsettled) {
        settled.Settle(key, match);
    }
    return match;
}

PackageMatch FindPackageEntry(const wchar_t* fileName, bool deep) {
    const ArchiveMatch found = FindArchiveEntry(fileName, deep, false);
    PackageMatch match;
    match.package = found.package;
    match.entry = found.entry;
    return match;
}

} // namespace detail
} // namespace Orvex
