// The process-wide hooks: start values and round trips.
#include "OrvexCommon/diag/OrvexDiag.h"

#include <gtest/gtest.h>

namespace {

void OtherAssert(const char*, const char*, unsigned) {}
int OtherBox(const wchar_t*, bool) {
    return 5;
}

TEST(AssertHook, StartsAsACallableNoOpAndRoundTripsIncludingNull) {
    const Orvex::GlobAssertFun initial = Orvex::GetGlobAssertFun();
    ASSERT_NE(nullptr, initial);
    initial("1 == 2", "file.cpp", 3); // has no effect
    initial(nullptr, nullptr, 0);

    Orvex::SetGlobAssertFun(&OtherAssert);
    EXPECT_EQ(&OtherAssert, Orvex::GetGlobAssertFun());
    Orvex::SetGlobAssertFun(nullptr);
    EXPECT_EQ(nullptr, Orvex::GetGlobAssertFun());
    Orvex::SetGlobAssertFun(initial);
    EXPECT_EQ(initial, Orvex::GetGlobAssertFun());
}

TEST(ExceptionBoxHook, StartsNullAndRoundTrips) {
    EXPECT_EQ(nullptr, Orvex::GetGlobExceptionBoxFun());
    Orvex::SetGlobExceptionBoxFun(&OtherBox);
    EXPECT_EQ(&OtherBox, Orvex::GetGlobExceptionBoxFun());
    Orvex::SetGlobExceptionBoxFun(nullptr);
    EXPECT_EQ(nullptr, Orvex::GetGlobExceptionBoxFun());
}

} // namespace
