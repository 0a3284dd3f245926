// The constants shared by the building and the reading of the trigonometric
// table.
#ifndef ORVEX_MATH_DETAIL_TRIGCONSTANTS_H
#define ORVEX_MATH_DETAIL_TRIGCONSTANTS_H

namespace Orvex {
namespace detail {

// A quarter turn in single precision (1.5707963705062866): the table's angles
// and results are built on this value, not on the exact one.
const float kHalfPi = 1.57079637f;
// One step of either table: 2^-16.
const float kTableStep = 1.0f / 65536.0f;
// Sine steps in a full turn (four quarters of 65 536), and the mask that keeps
// an index within one turn.
const double kStepsPerTurn = 262144.0;
const int kTurnMask = 0x3FFFF;

} // namespace detail
} // namespace Orvex

#endif // ORVEX_MATH_DETAIL_TRIGCONSTANTS_H
