// Sine, cosine, arcsine and arccosine answered from two tables of 65 536
// single-precision values: one truncating index computation and one load per
// call, no interpolation. Precision is that of the table step: a quarter turn
// in 65 536 steps for the sine, [0, 1) in 65 536 steps for the arcsine.
//
// The entries are the runtime's double sin and asin of float arguments built
// on the single-precision pi/2, so they follow the platform's runtime (glibc's
// and Wine's gave identical tables). Sin scales the angle to steps in double,
// truncates toward zero and keeps the low 18 bits (quadrant, mirror, sign);
// Cos and ACos are Sin and ASin shifted by the float pi/2. An angle beyond
// 2^31 steps (about 51 000 rad) takes its index from the exact remainder
// modulo a turn instead of an undefined conversion, and infinities and
// non-numbers never index a table.
#ifndef ORVEX_MATH_ORVEXTRIGTABLE_H
#define ORVEX_MATH_ORVEXTRIGTABLE_H

#include "OrvexCommon/base/OrvexExport.h"

namespace Orvex {

class ORVEX_API CTrigFunctionTable {
public:
    // Entries per table.
    static const int TABLE_SIZE = 65536;

    // The process-wide table, a function-local static built on the first call
    // (safe from several threads); it has nothing to destroy.
    static const CTrigFunctionTable& Instance();

    CTrigFunctionTable& operator=(const CTrigFunctionTable& other);

    // Angles in radians, any finite value (reduced to one turn); infinity and
    // a non-number give a non-number.
    float Sin(float x) const;
    float Cos(float x) const;
    // Arguments beyond [-1, 1], infinities included, are clamped to it; a
    // non-number gives one.
    float ASin(float x) const;
    float ACos(float x) const;

private:
    CTrigFunctionTable();

    // sinTable[i] = sin(i x (pi/2) / 65536): one quarter turn, its end excluded.
    float m_sinTable[TABLE_SIZE];
    // asinTable[i] = asin(i / 65536): [0, 1), 1 excluded.
    float m_asinTable[TABLE_SIZE];
};

} // namespace Orvex

#endif // ORVEX_MATH_ORVEXTRIGTABLE_H
