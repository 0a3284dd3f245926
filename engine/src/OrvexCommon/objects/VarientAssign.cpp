// The typed assignments of the variant: each writes its payload layout.
#include "OrvexCommon/objects/OrvexVarient.h"
#include "OrvexCommon/objects/detail/VarientStore.h"

#include <cstring>

namespace Orvex {

using detail::VarientStore;

const CVarient& CVarient::operator=(int value) {
    VarientStore::Write(*this, eVT_Int, nullptr, 0, &value, sizeof value);
    return *this;
}

const CVarient& CVarient::operator=(unsigned value) {
    VarientStore::Write(*this, eVT_Uint, nullptr, 0, &value, sizeof value);
    return *this;
}

const CVarient& CVarient::operator=(float value) {
    VarientStore::Write(*this, eVT_Float, nullptr, 0, &value, sizeof value);
    return *this;
}

const CVarient& CVarient::operator=(CColor value) {
    VarientStore::Write(*this, eVT_Color, nullptr, 0, &value.value, sizeof value.value);
    return *this;
}

const CVarient& CVarient::operator=(TVector3<float> value) {
    const float xyz[3] = {value.x, value.y, value.z};
    VarientStore::Write(*this, eVT_Vec3, nullptr, 0, xyz, sizeof xyz);
    return *this;
}

const CVarient& CVarient::operator=(const wchar_t* text) {
    VarientStore::Write(*this, eVT_Str, nullptr, 0, VarientStore::OrEmpty(text),
                        VarientStore::TextBytes(text));
    return *this;
}

const CVarient& CVarient::operator=(SFileData file) {
    VarientStore::Write(*this, eVT_FileName, nullptr, 0, VarientStore::OrEmpty(file.fileName),
                        VarientStore::TextBytes(file.fileName));
    return *this;
}

// The index fills a whole wide unit (zero after its 2 bytes, so equal
// selections compare equal) and keeps the items aligned behind it.
const CVarient& CVarient::operator=(SComboBoxData combo) {
    static_assert(sizeof(wchar_t) >= sizeof(combo.index), "the index fits one unit");
    unsigned char head[sizeof(wchar_t)] = {};
    std::memcpy(head, &combo.index, sizeof combo.index);
    VarientStore::Write(*this, eVT_ComboBox, head, sizeof head, VarientStore::OrEmpty(combo.items),
                        VarientStore::TextBytes(combo.items));
    return *this;
}

const CVarient& CVarient::operator=(SMemory memory) {
    const unsigned size = memory.mem != nullptr ? memory.size : 0;
    VarientStore::Write(*this, eVT_Mem, nullptr, 0, memory.mem, size);
    return *this;
}

} // namespace Orvex
