// Building the matrices the picking functions take: a camera's view, a
// perspective or orthographic projection, and their product. Header-only
// conveniences in the geometry's conventions: points are row vectors
// (p' = p x M), view space has x right, y up and z forward (left-handed), and
// projected depth runs from 0 at the near plane to 1 at the far one.
#ifndef ORVEX_MATH_ORVEXCAMERA_H
#define ORVEX_MATH_ORVEXCAMERA_H

#include "OrvexCommon/objects/OrvexValueTypes.h"

#include <cmath>

namespace Orvex {

inline CMatrix IdentityMatrix() {
    CMatrix m = {};
    m.m[0] = m.m[5] = m.m[10] = m.m[15] = 1.0f;
    return m;
}

// a x b: first a, then b.
inline CMatrix MultiplyMatrix(const CMatrix& a, const CMatrix& b) {
    CMatrix r = {};
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            for (int k = 0; k < 4; ++k) {
                r.m[4 * row + col] += a.m[4 * row + k] * b.m[4 * k + col];
            }
        }
    }
    return r;
}

namespace camera_detail {

inline TVector3<float> Normalized(const TVector3<float>& v) {
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return TVector3<float>{v.x / length, v.y / length, v.z / length};
}

inline TVector3<float> Cross(const TVector3<float>& a, const TVector3<float>& b) {
    return TVector3<float>{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline float Dot(const TVector3<float>& a, const TVector3<float>& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

} // namespace camera_detail

// A camera at `eye` looking at `target`, `up` giving the upward direction.
inline CMatrix LookAtMatrix(const TVector3<float>& eye, const TVector3<float>& target,
                            const TVector3<float>& up) {
    using namespace camera_detail;
    const TVector3<float> z =
        Normalized(TVector3<float>{target.x - eye.x, target.y - eye.y, target.z - eye.z});
    const TVector3<float> x = Normalized(Cross(up, z));
    const TVector3<float> y = Cross(z, x);
    return CMatrix{{x.x, y.x, z.x, 0, x.y, y.y, z.y, 0, x.z, y.z, z.z, 0, -Dot(x, eye),
                    -Dot(y, eye), -Dot(z, eye), 1}};
}

// A perspective projection: vertical field of view `fovY` in radians, width
// over height `aspect`; w is the view depth.
inline CMatrix PerspectiveMatrix(float fovY, float aspect, float zNear, float zFar) {
    const float yScale = 1.0f / std::tan(fovY / 2);
    const float depth = zFar / (zFar - zNear);
    CMatrix m = {};
    m.m[0] = yScale / aspect;
    m.m[5] = yScale;
    m.m[10] = depth;
    m.m[11] = 1.0f;
    m.m[14] = -zNear * depth;
    return m;
}

// An orthographic projection of `width` by `height` around the view axis.
inline CMatrix OrthographicMatrix(float width, float height, float zNear, float zFar) {
    CMatrix m = IdentityMatrix();
    m.m[0] = 2.0f / width;
    m.m[5] = 2.0f / height;
    m.m[10] = 1.0f / (zFar - zNear);
    m.m[14] = -zNear / (zFar - zNear);
    return m;
}

} // namespace Orvex

#endif // ORVEX_MATH_ORVEXCAMERA_H
