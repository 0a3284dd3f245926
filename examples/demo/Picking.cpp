// The demo's picking scene: a camera, a box and a triangle, and which of them
// lies under a few mouse positions; then a point projected onto the screen
// and back.
#include <OrvexCommon/math/OrvexMath.h>

#include <cmath>
#include <cstdio>

namespace {

using Orvex::CMatrix;
typedef Orvex::TVector3<float> Vec3;

Vec3 Normalized(Vec3 v) {
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return Vec3{v.x / length, v.y / length, v.z / length};
}

Vec3 Cross(Vec3 a, Vec3 b) {
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float Dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// The library's conventions: points are row vectors (p' = p x M), view space
// looks down +z, projected depth runs from 0 at the near plane to 1 at the far.
CMatrix LookAt(Vec3 eye, Vec3 target, Vec3 up) {
    const Vec3 z = Normalized(Vec3{target.x - eye.x, target.y - eye.y, target.z - eye.z});
    const Vec3 x = Normalized(Cross(up, z));
    const Vec3 y = Cross(z, x);
    return CMatrix{{x.x, y.x, z.x, 0, x.y, y.y, z.y, 0, x.z, y.z, z.z, 0, -Dot(x, eye),
                    -Dot(y, eye), -Dot(z, eye), 1}};
}

CMatrix Perspective(float fovY, float aspect, float zNear, float zFar) {
    const float yScale = 1.0f / std::tan(fovY / 2);
    const float depth = zFar / (zFar - zNear);
    return CMatrix{
        {yScale / aspect, 0, 0, 0, 0, yScale, 0, 0, 0, 0, depth, 1, 0, 0, -zNear * depth, 0}};
}

CMatrix Multiply(const CMatrix& a, const CMatrix& b) {
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

} // namespace

void ShowPicking() {
    std::printf("\n== picking and projection ==\n");
    const Orvex::TRect<int> viewport = {0, 0, 800, 600};
    const CMatrix view = LookAt(Vec3{0, 3, -8}, Vec3{0, 0, 0}, Vec3{0, 1, 0});
    const CMatrix proj = Perspective(1.0471976f, 800.0f / 600.0f, 0.5f, 100.0f);
    const CMatrix viewProj = Multiply(view, proj);
    std::printf("  camera at (0, 3, -8) looking at the origin, 60 degrees, viewport 800 x 600\n");

    const Vec3 boxCenter = {-2, 0.5f, 0}, boxSize = {1.5f, 1, 1.5f};
    const Vec3 a = {1, 0, 0}, b = {3, 0, 0}, c = {2, 2, 0};
    std::printf("  a box 1.5 x 1 x 1.5 around (-2, 0.5, 0); a triangle (1,0,0) (3,0,0) (2,2,0)\n");

    const Vec3 boxOnScreen = Orvex::SceneToScreen(viewport, boxCenter, viewProj);
    const Vec3 triangleOnScreen = Orvex::SceneToScreen(viewport, Vec3{2, 0.7f, 0}, viewProj);
    const Orvex::TVector2<int> mice[] = {
        {static_cast<int>(boxOnScreen.x), static_cast<int>(boxOnScreen.y)},
        {static_cast<int>(triangleOnScreen.x), static_cast<int>(triangleOnScreen.y)},
        {400, 80}};
    for (const Orvex::TVector2<int>& mouse : mice) {
        const bool box = Orvex::DetectInBox(mouse, viewport, boxSize, boxCenter, viewProj);
        const bool triangle = Orvex::IsSelectTriangle(mouse, viewport, a, b, c, viewProj);
        std::printf("  mouse at (%d, %d): %s\n", mouse.x, mouse.y,
                    box        ? "the box"
                    : triangle ? "the triangle"
                               : "nothing");
    }

    const Vec3 point = {1.25f, 0.5f, 2};
    const Vec3 screen = Orvex::SceneToScreen(viewport, point, viewProj);
    const Vec3 back = Orvex::ScreenToScene(viewport, screen, view, proj);
    std::printf("  (%.2f, %.2f, %.2f) projects to pixel (%.1f, %.1f) at depth %.4f\n", point.x,
                point.y, point.z, screen.x, screen.y, screen.z);
    std::printf("  and comes back as (%.4f, %.4f, %.4f)\n", back.x, back.y, back.z);

    const Orvex::CTrigFunctionTable& trig = Orvex::CTrigFunctionTable::Instance();
    std::printf("  table sine of 30 degrees %.5f, arcsine of 0.5 %.5f rad\n", trig.Sin(0.5235988f),
                trig.ASin(0.5f));
}
