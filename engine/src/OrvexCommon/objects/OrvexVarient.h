// A tagged value whose kind is chosen at run time: one of nine payloads kept
// in one pooled block of its own, copied and compared as bytes.
#ifndef ORVEX_OBJECTS_ORVEXVARIENT_H
#define ORVEX_OBJECTS_ORVEXVARIENT_H

#include "OrvexCommon/base/OrvexExport.h"
#include "OrvexCommon/objects/OrvexValueTypes.h"

namespace Orvex {

// The payload kinds. The numbers are stable: they are part of the compared
// bytes and of whatever a host stores.
enum EVarientType : int {
    eVT_Str = 0,      // wide text with its terminator
    eVT_FileName = 1, // a file name's wide text with its terminator
    eVT_Int = 2,      // signed 32-bit
    eVT_Float = 3,    // single-precision float, compared by its bits
    eVT_Vec3 = 4,     // x, y, z floats (12 bytes)
    eVT_ComboBox = 5, // selected index, then the items' wide text
    eVT_Color = 6,    // the colour's 32-bit value
    eVT_Uint = 7,     // unsigned 32-bit
    eVT_Mem = 8,      // raw bytes
};

// A file name; null counts as the empty name.
struct SFileData {
    const wchar_t* fileName;
};

// A combo-box selection: the selected index and the items' text. The index
// sits in a 32-bit slot (2 padding bytes); on 64-bit targets the pointer then
// starts at offset 8. Null items count as the empty text.
struct SComboBoxData {
    unsigned short index;
    const wchar_t* items;
};

// A raw memory block: its bytes are copied in. Null counts as no bytes.
struct SMemory {
    const void* mem;
    unsigned size;
};

namespace detail {
struct VarientStore;
}

// Payload layouts, in bytes (a wide unit is sizeof(wchar_t): 2 on Windows,
// 4 on Linux):
//   text, file name   (length + 1) units, terminator included
//   int, uint, float  4
//   colour            4
//   vector            12
//   combo box         one unit holding the 16-bit index in its first 2 bytes
//                     (zero after them), then (length + 1) units of items:
//                     2 + 2 x (length + 1) on Windows, 4 + 4 x (length + 1) on
//                     Linux, so the items stay aligned for wchar_t (index 3
//                     and "ab": 8 bytes on Windows, 16 on Linux)
//   memory            the block's size
//
// The block grows to exactly the payload's size when it is too small and never
// shrinks, so fixed-size assignments after the first allocate nothing. It is
// never null and holds at least 4 bytes, also in a copy of an empty payload.
// Every assignment goes through detail::VarientStore::Write. An assignment
// that needs a larger block which the pool cannot give throws std::bad_alloc
// and leaves the variant as it was; so does a payload beyond 4 GiB. A source
// may lie inside the variant's own block (its text, its memory).
//
// The readers do not check the type. The fixed-size ones read the payload's
// first bytes; bytes the payload does not have read as zero. The pointer
// readers return the payload (items: past the index unit).
//
// Fields, in order: type (32-bit), size, capacity (unsigned 32-bit), data:
// 24 bytes with the pointer's alignment on 64-bit targets, 16 on 32-bit.
// Not for concurrent use without the caller's lock.
class ORVEX_API CVarient {
public:
    // The int 0 in a 4-byte block.
    CVarient();
    // A block of its own, the same type and payload.
    CVarient(const CVarient& other);
    ~CVarient();

    const CVarient& operator=(const CVarient& other);
    const CVarient& operator=(int value);
    const CVarient& operator=(unsigned value);
    const CVarient& operator=(float value);
    const CVarient& operator=(CColor value);
    const CVarient& operator=(TVector3<float> value);
    const CVarient& operator=(const wchar_t* text);
    const CVarient& operator=(SFileData file);
    const CVarient& operator=(SComboBoxData combo);
    const CVarient& operator=(SMemory memory);

    EVarientType Type() const;
    // Payload bytes held.
    unsigned MemSize() const;

    int Int() const;
    unsigned Uint() const;
    float Float() const;
    CColor Color() const;
    TVector3<float> Vec3() const;
    unsigned short ComIndex() const;
    const wchar_t* ComItems() const;
    const wchar_t* Str() const;
    const wchar_t* FileName() const;
    const void* Mem() const;

    // Equal types, sizes and payload bytes.
    bool operator==(const CVarient& other) const;
    bool operator!=(const CVarient& other) const;

private:
    friend struct detail::VarientStore;

    // Makes the payload `size` bytes copied from `src`; the type is unchanged.
    void _Assign(const void* src, unsigned size);

    EVarientType m_type;
    unsigned m_size;
    unsigned m_capacity;
    unsigned char* m_data;
};

} // namespace Orvex

#endif // ORVEX_OBJECTS_ORVEXVARIENT_H
