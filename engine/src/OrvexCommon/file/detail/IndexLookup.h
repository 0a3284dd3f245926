// Finding an inner name in an archive's index: packages and zip archives
// alike, so a name finds the same file in either.
#ifndef ORVEX_FILE_DETAIL_INDEXLOOKUP_H
#define ORVEX_FILE_DETAIL_INDEXLOOKUP_H

#include "OrvexCommon/file/detail/NameKey.h"
#include "OrvexCommon/file/detail/PackageIndex.h"

#include <cstdint>

namespace Orvex {
namespace detail {

// The entry of the name's key, else of the name with one hexadecimal digit
// appended, "0" to "f" in that order. The 16 digit keys come from one pass
// over the name, and only those the index's filter may hold are looked up.
template <typename Entry>
const Entry* FindInIndex(const TPackageIndex<Entry>& index, const wchar_t* innerName) {
    const EntryKeyBytes name(innerName);
    const std::uint32_t key = name.Key();
    if (index.MayHold(key)) {
        if (const Entry* found = index.Find(key)) {
            return found;
        }
    }
    std::uint32_t keys[16];
    name.DigitKeys(keys);
    for (const std::uint32_t digitKey : keys) {
        if (!index.MayHold(digitKey)) {
            continue;
        }
        if (const Entry* found = index.Find(digitKey)) {
            return found;
        }
    }
    return nullptr;
}

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_INDEXLOOKUP_H
