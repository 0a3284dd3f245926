// Projection of scene points into a viewport and back.
#include "OrvexCommon/math/OrvexGeometry.h"
#include "OrvexCommon/math/detail/VectorMath.h"

namespace Orvex {

namespace {

using detail::Abs;

// right - left and bottom - top, subtracted without overflow before they
// become floats.
inline float Extent(int low, int high) {
    return static_cast<float>(static_cast<long long>(high) - static_cast<long long>(low));
}

// Inverts an affine transform in place: the upper-left 3 x 3 block by
// cofactors, then the translation row. A matrix whose column 3 is not
// (0, 0, 0, 1) within 0.001 is left unchanged and refused. A singular block
// gives non-finite elements.
bool InvertAffine(CMatrix& matrix) {
    float* m = matrix.m;
    const float tolerance = 0.001f;
    if (Abs(m[15] - 1.0f) > tolerance || Abs(m[3]) > tolerance || Abs(m[7]) > tolerance ||
        Abs(m[11]) > tolerance) {
        return false;
    }
    const float det = m[0] * (m[5] * m[10] - m[6] * m[9]) - m[1] * (m[4] * m[10] - m[6] * m[8]) +
                      m[2] * (m[4] * m[9] - m[5] * m[8]);
    CMatrix inverse;
    float* r = inverse.m;
    r[0] = (m[5] * m[10] - m[6] * m[9]) / det;
    r[1] = (m[2] * m[9] - m[1] * m[10]) / det;
    r[2] = (m[1] * m[6] - m[2] * m[5]) / det;
    r[4] = (m[6] * m[8] - m[4] * m[10]) / det;
    r[5] = (m[0] * m[10] - m[2] * m[8]) / det;
    r[6] = (m[2] * m[4] - m[0] * m[6]) / det;
    r[8] = (m[4] * m[9] - m[5] * m[8]) / det;
    r[9] = (m[1] * m[8] - m[0] * m[9]) / det;
    r[10] = (m[0] * m[5] - m[1] * m[4]) / det;
    r[12] = -(m[12] * r[0] + m[13] * r[4] + m[14] * r[8]);
    r[13] = -(m[12] * r[1] + m[13] * r[5] + m[14] * r[9]);
    r[14] = -(m[12] * r[2] + m[13] * r[6] + m[14] * r[10]);
    r[3] = 0.0f;
    r[7] = 0.0f;
    r[11] = 0.0f;
    r[15] = 1.0f;
    matrix = inverse;
    return true;
}

// Projection space back to view space: orthographic when m[15] != 0, else
// perspective, whose depth m[10] + m[14] / z is solved for the view depth z.
detail::Vec3 Unproject(const detail::Vec3& p, const CMatrix& proj) {
    const float* m = proj.m;
    if (m[15] != 0.0f) {
        return detail::MakeVec3(p.x / m[0], p.y / m[5], (p.z - m[14]) / m[10]);
    }
    const float depth = m[14] / (p.z - m[10]);
    return detail::MakeVec3(p.x * depth / m[0], p.y * depth / m[5], depth);
}

} // namespace

TVector3<float> SceneToScreen(const TRect<int>& viewport, const TVector3<float>& point,
                              const CMatrix& viewProj) {
    const detail::Vec3 v = detail::TransformCoord(point, viewProj);
    const float width = Extent(viewport.left, viewport.right);
    const float height = Extent(viewport.top, viewport.bottom);
    return detail::MakeVec3(width * v.x * 0.5f + width * 0.5f, height * 0.5f - height * v.y * 0.5f,
                            v.z);
}

TVector3<float> ScreenToScene(const TRect<int>& viewport, const TVector3<float>& screen,
                              const CMatrix& view, const CMatrix& proj) {
    const float width = Extent(viewport.left, viewport.right);
    const float height = Extent(viewport.top, viewport.bottom);
    const detail::Vec3 projected = detail::MakeVec3((2.0f * screen.x - width) / width,
                                                    (height - 2.0f * screen.y) / height, screen.z);
    // A view that is no affine transform has no inverse of this kind: it is
    // used as it is.
    CMatrix viewInverse = view;
    InvertAffine(viewInverse);
    return detail::TransformCoord(Unproject(projected, proj), viewInverse);
}

} // namespace Orvex
