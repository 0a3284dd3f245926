#include "OrvexCommon/math/OrvexCamera.h"
#include "OrvexCommon/math/OrvexGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace Orvex;

typedef TVector3<float> Vec3;

Vec3 V(float x, float y, float z) {
    return Vec3{x, y, z};
}

float DotOf(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3 Normalized(Vec3 v) {
    const float length = std::sqrt(DotOf(v, v));
    return V(v.x / length, v.y / length, v.z / length);
}

const TRect<int> kViewport = {0, 0, 800, 600};

// A camera 10 units back and 2 up, looking at the origin; far plane at 100.
struct Camera {
    CMatrix view = LookAtMatrix(V(0, 2, -10), V(0, 0, 0), V(0, 1, 0));
    CMatrix proj = PerspectiveMatrix(1.0471976f, 800.0f / 600.0f, 1.0f, 100.0f);
    CMatrix viewProj = MultiplyMatrix(view, proj);
};

void ExpectNear(Vec3 got, Vec3 want, float tolerance) {
    EXPECT_NEAR(got.x, want.x, tolerance);
    EXPECT_NEAR(got.y, want.y, tolerance);
    EXPECT_NEAR(got.z, want.z, tolerance);
}

TVector2<int> Pos(int x, int y) {
    return TVector2<int>{x, y};
}

} // namespace

TEST(Projection, IdentityMapsProjectionSpaceOntoTheViewport) {
    const CMatrix identity = IdentityMatrix();
    ExpectNear(SceneToScreen(kViewport, V(0, 0, 0), identity), V(400, 300, 0), 0);
    ExpectNear(SceneToScreen(kViewport, V(1, 1, 0.5f), identity), V(800, 0, 0.5f), 0);
    ExpectNear(SceneToScreen(kViewport, V(-1, -1, 1), identity), V(0, 600, 1), 0);
    // Screen positions are relative to the viewport's corner.
    const TRect<int> shifted = {100, 50, 900, 650};
    ExpectNear(SceneToScreen(shifted, V(0, 0, 0), identity), V(400, 300, 0), 0);
    // w of exactly 0 gives the origin before the viewport mapping.
    CMatrix flat = identity;
    flat.m[15] = 0.0f;
    ExpectNear(SceneToScreen(kViewport, V(0, 0, 0), flat), V(400, 300, 0), 0);
}

TEST(Projection, ExtremeViewportDoesNotOverflow) {
    const TRect<int> wide = {std::numeric_limits<int>::min(), 0, std::numeric_limits<int>::max(),
                             2};
    const Vec3 screen = SceneToScreen(wide, V(1, 0, 0), IdentityMatrix());
    EXPECT_FLOAT_EQ(screen.x, 4294967295.0f);
    EXPECT_FLOAT_EQ(screen.y, 1.0f);
}

TEST(Projection, PerspectiveRoundTrip) {
    const Camera camera;
    const Vec3 points[] = {V(0, 0, 0), V(1, 1, 1), V(-3, 2, 5), V(4, -1, -6), V(0.25f, 7, 40)};
    for (const Vec3& point : points) {
        const Vec3 screen = SceneToScreen(kViewport, point, camera.viewProj);
        ASSERT_GT(screen.z, 0.0f);
        ASSERT_LT(screen.z, 1.0f);
        const Vec3 back = ScreenToScene(kViewport, screen, camera.view, camera.proj);
        // Depth resolution falls with distance: allow for it.
        const float distance = std::sqrt(DotOf(point, point)) + 10.0f;
        ExpectNear(back, point, 2e-6f * distance * distance);
    }
}

TEST(Projection, OrthographicRoundTripThroughAScaledMovedView) {
    CMatrix view = IdentityMatrix();
    view.m[0] = 2.0f;
    view.m[5] = 0.5f;
    view.m[12] = 3.0f;
    view.m[13] = -1.0f;
    view.m[14] = 4.0f;
    const CMatrix proj = OrthographicMatrix(20.0f, 15.0f, 0.5f, 50.0f);
    const Vec3 point = V(1.5f, -2.0f, 6.0f);
    const Vec3 screen = SceneToScreen(kViewport, point, MultiplyMatrix(view, proj));
    ExpectNear(ScreenToScene(kViewport, screen, view, proj), point, 1e-4f);
}

// A view that is not affine has no inverse of that kind: the point goes
// through the view as it is.
TEST(Projection, NonAffineViewIsUsedUnchanged) {
    CMatrix view = IdentityMatrix();
    view.m[15] = 2.0f;
    const Vec3 scene = ScreenToScene(kViewport, V(600, 150, 0.25f), view, IdentityMatrix());
    ExpectNear(scene, V(0.25f, 0.25f, 0.125f), 0);
    // Within the tolerance it counts as affine and is inverted.
    view.m[15] = 1.0005f;
    view.m[12] = 1.0f;
    ExpectNear(ScreenToScene(kViewport, V(600, 150, 0.25f), view, IdentityMatrix()),
               V(-0.5f, 0.5f, 0.25f), 1e-6f);
}

TEST(SelectTriangle, InsideButNotOnVerticesOrEdgesEitherWinding) {
    const CMatrix identity = IdentityMatrix();
    // Projects to (400, 300), (600, 300), (400, 150).
    const Vec3 a = V(0, 0, 0.5f), b = V(0.5f, 0, 0.5f), c = V(0, 0.5f, 0.5f);
    EXPECT_TRUE(IsSelectTriangle(Pos(450, 280), kViewport, a, b, c, identity));
    EXPECT_TRUE(IsSelectTriangle(Pos(450, 280), kViewport, a, c, b, identity));
    EXPECT_FALSE(IsSelectTriangle(Pos(400, 300), kViewport, a, b, c, identity));
    EXPECT_FALSE(IsSelectTriangle(Pos(600, 300), kViewport, a, c, b, identity));
    EXPECT_FALSE(IsSelectTriangle(Pos(500, 300), kViewport, a, b, c, identity));
    EXPECT_FALSE(IsSelectTriangle(Pos(550, 200), kViewport, a, b, c, identity));
    EXPECT_FALSE(IsSelectTriangle(Pos(399, 290), kViewport, a, b, c, identity));
}

TEST(SelectTriangle, PerspectiveCameraPicksTheTriangleUnderThePosition) {
    const Camera camera;
    const Vec3 a = V(-1, 0, 0), b = V(1, 0, 0), c = V(0, 2, 0);
    const Vec3 centroid = V(0, 2.0f / 3, 0);
    const Vec3 screen = SceneToScreen(kViewport, centroid, camera.viewProj);
    const TVector2<int> over = Pos(static_cast<int>(screen.x), static_cast<int>(screen.y));
    EXPECT_TRUE(IsSelectTriangle(over, kViewport, a, b, c, camera.viewProj));
    EXPECT_FALSE(IsSelectTriangle(Pos(over.x + 200, over.y), kViewport, a, b, c, camera.viewProj));
}

TEST(SelectTriangle, NeverSelectedBehindTheCameraOrBeforeTheNearPlane) {
    const Camera camera;
    // Looking along +z from z = -10, the near plane at z = -9.
    const CMatrix viewProj =
        MultiplyMatrix(LookAtMatrix(V(0, 0, -10), V(0, 0, 0), V(0, 1, 0)), camera.proj);
    // Behind the eye, and between the eye and the near plane.
    const float depths[] = {-14.0f, -9.5f};
    for (float z : depths) {
        const Vec3 a = V(-50, -50, z), b = V(50, -50, z), c = V(0, 60, z);
        for (int x = 0; x <= 800; x += 40) {
            for (int y = 0; y <= 600; y += 40) {
                ASSERT_FALSE(IsSelectTriangle(Pos(x, y), kViewport, a, b, c, viewProj))
                    << z << " " << x << "," << y;
            }
        }
    }
}

TEST(DetectBox, PositionsOverAndBesideTheBox) {
    const Camera camera;
    const Vec3 size = V(2, 2, 2), center = V(0, 0, 0);
    const Vec3 middle = SceneToScreen(kViewport, center, camera.viewProj);
    const int mx = static_cast<int>(middle.x), my = static_cast<int>(middle.y);
    EXPECT_TRUE(DetectInBox(Pos(mx, my), kViewport, size, center, camera.viewProj));
    // The top face is seen from above: a position just over the front edge.
    const Vec3 top = SceneToScreen(kViewport, V(0, 1, 0.5f), camera.viewProj);
    EXPECT_TRUE(DetectInBox(Pos(static_cast<int>(top.x), static_cast<int>(top.y)), kViewport, size,
                            center, camera.viewProj));
    EXPECT_FALSE(DetectInBox(Pos(mx + 150, my), kViewport, size, center, camera.viewProj));
    EXPECT_FALSE(DetectInBox(Pos(mx, my - 150), kViewport, size, center, camera.viewProj));
}

TEST(DetectBox, FalseOnceACornerLiesBeyondTheFarOrBeforeTheNearPlane) {
    const Camera camera;
    // Centred on the view axis, 98.5 units ahead: a box 4 units deep has
    // corners beyond the far plane at 100, though the position is over it.
    const Vec3 axis = Normalized(V(0, -2, 10));
    const Vec3 far = V(98.5f * axis.x, 2 + 98.5f * axis.y, -10 + 98.5f * axis.z);
    const Vec3 screen = SceneToScreen(kViewport, far, camera.viewProj);
    ASSERT_GT(screen.z, 0.0f);
    ASSERT_LT(screen.z, 1.0f);
    const TVector2<int> over = Pos(static_cast<int>(screen.x), static_cast<int>(screen.y));
    EXPECT_TRUE(DetectInBox(over, kViewport, V(1, 1, 1), far, camera.viewProj));
    EXPECT_FALSE(DetectInBox(over, kViewport, V(1, 1, 4), far, camera.viewProj));
    // A box round the eye has corners behind it.
    EXPECT_FALSE(DetectInBox(Pos(400, 300), kViewport, V(4, 4, 4), V(0, 2, -10), camera.viewProj));
}

TEST(PointInTriangle, InsideOnlyStrictlyWithinAndInPlane) {
    const Vec3 a = V(0, 0, 0), b = V(3, 0, 1), c = V(0, 3, 2);
    const Vec3 centroid = V(1, 1, 1);
    EXPECT_TRUE(IsInTriangle(centroid, a, b, c));
    EXPECT_TRUE(IsInTriangle(centroid, a, c, b));
    EXPECT_FALSE(IsInTriangle(a, a, b, c));
    EXPECT_FALSE(IsInTriangle(V(1.5f, 0, 0.5f), a, b, c)); // middle of an edge
    EXPECT_FALSE(IsInTriangle(V(2, 2, 2), a, b, c));       // in the plane, outside
    EXPECT_FALSE(IsInTriangle(V(1, 1, 2), a, b, c));       // off the plane
    EXPECT_FALSE(IsInTriangle(centroid, a, a, c));         // degenerate
}

TEST(RayTriangle, HitsInsideAndOnVerticesAndWritesThePlanePoint) {
    const Vec3 a = V(0, 0, 5), b = V(4, 0, 5), c = V(0, 4, 5);
    Vec3 hit = V(-1, -1, -1);
    EXPECT_TRUE(IsLineIntersectTriangle(hit, V(1, 1, 0), V(0, 0, 2), a, b, c));
    ExpectNear(hit, V(1, 1, 5), 0);
    EXPECT_TRUE(IsLineIntersectTriangle(hit, V(4, 0, 1), V(0, 0, 1), a, b, c));
    ExpectNear(hit, b, 0);
    // The origin on the plane counts.
    EXPECT_TRUE(IsLineIntersectTriangle(hit, V(1, 2, 5), V(0.3f, 0, 1), a, b, c));
    ExpectNear(hit, V(1, 2, 5), 0);
    // The plane is met outside the triangle: false, with the point written.
    EXPECT_FALSE(IsLineIntersectTriangle(hit, V(3, 3, 0), V(0, 0, 1), a, b, c));
    ExpectNear(hit, V(3, 3, 5), 0);
    EXPECT_FALSE(IsLineIntersectTriangle(hit, V(-1, 1, 0), V(0, 0, 1), a, b, c));
    ExpectNear(hit, V(-1, 1, 5), 0);
}

TEST(RayTriangle, ParallelOrAwayLeavesHitAlone) {
    const Vec3 a = V(0, 0, 5), b = V(4, 0, 5), c = V(0, 4, 5);
    const Vec3 untouched = V(7, 8, 9);
    Vec3 hit = untouched;
    EXPECT_FALSE(IsLineIntersectTriangle(hit, V(1, 1, 0), V(1, 0, 0), a, b, c));
    ExpectNear(hit, untouched, 0);
    EXPECT_FALSE(IsLineIntersectTriangle(hit, V(1, 1, 0), V(0, 0, -1), a, b, c));
    ExpectNear(hit, untouched, 0);
    EXPECT_FALSE(IsLineIntersectTriangle(hit, V(1, 1, 0), V(0, 0, 1), a, a, c));
    ExpectNear(hit, untouched, 0);
}

// hit may share its storage with an argument: the vertex is read first.
TEST(RayTriangle, HitMayBeTheFirstVertex) {
    Vec3 a = V(0, 0, 5);
    EXPECT_TRUE(IsLineIntersectTriangle(a, V(1, 1, 0), V(0, 0, 1), a, V(4, 0, 5), V(0, 4, 5)));
    ExpectNear(a, V(1, 1, 5), 0);
}
