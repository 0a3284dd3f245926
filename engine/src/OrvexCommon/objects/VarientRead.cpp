// The variant's readers: no type check, never a read past the payload.
#include "OrvexCommon/objects/OrvexVarient.h"

#include <algorithm>
#include <cstring>

namespace Orvex {

namespace {

// The payload's first sizeof(T) bytes as a T; bytes it does not have are zero.
template <typename T> T ReadFixed(const unsigned char* data, unsigned size) {
    T value{};
    std::memcpy(&value, data, std::min<std::size_t>(sizeof(T), size));
    return value;
}

} // namespace

EVarientType CVarient::Type() const {
    return m_type;
}

unsigned CVarient::MemSize() const {
    return m_size;
}

int CVarient::Int() const {
    return ReadFixed<int>(m_data, m_size);
}

unsigned CVarient::Uint() const {
    return ReadFixed<unsigned>(m_data, m_size);
}

float CVarient::Float() const {
    return ReadFixed<float>(m_data, m_size);
}

CColor CVarient::Color() const {
    return CColor{ReadFixed<unsigned>(m_data, m_size)};
}

TVector3<float> CVarient::Vec3() const {
    return ReadFixed<TVector3<float>>(m_data, m_size);
}

unsigned short CVarient::ComIndex() const {
    return ReadFixed<unsigned short>(m_data, m_size);
}

const wchar_t* CVarient::ComItems() const {
    return reinterpret_cast<const wchar_t*>(m_data + sizeof(wchar_t));
}

const wchar_t* CVarient::Str() const {
    return reinterpret_cast<const wchar_t*>(m_data);
}

const wchar_t* CVarient::FileName() const {
    return reinterpret_cast<const wchar_t*>(m_data);
}

const void* CVarient::Mem() const {
    return m_data;
}

} // namespace Orvex
