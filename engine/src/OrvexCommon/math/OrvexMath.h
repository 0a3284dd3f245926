// Geometry: the camera, picking and projection, the trigonometric table.
#ifndef ORVEX_MATH_ORVEXMATH_H
#define ORVEX_MATH_ORVEXMATH_H

#include "OrvexCommon/math/OrvexCamera.h"
#include "OrvexCommon/math/OrvexGeometry.h"
#include "OrvexCommon/math/OrvexTrigTable.h"

#endif // ORVEX_MATH_ORVEXMATH_H
