// Screen positions against projected triangles and boxes.
#include "OrvexCommon/math/OrvexGeometry.h"
#include "OrvexCommon/math/detail/VectorMath.h"

namespace Orvex {

namespace {

// The signed areas (doubled) that the position spans with each edge of a
// screen triangle: k1 with a-b, k2 with b-c, k3 with c-a. All of one sign
// means the position is inside, whatever the winding.
struct EdgeSigns {
    float k1;
    float k2;
    float k3;
};

EdgeSigns SignsAround(float px, float py, const detail::Vec3& a, const detail::Vec3& b,
                      const detail::Vec3& c) {
    const float dax = a.x - px, day = a.y - py;
    const float dbx = b.x - px, dby = b.y - py;
    const float dcx = c.x - px, dcy = c.y - py;
    EdgeSigns signs;
    signs.k1 = dax * dby - day * dbx;
    signs.k2 = dbx * dcy - dby * dcx;
    signs.k3 = dcx * day - dcy * dax;
    return signs;
}

// Depth 0 (near) and 1 (far) themselves are visible; a non-number is let
// through and then fails every sign test.
bool OutsideDepthRange(const detail::Vec3& screen) {
    return screen.z < 0.0f || screen.z > 1.0f;
}

// The box's corners: 0-3 at -z, 4-7 at +z, each pair sharing x and z with
// +y first. Listed so that the first eight triangles below run round the
// four side faces as a strip.
const int kCornerSigns[8][3] = {{-1, 1, -1}, {-1, -1, -1}, {1, 1, -1}, {1, -1, -1},
                                {1, 1, 1},   {1, -1, 1},   {-1, 1, 1}, {-1, -1, 1}};

// The four side faces, then the faces at -y and +y.
const int kBoxTriangles[12][3] = {{0, 1, 2}, {1, 2, 3}, {2, 3, 4}, {3, 4, 5}, {4, 5, 6}, {5, 6, 7},
                                  {6, 7, 0}, {7, 0, 1}, {1, 3, 7}, {3, 5, 7}, {0, 2, 4}, {0, 4, 6}};

// Unlike a lone triangle, a box face counts its second and third edges, so
// that the seams between the triangles leave no gap; a triangle seen edge-on
// (k1 exactly 0) is passed over.
bool BoxTriangleHolds(const EdgeSigns& s) {
    if (s.k1 > 0.0f) {
        return s.k2 >= 0.0f && s.k3 >= 0.0f;
    }
    if (s.k1 < 0.0f) {
        return s.k2 <= 0.0f && s.k3 <= 0.0f;
    }
    return false;
}

} // namespace

bool IsSelectTriangle(TVector2<int> pos, TRect<int> viewport, TVector3<float> a, TVector3<float> b,
                      TVector3<float> c, const CMatrix& viewProj) {
    const detail::Vec3 sa = SceneToScreen(viewport, a, viewProj);
    const detail::Vec3 sb = SceneToScreen(viewport, b, viewProj);
    const detail::Vec3 sc = SceneToScreen(viewport, c, viewProj);
    if (OutsideDepthRange(sa) || OutsideDepthRange(sb) || OutsideDepthRange(sc)) {
        return false;
    }
    const EdgeSigns s =
        SignsAround(static_cast<float>(pos.x), static_cast<float>(pos.y), sa, sb, sc);
    return (s.k1 > 0.0f && s.k2 > 0.0f && s.k3 > 0.0f) ||
           (s.k1 < 0.0f && s.k2 < 0.0f && s.k3 < 0.0f);
}

bool DetectInBox(TVector2<int> pos, TRect<int> viewport, TVector3<float> size,
                 TVector3<float> center, const CMatrix& viewProj) {
    const detail::Vec3 half = detail::Scale(size, 0.5f);
    detail::Vec3 screen[8];
    for (int i = 0; i < 8; ++i) {
        const int* sign = kCornerSigns[i];
        const detail::Vec3 corner =
            detail::MakeVec3(sign[0] < 0 ? center.x - half.x : center.x + half.x,
                             sign[1] < 0 ? center.y - half.y : center.y + half.y,
                             sign[2] < 0 ? center.z - half.z : center.z + half.z);
        screen[i] = SceneToScreen(viewport, corner, viewProj);
        if (OutsideDepthRange(screen[i])) {
            return false;
        }
    }
    const float px = static_cast<float>(pos.x);
    const float py = static_cast<float>(pos.y);
    for (const int* t : kBoxTriangles) {
        if (BoxTriangleHolds(SignsAround(px, py, screen[t[0]], screen[t[1]], screen[t[2]]))) {
            return true;
        }
    }
    return false;
}

} // namespace Orvex
