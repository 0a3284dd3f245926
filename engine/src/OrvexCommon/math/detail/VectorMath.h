// Single-precision vector helpers of the geometry functions: every
// intermediate is a float. Operations run in the order written (left to right
// for sums).
#ifndef ORVEX_MATH_DETAIL_VECTORMATH_H
#define ORVEX_MATH_DETAIL_VECTORMATH_H

#include "OrvexCommon/objects/OrvexValueTypes.h"

#include <cmath>

namespace Orvex {
namespace detail {

typedef TVector3<float> Vec3;

inline Vec3 MakeVec3(float x, float y, float z) {
    Vec3 v = {x, y, z};
    return v;
}

inline Vec3 Sub(const Vec3& a, const Vec3& b) {
    return MakeVec3(a.x - b.x, a.y - b.y, a.z - b.z);
}

inline Vec3 Add(const Vec3& a, const Vec3& b) {
    return MakeVec3(a.x + b.x, a.y + b.y, a.z + b.z);
}

inline Vec3 Scale(const Vec3& v, float s) {
    return MakeVec3(v.x * s, v.y * s, v.z * s);
}

inline float Dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

inline Vec3 Cross(const Vec3& a, const Vec3& b) {
    return MakeVec3(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

inline float Length(const Vec3& v) {
    return std::sqrt(Dot(v, v));
}

inline float Abs(float x) {
    return x < 0.0f ? -x : x;
}

// p x M with perspective division; a point whose w is exactly 0 becomes the
// origin.
inline Vec3 TransformCoord(const Vec3& p, const CMatrix& matrix) {
    const float* m = matrix.m;
    const float w = p.x * m[3] + p.y * m[7] + p.z * m[11] + m[15];
    if (w == 0.0f) {
        return MakeVec3(0.0f, 0.0f, 0.0f);
    }
    return MakeVec3((p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12]) / w,
                    (p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13]) / w,
                    (p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]) / w);
}

} // namespace detail
} // namespace Orvex

#endif // ORVEX_MATH_DETAIL_VECTORMATH_H
