// The path-alias table: normalised prefixes and the text that replaces them in
// loose-file names.
#ifndef ORVEX_FILE_DETAIL_PATHALIAS_H
#define ORVEX_FILE_DETAIL_PATHALIAS_H

#include "OrvexCommon/memory/OrvexMemory.h"

namespace Orvex {
namespace detail {

class PathAliasTable {
public:
    // The entry for the normalised prefix becomes `replacement`, kept as given.
    void Set(const wchar_t* prefix, const wchar_t* replacement);

    // Only the greatest key at or below the normalised name is tried: when the
    // name begins with it, its replacement followed by the rest of the name in
    // the caller's spelling; when not, the empty key's replacement followed by
    // the whole name if the empty key exists; else the name unchanged.
    OrvexWString Resolve(const wchar_t* name) const;

private:
    TOrvexMap<OrvexWString, OrvexWString> m_aliases;
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_PATHALIAS_H
