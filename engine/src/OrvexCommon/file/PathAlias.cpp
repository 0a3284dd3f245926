// Path aliases.
#include "OrvexCommon/file/detail/PathAlias.h"
#include "OrvexCommon/file/detail/NameKey.h"

namespace Orvex {
namespace detail {

void PathAliasTable::Set(const wchar_t* prefix, const wchar_t* replacement) {
    m_aliases[NormalizeName(prefix)] = replacement != nullptr ? replacement : L"";
}

OrvexWString PathAliasTable::Resolve(const wchar_t* name) const {
    if (name == nullptr) {
        return OrvexWString();
    }
    const OrvexWString normalized = NormalizeName(name);
    auto nearest = m_aliases.upper_bound(normalized);
    if (nearest == m_aliases.begin()) {
        return OrvexWString(name);
    }
    --nearest;
    const OrvexWString& key = nearest->first;
    if (normalized.compare(0, key.size(), key) == 0) {
        return nearest->second + (name + key.size());
    }
    const auto first = m_aliases.begin();
    if (first->first.empty()) {
        return first->second + name;
    }
    return OrvexWString(name);
}

} // namespace detail
} // namespace Orvex
