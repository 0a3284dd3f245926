// A point inside a triangle, and a ray against a triangle, in scene space.
#include "OrvexCommon/math/OrvexGeometry.h"
#include "OrvexCommon/math/detail/VectorMath.h"

namespace Orvex {

namespace {

using detail::Abs;
using detail::Vec3;

// The unit normal; a zero vector gives non-numbers, which fail every
// comparison below.
Vec3 UnitOf(const Vec3& v) {
    const float length = detail::Length(v);
    return detail::MakeVec3(v.x / length, v.y / length, v.z / length);
}

bool SameDirection(const Vec3& p, const Vec3& q) {
    const float tolerance = 0.0001f;
    return Abs(p.x - q.x) < tolerance && Abs(p.y - q.y) < tolerance && Abs(p.z - q.z) < tolerance;
}

} // namespace

// The point is inside when the three triangles it spans with the edges all
// turn the same way: their unit normals agree.
bool IsInTriangle(const TVector3<float>& point, const TVector3<float>& a, const TVector3<float>& b,
                  const TVector3<float>& c) {
    const Vec3 pa = detail::Sub(a, point);
    const Vec3 pb = detail::Sub(b, point);
    const Vec3 pc = detail::Sub(c, point);
    const Vec3 nab = UnitOf(detail::Cross(pa, pb));
    const Vec3 nbc = UnitOf(detail::Cross(pb, pc));
    const Vec3 nca = UnitOf(detail::Cross(pc, pa));
    return SameDirection(nab, nbc) && SameDirection(nca, nbc);
}

bool IsLineIntersectTriangle(TVector3<float>& hit, const TVector3<float>& origin,
                             const TVector3<float>& direction, const TVector3<float>& a,
                             const TVector3<float>& b, const TVector3<float>& c) {
    // hit may be one of the other arguments: a is read after hit is written.
    const Vec3 corner = a;
    const Vec3 e1 = detail::Sub(b, corner);
    const Vec3 e2 = detail::Sub(c, corner);
    Vec3 normal = detail::Cross(e1, e2);
    const float length = detail::Length(normal);
    if (length > 0.0f) {
        normal = detail::MakeVec3(normal.x / length, normal.y / length, normal.z / length);
    }
    const float offset = -detail::Dot(normal, corner);

    // The ray against the triangle's plane.
    const float along = detail::Dot(direction, normal);
    if (along == 0.0f) {
        return false;
    }
    const float s = (-offset - detail::Dot(normal, origin)) / along;
    if (s < 0.0f) {
        return false;
    }
    hit = detail::Add(origin, detail::Scale(direction, s));

    // Barycentric coordinates of the hit point along e1 and e2.
    const Vec3 w = detail::Sub(hit, corner);
    const float e1e1 = detail::Dot(e1, e1);
    const float e2e2 = detail::Dot(e2, e2);
    const float e1e2 = detail::Dot(e1, e2);
    const float we1 = detail::Dot(w, e1);
    const float we2 = detail::Dot(w, e2);
    const float q = e1e1 * e2e2 - e1e2 * e1e2;
    const float u = (e2e2 * we1 - e1e2 * we2) / q;
    const float v = (e1e1 * we2 - e1e2 * we1) / q;
    if (u < 0.0f) {
        return false;
    }
    return v >= 0.0f && 1.0f - u - v >= 0.0f;
}

} // namespace Orvex
