// The small value types shared by the variant and the picking geometry: plain
// records with public fields in the order given, no invariants, trivially
// copyable, so their bytes are exactly their fields.
#ifndef ORVEX_OBJECTS_ORVEXVALUETYPES_H
#define ORVEX_OBJECTS_ORVEXVALUETYPES_H

namespace Orvex {

// A point or direction: x, y, z.
template <typename T> struct TVector3 {
    T x;
    T y;
    T z;
};

// A screen position: x, y.
template <typename T> struct TVector2 {
    T x;
    T y;
};

// A rectangle in pixels: left, top, right, bottom.
template <typename T> struct TRect {
    T left;
    T top;
    T right;
    T bottom;
};

// A colour packed into one 32-bit value; the library never looks inside it.
struct CColor {
    unsigned int value;
};

// A 4x4 matrix of floats stored row by row: element (row r, column c) at
// m[4 * r + c]. Points are row vectors multiplied on the left (p' = p x M),
// so a transform's translation sits in row 3 and column 3 gives w.
struct CMatrix {
    float m[16];
};

static_assert(sizeof(TVector3<float>) == 12, "three floats, no padding");
static_assert(sizeof(CColor) == 4, "one 32-bit value");
static_assert(sizeof(CMatrix) == 64, "sixteen floats");

} // namespace Orvex

#endif // ORVEX_OBJECTS_ORVEXVALUETYPES_H
