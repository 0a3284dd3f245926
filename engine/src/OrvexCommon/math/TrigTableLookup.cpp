// Reading the trigonometric table: one truncating index computation and one
// load per call.

#include "OrvexCommon/math/OrvexTrigTable.h"
#include "OrvexCommon/math/detail/TrigConstants.h"

#include <cmath>
#include <limits>

namespace Orvex {

namespace {

const float kNotANumber = std::numeric_limits<float>::quiet_NaN();
// Below this magnitude the scaled angle converts to int without overflow.
const double kDirectLimit = 2147483648.0;

// Slow path of the index for angles beyond 2^31 steps, where converting to
// int would be undefined: the remainder modulo a turn is exact and has the
// same low bits as the truncated value. Infinity and non-numbers give -1.
int LargeTurnIndex(double steps) {
    if (!(steps - steps == 0.0)) {
        return -1;
    }
    return static_cast<int>(std::fmod(steps, detail::kStepsPerTurn)) & detail::kTurnMask;
}

// The angle in sine steps (262 144 to the turn), truncated toward zero and
// kept within one turn (two's complement, so negative angles wrap): bit 16
// mirrors the quadrant, bit 17 negates; the low 16 bits are the step.
// Shared by Sin and Cos, which the library cannot inline into each other
// (an exported function may be replaced at load time).
inline float TableSin(const float* table, float x) {
    const double fullTurn = 4.0 * static_cast<double>(detail::kHalfPi);
    const double steps = static_cast<double>(x) / fullTurn * detail::kStepsPerTurn;
    int index;
    if (steps > -kDirectLimit && steps < kDirectLimit) {
        index = static_cast<int>(steps) & detail::kTurnMask;
    } else {
        index = LargeTurnIndex(steps);
        if (index < 0) {
            return kNotANumber; // no angle to look up
        }
    }
    const int step = index & 0xFFFF;
    float value;
    if ((index & 0x10000) == 0) {
        value = table[step];
    } else {
        // Mirrored quadrant; step 0 is exactly a quarter turn, past the table.
        value = step == 0 ? 1.0f : table[0x10000 - step];
    }
    return (index & 0x20000) != 0 ? -value : value;
}

} // namespace

float CTrigFunctionTable::Sin(float x) const {
    return TableSin(m_sinTable, x);
}

float CTrigFunctionTable::Cos(float x) const {
    return TableSin(m_sinTable, detail::kHalfPi - x);
}

float CTrigFunctionTable::ASin(float x) const {
    if (x != x) {
        return x; // a non-number has no place in the table
    }
    float magnitude = x < 0.0f ? -x : x;
    if (magnitude > 1.0f) {
        magnitude = 1.0f;
    }
    const int index = static_cast<int>(magnitude * static_cast<float>(TABLE_SIZE));
    const float value = index < TABLE_SIZE ? m_asinTable[index] : detail::kHalfPi;
    return x < 0.0f ? -value : value;
}

float CTrigFunctionTable::ACos(float x) const {
    return detail::kHalfPi - ASin(x);
}

} // namespace Orvex
