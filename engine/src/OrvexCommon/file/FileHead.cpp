// The common file head's two classes: names and groups on the pooled
// allocator, objects placed in its blocks and destroyed explicitly.
#include "OrvexCommon/file/OrvexFileHead.h"
#include "OrvexCommon/memory/OrvexMemory.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

namespace Orvex {

namespace {

// A block for `count` items of `unit` bytes, or null when the total does not
// fit the allocator's 32-bit request (or it has no memory).
void* AllocateArray(std::uint32_t count, std::size_t unit) {
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) * unit;
    if (bytes > 0xFFFFFFFFu) {
        return nullptr;
    }
    return OrvexAlloc(static_cast<unsigned>(bytes));
}

// A pooled copy of a zero-terminated name, or null.
wchar_t* CopyName(const wchar_t* name) {
    const std::size_t length = std::wcslen(name);
    if (length >= 0xFFFFFFFFu / sizeof(wchar_t)) {
        return nullptr;
    }
    auto* copy = static_cast<wchar_t*>(
        AllocateArray(static_cast<std::uint32_t>(length + 1), sizeof(wchar_t)));
    if (copy != nullptr) {
        std::memcpy(copy, name, (length + 1) * sizeof(wchar_t));
    }
    return copy;
}

void DestroyGroups(CDependentRes* groups, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        groups[i].~CDependentRes();
    }
    OrvexFree(groups);
}

} // namespace

// ---- CDependentRes ----

CDependentRes::CDependentRes(EFileType type) : m_type(type), m_fileCount(0), m_names(nullptr) {}

CDependentRes::CDependentRes(const CDependentRes& other)
    : m_type(other.m_type), m_fileCount(0), m_names(nullptr) {
    *this = other;
}

const CDependentRes& CDependentRes::operator=(const CDependentRes& other) {
    if (this == &other) {
        return *this;
    }
    m_type = other.m_type;
    Resize(other.m_fileCount);
    if (m_fileCount != other.m_fileCount) {
        Resize(0); // no memory for the slots: an empty group, never a stale one
        return *this;
    }
    for (std::uint32_t i = 0; i < m_fileCount; ++i) {
        if (other.m_names[i] != nullptr) {
            SetFileName(i, other.m_names[i]);
        } else {
            OrvexFree(m_names[i]);
            m_names[i] = nullptr;
        }
    }
    return *this;
}

CDependentRes::~CDependentRes() {
    Resize(0);
}

EFileType CDependentRes::GetType() {
    return m_type;
}

EFileType CDependentRes::GetType() const {
    return m_type;
}

unsigned CDependentRes::GetFileCount() const {
    return m_fileCount;
}

const wchar_t* CDependentRes::GetFileName(unsigned index) const {
    return index < m_fileCount ? m_names[index] : nullptr;
}

void CDependentRes::SetFileName(unsigned index, const wchar_t* name) {
    if (index >= m_fileCount || name == nullptr) {
        return;
    }
    // Copied before the old one goes: `name` may be the slot's own string.
    wchar_t* copy = CopyName(name);
    OrvexFree(m_names[index]);
    m_names[index] = copy;
}

void CDependentRes::PushFileName(const wchar_t* name) {
    if (m_fileCount == 0xFFFFFFFFu) {
        return;
    }
    const std::uint32_t last = m_fileCount;
    Resize(last + 1);
    SetFileName(last, name);
}

void CDependentRes::Resize(unsigned count) {
    if (count == m_fileCount) {
        return;
    }
    wchar_t** names = nullptr;
    if (count > 0) {
        names = static_cast<wchar_t**>(AllocateArray(count, sizeof(wchar_t*)));
        if (names == nullptr) {
            return;
        }
    }
    const std::uint32_t kept = std::min<std::uint32_t>(m_fileCount, count);
    for (std::uint32_t i = 0; i < kept; ++i) {
        names[i] = m_names[i];
    }
    for (std::uint32_t i = kept; i < count; ++i) {
        names[i] = nullptr;
    }
    for (std::uint32_t i = kept; i < m_fileCount; ++i) {
        OrvexFree(m_names[i]);
    }
    OrvexFree(m_names);
    m_names = names;
    m_fileCount = count;
}

// ---- CCommonFileHead ----

CCommonFileHead::CCommonFileHead(EFileType type, unsigned version)
    : m_type(type), m_version(version), m_groupCount(0), m_groups(nullptr), m_extraDataSize(0) {}

CCommonFileHead::CCommonFileHead(const CCommonFileHead& other)
    : m_type(other.m_type), m_version(other.m_version), m_groupCount(0), m_groups(nullptr),
      m_extraDataSize(other.m_extraDataSize) {
    *this = other;
}

const CCommonFileHead& CCommonFileHead::operator=(const CCommonFileHead& other) {
    if (this == &other) {
        return *this;
    }
    m_type = other.m_type;
    m_version = other.m_version;
    m_extraDataSize = other.m_extraDataSize;
    Resize(other.m_groupCount);
    if (m_groupCount != other.m_groupCount) {
        Resize(0);
        return *this;
    }
    for (std::uint32_t i = 0; i < m_groupCount; ++i) {
        m_groups[i] = other.m_groups[i];
    }
    return *this;
}

CCommonFileHead::~CCommonFileHead() {
    Resize(0);
}

EFileType CCommonFileHead::GetType() {
    return m_type;
}

EFileType CCommonFileHead::GetType() const {
    return m_type;
}

unsigned CCommonFileHead::GetVersion() const {
    return m_version;
}

unsigned CCommonFileHead::GetExtraDataSize() const {
    return m_extraDataSize;
}

void CCommonFileHead::SetExtraDataSize(unsigned size) {
    m_extraDataSize = size;
}

unsigned CCommonFileHead::GetDependentResCount() const {
    return m_groupCount;
}

CDependentRes& CCommonFileHead::GetDependentRes(unsigned index) {
    return m_groups[index];
}

const CDependentRes& CCommonFileHead::GetDependentRes(unsigned index) const {
    return m_groups[index];
}

void CCommonFileHead::Resize(unsigned count) {
    if (count == m_groupCount) {
        return;
    }
    CDependentRes* groups = nullptr;
    if (count > 0) {
        groups = static_cast<CDependentRes*>(AllocateArray(count, sizeof(CDependentRes)));
        if (groups == nullptr) {
            return;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            new (groups + i) CDependentRes();
        }
    }
    const std::uint32_t kept = std::min<std::uint32_t>(m_groupCount, count);
    for (std::uint32_t i = 0; i < kept; ++i) {
        groups[i] = m_groups[i];
    }
    DestroyGroups(m_groups, m_groupCount);
    m_groups = groups;
    m_groupCount = count;
}

void CCommonFileHead::PushDependentRes(EFileType type) {
    if (m_groupCount == 0xFFFFFFFFu) {
        return;
    }
    const std::uint32_t last = m_groupCount;
    Resize(last + 1);
    if (m_groupCount == last + 1) {
        m_groups[last] = CDependentRes(type);
    }
}

} // namespace Orvex
