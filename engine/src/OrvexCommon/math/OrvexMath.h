// Values and geometry.
#ifndef ORVEX_MATH_ORVEXMATH_H
#define ORVEX_MATH_ORVEXMATH_H

#include "OrvexCommon/math/OrvexCamera.h"
#include "OrvexCommon/math/OrvexGeometry.h"
#include "OrvexCommon/math/OrvexObject.h"
#include "OrvexCommon/math/OrvexTrigTable.h"
#include "OrvexCommon/math/OrvexValueTypes.h"
#include "OrvexCommon/math/OrvexVarient.h"
#include "OrvexCommon/math/OrvexVirtualSlot.h"

#endif // ORVEX_MATH_ORVEXMATH_H
