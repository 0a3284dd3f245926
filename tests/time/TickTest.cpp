#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/objects/OrvexObject.h"
#include "OrvexCommon/time/OrvexTick.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace Orvex;

struct SFiring {
    int tick;
    long long time;
    bool operator==(const SFiring& other) const { return tick == other.tick && time == other.time; }
};

std::vector<SFiring> g_firings;
std::vector<std::string> g_logLines;

void CollectLog(const char* text, unsigned length) {
    g_logLines.emplace_back(text, length);
}

class CRecordingTick : public CTick {
public:
    explicit CRecordingTick(int name, bool cpp = false) : CTick(cpp), m_name(name) {}
    void OnTick() override { Record(); }
    void OnCppTick() override { Record(); }
    std::function<void(CRecordingTick&)> action;
    long long passAtFiring = -1;

private:
    void Record() {
        passAtFiring = GetPassTime();
        g_firings.push_back(SFiring{m_name, GetTickMgr()->GetCurUpdateTime()});
        if (action) {
            action(*this);
        }
    }
    int m_name;
};

class Ticks : public ::testing::Test {
protected:
    void SetUp() override {
        g_firings.clear();
        g_logLines.clear();
        SetGlobLogFun(CollectLog);
    }
    void TearDown() override { SetGlobLogFun(nullptr); }
    // Large: keep it off the stack.
    std::unique_ptr<CTickMgr> m_manager = std::make_unique<CTickMgr>();
    CTickMgr& manager() { return *m_manager; }
};

std::vector<SFiring> Firings(std::initializer_list<std::pair<int, long long>> list) {
    std::vector<SFiring> firings;
    for (const auto& entry : list) {
        firings.push_back(SFiring{entry.first, entry.second});
    }
    return firings;
}

TEST_F(Ticks, RefusedRegistrations) {
    CRecordingTick tick(1);
    manager().AddTick(&tick, 0, 3);
    EXPECT_FALSE(tick.IsRegisted());
    EXPECT_EQ(0xFFFF, tick.GetTickID());
    manager().AddTick(&tick, 5, 3);
    EXPECT_TRUE(tick.IsRegisted());
    EXPECT_EQ(&manager(), tick.GetTickMgr());
    manager().AddTick(&tick, 0, 4); // the duplicate test comes first
    CTickMgr other;
    other.AddTick(&tick, 7, 4);
    EXPECT_EQ(3, tick.GetTickID());
    EXPECT_EQ(5u, tick.GetInteval());
    EXPECT_EQ((std::vector<std::string>{"cannot set 0\n", "add tick duplicately\n",
                                        "add tick duplicately\n"}),
              g_logLines);
}

TEST_F(Ticks, FirstFiringAfterMoreThanTheIntervalThenFullCatchUp) {
    CRecordingTick tick(1);
    manager().AddTick(&tick, 10, 0);
    EXPECT_EQ(10u, tick.GetNextTickTime());
    EXPECT_EQ(0u, tick.GetStartTime());
    EXPECT_EQ(0, tick.GetPassTime());
    manager().Update(10);
    EXPECT_TRUE(g_firings.empty());
    EXPECT_EQ(10, tick.GetPassTime());
    manager().Update(1);
    EXPECT_EQ(Firings({{1, 10}}), g_firings);
    EXPECT_EQ(10, tick.passAtFiring) << "during its callback the pass time is the interval";
    manager().Update(30);
    EXPECT_EQ(Firings({{1, 10}, {1, 20}, {1, 30}, {1, 40}}), g_firings);
    EXPECT_EQ(41, manager().GetCurUpdateTime());
    EXPECT_EQ(50u, tick.GetNextTickTime());
}

TEST_F(Ticks, EqualDueTimesFireInRegistrationOrderAndBothDispatchKinds) {
    CRecordingTick first(1), second(2, true), third(3);
    manager().AddTick(&first, 3, 0);
    manager().AddTick(&second, 3, 0);
    manager().AddTick(&third, 3, 0);
    manager().Update(7);
    EXPECT_EQ(Firings({{1, 3}, {2, 3}, {3, 3}, {1, 6}, {2, 6}, {3, 6}}), g_firings);
}

TEST_F(Ticks, IntervalsBeyondOneTurnOfTheWheel) {
    CRecordingTick longTick(1), wholeTurn(2);
    manager().AddTick(&longTick, 5000, 0);  // slot 904, met at 904 and set aside
    manager().AddTick(&wholeTurn, 4096, 0); // rescheduled into the slot it fires from
    manager().Update(10000);
    EXPECT_EQ(Firings({{2, 4096}, {1, 5000}, {2, 8192}}), g_firings);
    manager().Update(10001);
    EXPECT_EQ(Firings({{2, 4096},
                       {1, 5000},
                       {2, 8192},
                       {1, 10000},
                       {2, 12288},
                       {1, 15000},
                       {2, 16384},
                       {1, 20000}}),
              g_firings);
}

TEST_F(Ticks, DisabledIdsKeepTheirPhase) {
    CRecordingTick tick(1), other(2);
    EXPECT_TRUE(manager().IsTickEnable(7));
    EXPECT_TRUE(manager().IsTickEnable(0xFFFF));
    manager().AddTick(&tick, 4, 7);
    manager().AddTick(&other, 4, 8);
    EXPECT_TRUE(manager().EnableTick(7, false));
    EXPECT_FALSE(manager().IsTickEnable(7));
    manager().Update(10);
    EXPECT_EQ(Firings({{2, 4}, {2, 8}}), g_firings);
    EXPECT_EQ(12u, tick.GetNextTickTime()) << "the schedule ran on";
    manager().EnableTick(7, true);
    manager().Update(3);
    EXPECT_EQ(Firings({{2, 4}, {2, 8}, {1, 12}, {2, 12}}), g_firings);
}

TEST_F(Ticks, DeletingSelfAndAnotherDueTickInsideACallback) {
    CRecordingTick self(1), victim(2), survivor(3);
    auto* doomed = new CRecordingTick(4);
    manager().AddTick(&self, 2, 0);
    manager().AddTick(&victim, 2, 0);
    manager().AddTick(&survivor, 2, 0);
    manager().AddTick(doomed, 2, 0);
    self.action = [&](CRecordingTick& me) {
        manager().DelTick(&me);
        manager().DelTick(&victim); // due in this same step: never called
    };
    survivor.action = [&](CRecordingTick&) {
        delete doomed; // destroying a registered tick unregisters it
        doomed = nullptr;
    };
    manager().Update(5);
    EXPECT_EQ(Firings({{1, 2}, {3, 2}, {3, 4}}), g_firings);
    EXPECT_FALSE(self.IsRegisted());
    EXPECT_FALSE(victim.IsRegisted());
    EXPECT_EQ(0u, victim.GetNextTickTime());
    EXPECT_EQ(0xFFFF, victim.GetTickID());
    EXPECT_EQ(0, victim.GetPassTime());
}

TEST_F(Ticks, ACallbackCanReRegisterItselfAndAddOthers) {
    CRecordingTick tick(1), added(2);
    manager().AddTick(&tick, 5, 0);
    tick.action = [&](CRecordingTick& me) {
        manager().DelTick(&me);
        manager().AddTick(&me, 2, 9); // the new registration stands
        if (!added.IsRegisted()) {
            manager().AddTick(&added, 1, 0);
        }
        me.action = nullptr;
    };
    manager().Update(10);
    EXPECT_EQ(Firings({{1, 5}, {2, 6}, {1, 7}, {2, 7}, {2, 8}, {1, 9}, {2, 9}}), g_firings);
    EXPECT_EQ(9, tick.GetTickID());
}

TEST_F(Ticks, ExceptionsAreLoggedAndTheTickStaysScheduled) {
    CRecordingTick tick(1);
    manager().AddTick(&tick, 3, 42);
    tick.action = [](CRecordingTick&) { throw 5; };
    manager().Update(7);
    EXPECT_EQ(Firings({{1, 3}, {1, 6}}), g_firings);
    ASSERT_EQ(2u, g_logLines.size());
    EXPECT_EQ("CTickMgr update tick error tickid = 42, tick interval = 3\n", g_logLines[0]);

    // Deleting itself and then throwing: the line still names it.
    CRecordingTick brief(2);
    manager().AddTick(&brief, 1, 7);
    brief.action = [&](CRecordingTick& me) {
        manager().DelTick(&me);
        throw "gone";
    };
    manager().Update(2);
    EXPECT_EQ("CTickMgr update tick error tickid = 7, tick interval = 1\n", g_logLines.back());
}

TEST_F(Ticks, NestedUpdateIsRefused) {
    CRecordingTick tick(1);
    manager().AddTick(&tick, 2, 0);
    tick.action = [&](CRecordingTick&) { manager().Update(100); };
    manager().Update(4);
    EXPECT_EQ(Firings({{1, 2}}), g_firings);
    EXPECT_EQ(4, manager().GetCurUpdateTime());
    EXPECT_EQ(1u, g_logLines.size());
}

TEST_F(Ticks, DestroyingAManagerUnregistersItsTicks) {
    CRecordingTick tick(1);
    {
        CTickMgr local;
        local.AddTick(&tick, 5, 1);
        local.Update(2);
    }
    EXPECT_FALSE(tick.IsRegisted());
    manager().AddTick(&tick, 1, 0); // can be registered again
    manager().Update(2);
    EXPECT_EQ(Firings({{1, 1}}), g_firings);
}

TEST_F(Ticks, CopiesStartUnregisteredAndObjectCallbacksSeeTicks) {
    std::vector<COrvexObject*> seen;
    static std::vector<COrvexObject*>* s_seen = nullptr;
    s_seen = &seen;
    SetObjectCreateCallBack([](COrvexObject* object) { s_seen->push_back(object); });
    CRecordingTick tick(1, true);
    SetObjectCreateCallBack(nullptr);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(static_cast<COrvexObject*>(&tick), seen[0]);
    manager().AddTick(&tick, 3, 2);
    CRecordingTick copy(tick);
    EXPECT_FALSE(copy.IsRegisted());
    EXPECT_EQ(0u, copy.GetInteval());
    manager().AddTick(&copy, 3, 2);
    manager().Update(4);
    EXPECT_EQ(Firings({{1, 3}, {1, 3}}), g_firings);
}

TEST_F(Ticks, TicksLiveInThePool) {
    const long long before = GetTotalAllocSize();
    CTick* tick = new CRecordingTick(1);
    EXPECT_GT(GetTotalAllocSize(), before);
    delete tick;
    EXPECT_EQ(before, GetTotalAllocSize());
}

TEST(OrvexList, SentinelsPushesAndCopies) {
    struct SEntry : COrvexListNode {
        int value;
    };
    TOrvexList<SEntry> list;
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(nullptr, list.GetFirst());
    SEntry a, b, c;
    a.value = 1;
    b.value = 2;
    c.value = 3;
    list.PushBack(b);
    list.PushFront(a);
    list.PushBack(c);
    EXPECT_EQ(&a, list.GetFirst());
    EXPECT_EQ(&c, list.GetLast());
    TOrvexList<SEntry> copy(list);
    EXPECT_TRUE(copy.IsEmpty());
    copy = list;
    EXPECT_TRUE(copy.IsEmpty());
    b.Unlink();
    EXPECT_FALSE(b.IsLinked());
    EXPECT_EQ(&c, static_cast<SEntry*>(list.GetFirst()->next));
    a.Unlink();
    c.Unlink();
    EXPECT_TRUE(list.IsEmpty());
}

} // namespace
