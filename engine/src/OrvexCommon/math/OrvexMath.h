// Values and geometry.
#ifndef ORVEX_MATH_ORVEXMATH_H
#define ORVEX_MATH_ORVEXMATH_H

#include "OrvexCommon/math/OrvexObject.h"

#endif // ORVEX_MATH_ORVEXMATH_H
