// The variant's life cycle, copying and comparison.
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/objects/OrvexVarient.h"
#include "OrvexCommon/objects/detail/VarientStore.h"

#include <algorithm>
#include <cstring>

namespace Orvex {

using detail::VarientStore;

CVarient::CVarient()
    : m_type(eVT_Int), m_size(0), m_capacity(VarientStore::kMinBlock),
      m_data(VarientStore::NewBlock(m_capacity)) {
    *this = 0;
}

// The block is made before the payload is copied so that even an empty
// payload (a memory block of 0 bytes) leaves the copy with one.
CVarient::CVarient(const CVarient& other)
    : m_type(other.m_type), m_size(0), m_capacity(std::max(other.m_size, VarientStore::kMinBlock)),
      m_data(VarientStore::NewBlock(m_capacity)) {
    _Assign(other.m_data, other.m_size);
}

CVarient::~CVarient() {
    OrvexFree(m_data);
}

const CVarient& CVarient::operator=(const CVarient& other) {
    VarientStore::Write(*this, other.m_type, nullptr, 0, other.m_data, other.m_size);
    return *this;
}

void CVarient::_Assign(const void* src, unsigned size) {
    VarientStore::Write(*this, m_type, nullptr, 0, src, size);
}

bool CVarient::operator==(const CVarient& other) const {
    return m_type == other.m_type && m_size == other.m_size &&
           std::memcmp(m_data, other.m_data, m_size) == 0;
}

bool CVarient::operator!=(const CVarient& other) const {
    return !(*this == other);
}

} // namespace Orvex
