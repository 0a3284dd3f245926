// The trigonometric table beside the runtime's functions in float and double,
// and two picking functions beside the same arithmetic written inline in the
// caller. Each trigonometric case also reports the largest absolute error of
// its contender over a dense sweep (counter "max_error", against the double
// function), so speed and precision read off one table.
#include "OrvexCommon/math/OrvexMath.h"

#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using Orvex::CMatrix;
using Orvex::CTrigFunctionTable;
typedef Orvex::TVector3<float> Vec3;

// Arguments per timed batch: enough that the loop around the calls is noise.
constexpr int kBatch = 4096;

enum class Function { Sin, Cos, ASin };

struct Contender {
    const char* name;
    float (*call)(Function, float);
};

float TableCall(Function function, float x) {
    const CTrigFunctionTable& table = CTrigFunctionTable::Instance();
    switch (function) {
    case Function::Sin:
        return table.Sin(x);
    case Function::Cos:
        return table.Cos(x);
    default:
        return table.ASin(x);
    }
}

// The runtime's function in the precision of T.
template <typename T> T RuntimeCall(Function function, T x) {
    switch (function) {
    case Function::Sin:
        return std::sin(x);
    case Function::Cos:
        return std::cos(x);
    default:
        return std::asin(x);
    }
}

float FloatCall(Function function, float x) {
    return RuntimeCall<float>(function, x);
}

double DoubleCall(Function function, double x) {
    return RuntimeCall<double>(function, x);
}

float DoubleCallAsFloat(Function function, float x) {
    return static_cast<float>(DoubleCall(function, x));
}

const Contender kContenders[] = {
    {"Orvex", TableCall}, {"std-float", FloatCall}, {"std-double", DoubleCallAsFloat}};

// Angles over a few turns either way; arcsine arguments over [-1, 1].
std::vector<float> Arguments(Function function) {
    std::mt19937 random(20261208);
    const float range = function == Function::ASin ? 1.0f : 12.0f;
    std::uniform_real_distribution<float> pick(-range, range);
    std::vector<float> values(kBatch);
    for (float& value : values) {
        value = pick(random);
    }
    return values;
}

// The largest error against the double function over a million evenly spaced
// arguments.
double MaxError(Function function, const Contender& contender) {
    const double range = function == Function::ASin ? 1.0 : 12.0;
    const int count = 1 << 20;
    double worst = 0;
    for (int i = 0; i <= count; ++i) {
        const float x = static_cast<float>(-range + 2 * range * i / count);
        const double error = std::fabs(contender.call(function, x) - DoubleCall(function, x));
        worst = error > worst ? error : worst;
    }
    return worst;
}

// Each contender's calls are written out in its own loop rather than made
// through the pointer: the table's go into the shared library, the runtime's
// into libm, call for call.
template <Function F> void RunTrig(benchmark::State& state, const Contender* contender) {
    const std::vector<float> arguments = Arguments(F);
    const CTrigFunctionTable& table = CTrigFunctionTable::Instance();
    for (auto _ : state) {
        float sum = 0;
        if (contender->call == TableCall) {
            for (float x : arguments) {
                sum += F == Function::Sin   ? table.Sin(x)
                       : F == Function::Cos ? table.Cos(x)
                                            : table.ASin(x);
            }
        } else if (contender->call == FloatCall) {
            for (float x : arguments) {
                sum += F == Function::Sin   ? std::sin(x)
                       : F == Function::Cos ? std::cos(x)
                                            : std::asin(x);
            }
        } else {
            for (float x : arguments) {
                sum += static_cast<float>(DoubleCall(F, x));
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.counters["max_error"] = MaxError(F, *contender);
}

// ----------------------------------------------------------------- picking

// A camera at (0, 3, -8) looking at the origin, 60 degrees, depth 0.5 to 100.
CMatrix CameraViewProj() {
    const CMatrix view = Orvex::LookAtMatrix(Vec3{0, 3, -8}, Vec3{0, 0, 0}, Vec3{0, 1, 0});
    const CMatrix proj = Orvex::PerspectiveMatrix(1.0471976f, 800.0f / 600.0f, 0.5f, 100.0f);
    return Orvex::MultiplyMatrix(view, proj);
}

const Orvex::TRect<int> kViewport = {0, 0, 800, 600};

// What a caller would write in place of the library call.
inline Vec3 InlineSceneToScreen(const Orvex::TRect<int>& viewport, const Vec3& p,
                                const CMatrix& matrix) {
    const float* m = matrix.m;
    const float w = p.x * m[3] + p.y * m[7] + p.z * m[11] + m[15];
    Vec3 v = {0, 0, 0};
    if (w != 0.0f) {
        v = Vec3{(p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12]) / w,
                 (p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13]) / w,
                 (p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]) / w};
    }
    const float width = static_cast<float>(viewport.right - viewport.left);
    const float height = static_cast<float>(viewport.bottom - viewport.top);
    return Vec3{width * v.x * 0.5f + width * 0.5f, height * 0.5f - height * v.y * 0.5f, v.z};
}

inline bool InlineSelectTriangle(Orvex::TVector2<int> pos, const Orvex::TRect<int>& viewport,
                                 const Vec3& a, const Vec3& b, const Vec3& c,
                                 const CMatrix& viewProj) {
    const Vec3 sa = InlineSceneToScreen(viewport, a, viewProj);
    const Vec3 sb = InlineSceneToScreen(viewport, b, viewProj);
    const Vec3 sc = InlineSceneToScreen(viewport, c, viewProj);
    if (sa.z < 0 || sa.z > 1 || sb.z < 0 || sb.z > 1 || sc.z < 0 || sc.z > 1) {
        return false;
    }
    const float px = static_cast<float>(pos.x), py = static_cast<float>(pos.y);
    const float k1 = (sa.x - px) * (sb.y - py) - (sa.y - py) * (sb.x - px);
    const float k2 = (sb.x - px) * (sc.y - py) - (sb.y - py) * (sc.x - px);
    const float k3 = (sc.x - px) * (sa.y - py) - (sc.y - py) * (sa.x - px);
    return (k1 > 0 && k2 > 0 && k3 > 0) || (k1 < 0 && k2 < 0 && k3 < 0);
}

struct PickingInput {
    Vec3 a, b, c;
    Orvex::TVector2<int> pos;
};

std::vector<PickingInput> PickingInputs() {
    std::mt19937 random(20261209);
    std::uniform_real_distribution<float> coordinate(-4.0f, 4.0f);
    std::uniform_int_distribution<int> x(0, 799), y(0, 599);
    std::vector<PickingInput> inputs(kBatch);
    for (PickingInput& input : inputs) {
        input.a = Vec3{coordinate(random), coordinate(random), coordinate(random)};
        input.b = Vec3{input.a.x + 1, input.a.y, input.a.z};
        input.c = Vec3{input.a.x, input.a.y + 1, input.a.z};
        input.pos = Orvex::TVector2<int>{x(random), y(random)};
    }
    return inputs;
}

template <bool Library> void RunSceneToScreen(benchmark::State& state) {
    const std::vector<PickingInput> inputs = PickingInputs();
    const CMatrix viewProj = CameraViewProj();
    for (auto _ : state) {
        float sum = 0;
        for (const PickingInput& input : inputs) {
            const Vec3 s = Library ? Orvex::SceneToScreen(kViewport, input.a, viewProj)
                                   : InlineSceneToScreen(kViewport, input.a, viewProj);
            sum += s.x + s.y;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

template <bool Library> void RunSelectTriangle(benchmark::State& state) {
    const std::vector<PickingInput> inputs = PickingInputs();
    const CMatrix viewProj = CameraViewProj();
    for (auto _ : state) {
        int hits = 0;
        for (const PickingInput& in : inputs) {
            hits += Library ? Orvex::IsSelectTriangle(in.pos, kViewport, in.a, in.b, in.c, viewProj)
                            : InlineSelectTriangle(in.pos, kViewport, in.a, in.b, in.c, viewProj);
        }
        benchmark::DoNotOptimize(hits);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// The inline versions must answer as the library does, or the comparison
// would be between different work.
void CheckPickingAgainstInline() {
    const CMatrix viewProj = CameraViewProj();
    int hits = 0;
    for (const PickingInput& in : PickingInputs()) {
        const bool ours = Orvex::IsSelectTriangle(in.pos, kViewport, in.a, in.b, in.c, viewProj);
        if (ours != InlineSelectTriangle(in.pos, kViewport, in.a, in.b, in.c, viewProj)) {
            std::fprintf(stderr, "IsSelectTriangle differs from the inline version\n");
            std::abort();
        }
        hits += ours;
    }
    std::printf("picking inputs: %d of %d positions on their triangle\n", hits, kBatch);
}

void RegisterAll() {
    const struct {
        const char* name;
        void (*run)(benchmark::State&, const Contender*);
    } cases[] = {{"Sin", RunTrig<Function::Sin>},
                 {"Cos", RunTrig<Function::Cos>},
                 {"ASin", RunTrig<Function::ASin>}};
    for (const auto& c : cases) {
        for (const Contender& contender : kContenders) {
            const std::string name = std::string("OrvexTrig/") + c.name + "/" + contender.name;
            benchmark::RegisterBenchmark(name.c_str(), c.run, &contender);
        }
    }
    benchmark::RegisterBenchmark("OrvexPicking/SceneToScreen/Orvex", RunSceneToScreen<true>);
    benchmark::RegisterBenchmark("OrvexPicking/SceneToScreen/inline", RunSceneToScreen<false>);
    benchmark::RegisterBenchmark("OrvexPicking/IsSelectTriangle/Orvex", RunSelectTriangle<true>);
    benchmark::RegisterBenchmark("OrvexPicking/IsSelectTriangle/inline", RunSelectTriangle<false>);
}

} // namespace

int main(int argc, char** argv) {
    CheckPickingAgainstInline();
    RegisterAll();
    return RunRegisteredBenchmarks(argc, argv);
}
