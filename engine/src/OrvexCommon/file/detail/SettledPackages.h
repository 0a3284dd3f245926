// The package registry's settled answers, readable without a lock.
//
// Once the registry has opened a package under a spelling, or found that the
// spelling is not a package, that answer never changes while the library is
// loaded. Name lookups ask for the package of a directory on every call, so
// the answers are also published here, where a lookup finds them without
// taking the registry's lock or walking its trees: a fixed open-addressed
// table keyed by a 64-bit hash of the spelling, each slot written once under
// the registry's lock and then made visible by a release store. A spelling is
// matched by its hash, its length and all its units, so a colliding hash
// costs a comparison, never a wrong answer. When the table is three quarters
// full nothing more is published and lookups fall back to the registry.
//
// A slot whose spelling is not a package (`<dir>.pkg`) also carries the
// answer for the zip archive of the same directory (`<dir>.zip`), settled
// later under the zip registry's lock, so a lookup that finds neither asks
// the table once per directory.
#ifndef ORVEX_FILE_DETAIL_SETTLEDPACKAGES_H
#define ORVEX_FILE_DETAIL_SETTLEDPACKAGES_H

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace Orvex {
namespace detail {

struct SPackage;
struct SZipArchive;

// FNV-1a over the spelling's units, so that a prefix's hash extends to a
// longer spelling's one unit at a time.
constexpr std::uint64_t kSpellingHashStart = 0xCBF29CE484222325ull;
inline std::uint64_t AddSpellingHash(std::uint64_t hash, const wchar_t* units, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        hash = (hash ^ static_cast<std::uint32_t>(units[i])) * 0x100000001B3ull;
    }
    return hash;
}

// The spelling of a package file: `head` (head units) followed by `tail`.
struct SSpelling {
    const wchar_t* head;
    std::size_t headLength;
    const wchar_t* tail;
    std::size_t tailLength;
    std::uint64_t hash; // of head then tail
};

// What the table knows of one spelling.
struct SSettledAnswer {
    SPackage* package = nullptr;
    bool zipSettled = false;    // the directory's zip answer is known
    SZipArchive* zip = nullptr; // and is this (null: no zip archive)
};

class CSettledPackages {
public:
    static constexpr std::size_t kSlots = 4096;

    // Under the registry's lock. `spelling` (`length` units) must stay as it
    // is while the library is loaded; `package` null: not a package.
    void Publish(const wchar_t* spelling, std::size_t length, SPackage* package);
    // The settled answer for the spelling, on any thread: false when there is
    // none yet.
    // The zip answer is read only when `wantZip` and there is no package.
    bool Find(const SSpelling& spelling, bool wantZip, SSettledAnswer& answer) const;
    // Under the zip registry's lock: the zip answer of a spelling already
    // settled as no package; nothing when the spelling has no slot.
    void SettleZip(const SSpelling& spelling, SZipArchive* zip);

private:
    struct Slot {
        std::atomic<bool> ready{false};
        std::uint64_t hash = 0;
        const wchar_t* spelling = nullptr;
        std::size_t length = 0;
        SPackage* package = nullptr;
        std::atomic<SZipArchive*> zip{nullptr};
        std::atomic<bool> zipSettled{false};
    };
    static bool Matches(const Slot& slot, const SSpelling& spelling);
    const Slot* FindSlot(const SSpelling& spelling) const;

    Slot m_slots[kSlots];
    std::size_t m_used = 0; // under the registry's lock
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_SETTLEDPACKAGES_H
