#include "OrvexCommon/math/OrvexTrigTable.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <thread>
#include <vector>

namespace {

using Orvex::CTrigFunctionTable;

const int kSteps = 65536;
const double kHalfPiAsFloat = 1.5707963705062866; // the single-precision pi/2
const float kHalfPi = static_cast<float>(kHalfPiAsFloat);
const double kPi = 3.14159265358979323846;

const CTrigFunctionTable& Table() {
    return CTrigFunctionTable::Instance();
}

} // namespace

// The expected entries, computed from their definition: the angle of step i
// rounded to a float, the runtime's double sine or arcsine, rounded to a
// float.

namespace OrvexTest {

float ExpectedSinEntry(int i) {
    const float angle = static_cast<float>(static_cast<double>(i) * kHalfPiAsFloat / kSteps);
    const double value = std::sin(static_cast<double>(angle));
    return static_cast<float>(value);
}

float ExpectedAsinEntry(int i) {
    const float argument = static_cast<float>(static_cast<double>(i) / kSteps);
    const double value = std::asin(static_cast<double>(argument));
    return static_cast<float>(value);
}

// The sine the lookup gives at a turn index (0 ... 262 143): quadrant by
// quadrant, mirrored in the second and fourth.
float ExpectedSinAtIndex(int index) {
    const int step = index % kSteps;
    const int quadrant = index / kSteps;
    float value;
    if (quadrant % 2 == 0) {
        value = ExpectedSinEntry(step);
    } else {
        value = step == 0 ? 1.0f : ExpectedSinEntry(kSteps - step);
    }
    return quadrant >= 2 ? -value : value;
}

// An angle in the middle of sine step n, safely inside it after rounding.
float MidStepAngle(int n) {
    return static_cast<float>((n + 0.5) * kHalfPiAsFloat / kSteps);
}

// The index the lookup uses for x, by the definition: steps truncated toward
// zero, reduced to one turn.
int TurnIndexOf(float x) {
    const double steps = static_cast<double>(x) / (4.0 * kHalfPiAsFloat) * 262144.0;
    const double reduced = std::fmod(std::trunc(steps), 262144.0);
    return static_cast<int>(reduced < 0 ? reduced + 262144.0 : reduced);
}

} // namespace OrvexTest

using namespace OrvexTest;

TEST(TrigTable, EverySineEntryInEveryQuadrant) {
    const CTrigFunctionTable& table = Table();
    for (int quadrant = 0; quadrant < 4; ++quadrant) {
        for (int step = 0; step < kSteps; ++step) {
            const int index = quadrant * kSteps + step;
            const float got = table.Sin(MidStepAngle(index));
            if (got != ExpectedSinAtIndex(index)) {
                FAIL() << "quadrant " << quadrant << " step " << step << ": " << got;
            }
        }
    }
}

TEST(TrigTable, EveryArcsineEntry) {
    const CTrigFunctionTable& table = Table();
    for (int i = 0; i < kSteps; ++i) {
        // i / 65536 is exact in a float, so it indexes entry i itself.
        const float x = static_cast<float>(i) / kSteps;
        const float expected = ExpectedAsinEntry(i);
        if (table.ASin(x) != expected || table.ASin(-x) != -expected) {
            FAIL() << "entry " << i << ": " << table.ASin(x);
        }
    }
}

TEST(TrigTable, SineAtQuarterTurnsAndNegativeAngles) {
    const CTrigFunctionTable& table = Table();
    EXPECT_EQ(table.Sin(0.0f), 0.0f);
    EXPECT_EQ(table.Sin(kHalfPi), 1.0f);
    EXPECT_EQ(table.Sin(-kHalfPi), -1.0f);
    EXPECT_EQ(table.Sin(2 * kHalfPi), 0.0f);
    // Truncation toward zero: -0.1 lies in step -4 172.2, which becomes -4 172.
    EXPECT_EQ(table.Sin(-0.1f), -ExpectedSinEntry(4172));
    EXPECT_EQ(table.Sin(0.1f), ExpectedSinEntry(4172));
    // The table is odd: a negative angle wraps into the fourth quadrant.
    for (int n = 0; n < 4 * kSteps; n += 97) {
        const float x = MidStepAngle(n);
        ASSERT_EQ(table.Sin(-x), -table.Sin(x)) << n;
    }
}

TEST(TrigTable, CosineIsTheSineAQuarterTurnOn) {
    const CTrigFunctionTable& table = Table();
    EXPECT_EQ(table.Cos(0.0f), 1.0f);
    EXPECT_EQ(table.Cos(kHalfPi), 0.0f);
    EXPECT_EQ(table.Cos(2 * kHalfPi), -1.0f);
    for (float x = -10.0f; x < 10.0f; x += 0.01f) {
        ASSERT_EQ(table.Cos(x), table.Sin(kHalfPi - x)) << x;
        ASSERT_NEAR(table.Cos(x), std::cos(x), 1e-4) << x;
    }
}

TEST(TrigTable, ArcsineClampsAndArccosineFollows) {
    const CTrigFunctionTable& table = Table();
    EXPECT_EQ(table.ASin(1.0f), kHalfPi);
    EXPECT_EQ(table.ASin(2.0f), kHalfPi);
    EXPECT_EQ(table.ASin(-1.0f), -kHalfPi);
    EXPECT_EQ(table.ASin(-std::numeric_limits<float>::infinity()), -kHalfPi);
    EXPECT_EQ(table.ASin(0.5f), ExpectedAsinEntry(32768));
    EXPECT_EQ(table.ACos(1.0f), 0.0f);
    EXPECT_EQ(table.ACos(0.0f), kHalfPi);
    EXPECT_EQ(table.ACos(-1.0f), 2 * kHalfPi);
    EXPECT_EQ(table.ACos(0.5f), kHalfPi - ExpectedAsinEntry(32768));
}

// Angles far outside one turn are reduced exactly as smaller ones are; they
// never index outside the table, and a value that is no angle gives none.
TEST(TrigTable, LargeAndNonFiniteArgumentsStayInTheTable) {
    const CTrigFunctionTable& table = Table();
    // Beyond 2^31 steps: the index still comes from the truncated step count.
    const float large[] = {60000.0f, -60000.0f, 123456.7f, -1.0e6f, 3.0e7f, -3.3e8f};
    for (float x : large) {
        EXPECT_EQ(table.Sin(x), ExpectedSinAtIndex(TurnIndexOf(x))) << x;
        // And that is the sine of the angle in the table's own turn.
        const double turnFraction = static_cast<double>(x) / (4.0 * kHalfPiAsFloat);
        if (std::fabs(x) < 2.0e6f) {
            EXPECT_NEAR(table.Sin(x), std::sin(turnFraction * 2.0 * kPi), 1e-3) << x;
        }
    }
    const float huge[] = {1.0e20f, -1.0e20f, std::numeric_limits<float>::max(),
                          -std::numeric_limits<float>::max()};
    for (float x : huge) {
        EXPECT_EQ(table.Sin(x), ExpectedSinAtIndex(TurnIndexOf(x))) << x;
        EXPECT_TRUE(std::isfinite(table.Cos(x))) << x;
    }
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(std::isnan(table.Sin(inf)));
    EXPECT_TRUE(std::isnan(table.Sin(-inf)));
    EXPECT_TRUE(std::isnan(table.Sin(nan)));
    EXPECT_TRUE(std::isnan(table.Cos(nan)));
    EXPECT_TRUE(std::isnan(table.ASin(nan)));
    EXPECT_TRUE(std::isnan(table.ACos(nan)));
}

TEST(TrigTable, OneInstanceBuiltOnceAcrossThreads) {
    std::vector<const CTrigFunctionTable*> seen(4, nullptr);
    std::vector<float> values(4, 0.0f);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&seen, &values, t] {
            seen[t] = &CTrigFunctionTable::Instance();
            values[t] = seen[t]->Sin(0.5f);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(seen[t], &Table());
        EXPECT_EQ(values[t], Table().Sin(0.5f));
    }
}
