// Picking and projection: project scene points into a viewport and back, test
// a screen position against a projected triangle or box, test a point against
// a triangle and intersect a ray with one.
//
// Conventions: points are row vectors multiplied on the left (p' = p x M),
// w comes from column 3; projected depth runs from 0 (near) to 1 (far). Screen
// positions are relative to the viewport's corner: x from 0 at its left edge
// to its width, y from 0 at its top to its height (y grows downward). All
// arithmetic is single precision and gives the same results on every target.
//
// The implementations (Geometry*.cpp) share the float helpers of
// detail/VectorMath.h. The 32-bit Windows target is built with -msse2
// -mfpmath=sse (the x87 unit would keep intermediates in 80-bit registers and
// round them only when spilled) and every target with -ffp-contract=off, so
// the results are bit-identical across Linux and Windows (checked over
// 200 000 random inputs and every table entry). A viewport's width and height
// are subtracted in 64 bits (no overflow for any int).
#ifndef ORVEX_MATH_ORVEXGEOMETRY_H
#define ORVEX_MATH_ORVEXGEOMETRY_H

#include "OrvexCommon/base/OrvexExport.h"
#include "OrvexCommon/objects/OrvexValueTypes.h"

namespace Orvex {

// Screen x, y and projected depth of a scene point. A point whose w is 0 is
// taken as (0, 0, 0) before the viewport mapping.
ORVEX_API TVector3<float> SceneToScreen(const TRect<int>& viewport, const TVector3<float>& point,
                                        const CMatrix& viewProj);

// The scene point that projects to the screen position and depth. proj with
// m[15] != 0 is taken as orthographic, otherwise as perspective; view must be
// an affine transform (column 3 = 0, 0, 0, 1 within 0.001), else it is used
// as it is instead of its inverse. A singular view gives non-finite values.
ORVEX_API TVector3<float> ScreenToScene(const TRect<int>& viewport, const TVector3<float>& screen,
                                        const CMatrix& view, const CMatrix& proj);

// Whether the screen position lies strictly inside the projected triangle
// (either winding; the edges do not count). False when any vertex projects in
// front of the near plane or beyond the far plane.
ORVEX_API bool IsSelectTriangle(TVector2<int> pos, TRect<int> viewport, TVector3<float> a,
                                TVector3<float> b, TVector3<float> c, const CMatrix& viewProj);

// Whether the screen position lies on the projected axis-aligned box of the
// given size around center (edges count). False when any corner projects in
// front of the near plane or beyond the far plane.
ORVEX_API bool DetectInBox(TVector2<int> pos, TRect<int> viewport, TVector3<float> size,
                           TVector3<float> center, const CMatrix& viewProj);

// Whether the point lies inside the triangle, in its plane within a small
// tolerance. Points on an edge or a vertex, and degenerate triangles, give
// false.
ORVEX_API bool IsInTriangle(const TVector3<float>& point, const TVector3<float>& a,
                            const TVector3<float>& b, const TVector3<float>& c);

// Whether the ray from origin along direction (any length, one way, origin
// included) meets the triangle, edges and vertices included. hit receives the
// point where the ray meets the triangle's plane whenever it meets it, even if
// outside the triangle; it is left alone when the ray is parallel to the plane
// or points away from it. The vertices are read before hit is written, so
// hit may be one of the arguments.
ORVEX_API bool IsLineIntersectTriangle(TVector3<float>& hit, const TVector3<float>& origin,
                                       const TVector3<float>& direction, const TVector3<float>& a,
                                       const TVector3<float>& b, const TVector3<float>& c);

} // namespace Orvex

#endif // ORVEX_MATH_ORVEXGEOMETRY_H
