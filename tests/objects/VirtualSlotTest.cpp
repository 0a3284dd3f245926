#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/objects/OrvexVirtualSlot.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace Orvex;

struct Base {
    virtual void a() {}
    virtual void b() {}
};

struct Derived : Base {
    void b() override {}
    virtual void c() {}
};

// A virtual destructor takes two slots (the complete and the deleting one).
struct DestructorFirst {
    virtual ~DestructorFirst() = default;
    virtual void f() {}
    virtual void g() {}
};

struct DestructorBetween {
    virtual void f() {}
    virtual ~DestructorBetween() = default;
    virtual void g() {}
};

struct Left {
    virtual void l0() {}
    virtual void l1() {}
    int leftData = 0;
};

struct Right {
    virtual void r0() {}
    virtual void r1() {}
    virtual void r2() {}
};

struct Both : Left, Right {
    void r2() override {}
};

bool g_nonVirtualRan = false;

struct NonVirtual {
    void run() { g_nonVirtualRan = true; }
    virtual void v() {}
};

// 514 virtual functions f000 to f513: slot n for fn.
#define ORVEX_SLOT(n)                                                                              \
    virtual int f##n() {                                                                           \
        return 1;                                                                                  \
    }
#define ORVEX_SLOTS10(p)                                                                           \
    ORVEX_SLOT(p##0)                                                                               \
    ORVEX_SLOT(p##1)                                                                               \
    ORVEX_SLOT(p##2)                                                                               \
    ORVEX_SLOT(p##3)                                                                               \
    ORVEX_SLOT(p##4)                                                                               \
    ORVEX_SLOT(p##5)                                                                               \
    ORVEX_SLOT(p##6)                                                                               \
    ORVEX_SLOT(p##7)                                                                               \
    ORVEX_SLOT(p##8)                                                                               \
    ORVEX_SLOT(p##9)
#define ORVEX_SLOTS100(p)                                                                          \
    ORVEX_SLOTS10(p##0)                                                                            \
    ORVEX_SLOTS10(p##1)                                                                            \
    ORVEX_SLOTS10(p##2)                                                                            \
    ORVEX_SLOTS10(p##3)                                                                            \
    ORVEX_SLOTS10(p##4)                                                                            \
    ORVEX_SLOTS10(p##5)                                                                            \
    ORVEX_SLOTS10(p##6)                                                                            \
    ORVEX_SLOTS10(p##7)                                                                            \
    ORVEX_SLOTS10(p##8)                                                                            \
    ORVEX_SLOTS10(p##9)

struct Huge {
    ORVEX_SLOTS100(0)
    ORVEX_SLOTS100(1)
    ORVEX_SLOTS100(2)
    ORVEX_SLOTS100(3)
    ORVEX_SLOTS100(4)
    ORVEX_SLOTS10(50)
    ORVEX_SLOT(510)
    ORVEX_SLOT(511)
    ORVEX_SLOT(512)
    ORVEX_SLOT(513)
};

#undef ORVEX_SLOTS100
#undef ORVEX_SLOTS10
#undef ORVEX_SLOT

const char kInvalid[] = "Can not call a invalid function!";

// Captures the log stream's lines for one test.
class VirtualSlot : public ::testing::Test {
protected:
    static std::string s_logged;

    void SetUp() override {
        s_logged.clear();
        SetGlobLogFun([](const char* text, unsigned length) { s_logged.append(text, length); });
    }
    void TearDown() override { SetGlobLogFun(nullptr); }

    // True when `argument` took the invalid-call path: thrown text and log line.
    static bool IsRefused(unsigned long long argument) {
        s_logged.clear();
        try {
            const unsigned index = GetVirtualFunIndex(argument);
            ADD_FAILURE() << "index " << index << " given";
            return false;
        } catch (const char* text) {
            EXPECT_STREQ(kInvalid, text);
        }
        EXPECT_EQ(std::string(kInvalid) + "\n", s_logged);
        return s_logged == std::string(kInvalid) + "\n";
    }
};

std::string VirtualSlot::s_logged;

TEST_F(VirtualSlot, TheFirstAndTenthOfAClassWithoutBases) {
    EXPECT_EQ(0u, GetVirtualFunIndexOf(&Huge::f000));
    EXPECT_EQ(9u, GetVirtualFunIndexOf(&Huge::f009));
    EXPECT_EQ(123u, GetVirtualFunIndexOf(&Huge::f123));
    // The code word sits in the low bits of the argument.
    EXPECT_EQ(1u + 9 * sizeof(void*), MemberFunctionArg(&Huge::f009) & 0xFFFFFFFFull);
    EXPECT_EQ(9u, GetVirtualFunIndex(1 + 9 * sizeof(void*)));
    EXPECT_TRUE(s_logged.empty());
}

TEST_F(VirtualSlot, AnOverrideKeepsItsSlotThroughBaseAndDerived) {
    EXPECT_EQ(0u, GetVirtualFunIndexOf(&Base::a));
    EXPECT_EQ(1u, GetVirtualFunIndexOf(&Base::b));
    EXPECT_EQ(1u, GetVirtualFunIndexOf(&Derived::b));
    EXPECT_EQ(2u, GetVirtualFunIndexOf(&Derived::c));
    void (Derived::*throughDerived)() = &Base::a;
    EXPECT_EQ(0u, GetVirtualFunIndexOf(throughDerived));
}

TEST_F(VirtualSlot, AVirtualDestructorTakesTwoSlots) {
    EXPECT_EQ(2u, GetVirtualFunIndexOf(&DestructorFirst::f));
    EXPECT_EQ(3u, GetVirtualFunIndexOf(&DestructorFirst::g));
    EXPECT_EQ(0u, GetVirtualFunIndexOf(&DestructorBetween::f));
    EXPECT_EQ(3u, GetVirtualFunIndexOf(&DestructorBetween::g));
}

TEST_F(VirtualSlot, ASecondBaseGivesTheSlotInItsOwnTableWhateverTheAdjustment) {
    // Seen from Both, a Right function carries an adjustment of `this`.
    void (Both::*r1)() = &Right::r1;
    EXPECT_EQ(1u, GetVirtualFunIndexOf(r1));
    EXPECT_EQ(2u, GetVirtualFunIndexOf(&Both::r2));
    EXPECT_EQ(1u, GetVirtualFunIndexOf(&Both::l1));
}

TEST_F(VirtualSlot, TheLastSlotIsAnsweredAndTheOnesBeyondAreRefused) {
    EXPECT_EQ(510u, GetVirtualFunIndexOf(&Huge::f510));
    EXPECT_EQ(511u, GetVirtualFunIndexOf(&Huge::f511));
    EXPECT_TRUE(s_logged.empty());
    EXPECT_TRUE(IsRefused(MemberFunctionArg(&Huge::f512)));
    EXPECT_TRUE(IsRefused(MemberFunctionArg(&Huge::f513)));
}

TEST_F(VirtualSlot, PointersThatAreNotVirtualAreRefusedWithoutACall) {
    g_nonVirtualRan = false;
    EXPECT_TRUE(IsRefused(MemberFunctionArg(&NonVirtual::run)));
    EXPECT_FALSE(g_nonVirtualRan);
    EXPECT_EQ(0u, GetVirtualFunIndexOf(&NonVirtual::v));

    void (NonVirtual::*null)() = nullptr;
    EXPECT_TRUE(IsRefused(MemberFunctionArg(null)));
    // Odd, but not at a slot boundary.
    EXPECT_TRUE(IsRefused(1 + 2 * sizeof(void*) + 2));
}

TEST_F(VirtualSlot, TheTableStartsFullOfTheInvalidCallHandler) {
    SFunctionTable table;
    EXPECT_EQ(512, table.GetFunctionCount());
    s_logged.clear();
    try {
        table.functions[511]();
        ADD_FAILURE() << "no exception";
    } catch (char* text) {
        EXPECT_STREQ(kInvalid, text);
    }
    EXPECT_EQ(std::string(kInvalid) + "\n", s_logged);
}

TEST_F(VirtualSlot, TheCountEndsAtTheFirstNullEntryAndCopiesTakeEveryEntry) {
    SFunctionTable table;
    table.functions[0] = [] {};
    table.functions[10] = nullptr;
    EXPECT_EQ(10, table.GetFunctionCount());
    table.functions[3] = nullptr;
    EXPECT_EQ(3, table.GetFunctionCount());

    SFunctionTable copy;
    copy = table;
    EXPECT_EQ(3, copy.GetFunctionCount());
    EXPECT_EQ(table.functions[0], copy.functions[0]);
    EXPECT_EQ(nullptr, copy.functions[10]);
    EXPECT_EQ(table.functions[511], copy.functions[511]);
    table.functions[0] = nullptr;
    EXPECT_EQ(0, table.GetFunctionCount());
    EXPECT_EQ(3, copy.GetFunctionCount());
}

} // namespace
