// The demo's picking scene: a camera, a box and a triangle, and which of them
// lies under a few mouse positions; then a point projected onto the screen
// and back.
#include <OrvexCommon/math/OrvexMath.h>

#include <cmath>
#include <cstdio>

using Orvex::CMatrix;
typedef Orvex::TVector3<float> Vec3;

void ShowPicking() {
    std::printf("\n== picking and projection ==\n");
    const Orvex::TRect<int> viewport = {0, 0, 800, 600};
    const CMatrix view = Orvex::LookAtMatrix(Vec3{0, 3, -8}, Vec3{0, 0, 0}, Vec3{0, 1, 0});
    const CMatrix proj = Orvex::PerspectiveMatrix(1.0471976f, 800.0f / 600.0f, 0.5f, 100.0f);
    const CMatrix viewProj = Orvex::MultiplyMatrix(view, proj);
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
