// A randomised differential test of the tick manager against a small model:
// a map from (due time, order of scheduling) to the tick. Callbacks compare
// each firing with the model's next expectation and then act on both sides:
// deleting themselves or other ticks, registering ticks, re-registering
// themselves, destroying themselves.
#include "OrvexCommon/time/OrvexTick.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <utility>
#include <vector>

namespace {

using namespace Orvex;

constexpr int kTickCount = 48;

struct SModelTick {
    bool registered = false;
    unsigned interval = 0;
    unsigned short id = 0;
    unsigned long long due = 0;
    unsigned long long order = 0;
};

class CModel {
public:
    void Add(int tick, unsigned interval, unsigned short id, unsigned long long now) {
        SModelTick& entry = m_ticks[tick];
        if (entry.registered || interval == 0) {
            return;
        }
        entry = SModelTick{true, interval, id, now + interval, 0};
        Schedule(tick);
    }
    void Del(int tick) {
        SModelTick& entry = m_ticks[tick];
        if (entry.registered) {
            m_schedule.erase({entry.due, entry.order});
        }
        entry = SModelTick();
        if (tick == m_firing) {
            m_firingCleared = true;
        }
    }
    void Enable(unsigned short id, bool enable) { m_enabled[id] = enable; }
    bool Registered(int tick) const { return m_ticks[tick].registered; }

    // The next enabled tick due before `limit`, skipping (and re-scheduling)
    // disabled ones as the manager does; -1 when none.
    int NextFiring(unsigned long long limit, unsigned long long& time) {
        while (!m_schedule.empty() && m_schedule.begin()->first.first < limit) {
            const auto first = m_schedule.begin();
            const int tick = first->second;
            time = first->first.first;
            m_schedule.erase(first);
            if (m_enabled[m_ticks[tick].id]) {
                m_firing = tick;
                m_firingCleared = false;
                return tick;
            }
            Reschedule(tick, time);
        }
        return -1;
    }
    // After the callback of the tick returned by NextFiring.
    void Fired(int tick, unsigned long long time) {
        if (!m_firingCleared) {
            Reschedule(tick, time);
        }
        m_firing = -1;
    }

private:
    void Schedule(int tick) {
        m_ticks[tick].order = m_nextOrder++;
        m_schedule[{m_ticks[tick].due, m_ticks[tick].order}] = tick;
    }
    void Reschedule(int tick, unsigned long long time) {
        m_ticks[tick].due = time + m_ticks[tick].interval;
        Schedule(tick);
    }

    SModelTick m_ticks[kTickCount];
    std::map<std::pair<unsigned long long, unsigned long long>, int> m_schedule;
    std::map<unsigned short, bool> m_enabledStore;
    struct SEnabled {
        std::map<unsigned short, bool> flags;
        bool operator[](unsigned short id) const {
            const auto found = flags.find(id);
            return found == flags.end() || found->second;
        }
        bool& operator[](unsigned short id) { return flags.emplace(id, true).first->second; }
    } m_enabled;
    unsigned long long m_nextOrder = 0;
    int m_firing = -1;
    bool m_firingCleared = false;
};

class CModelTick;

struct SWorld {
    std::unique_ptr<CTickMgr> manager = std::make_unique<CTickMgr>();
    CModel model;
    CModelTick* ticks[kTickCount] = {};
    std::mt19937 random{2026};
    unsigned long long updateEnd = 0; // end of the running Update
    int mismatches = 0;
    int firings = 0;

    unsigned RandomInterval() {
        switch (random() % 8) {
        case 0:
            return 4096;
        case 1:
            return 4096 + random() % 3000;
        case 2:
            return 1;
        default:
            return 1 + random() % 60;
        }
    }
    unsigned short RandomId() { return static_cast<unsigned short>(random() % 4); }
};

SWorld* g_world = nullptr;

class CModelTick : public CTick {
public:
    explicit CModelTick(int index) : m_index(index) {}
    void OnTick() override;

private:
    int m_index;
};

void AddBoth(SWorld& world, int index, unsigned long long now) {
    const unsigned interval = world.RandomInterval();
    const unsigned short id = world.RandomId();
    world.manager->AddTick(world.ticks[index], interval, id);
    world.model.Add(index, interval, id, now);
}

void DelBoth(SWorld& world, int index) {
    world.manager->DelTick(world.ticks[index]);
    world.model.Del(index);
}

void CModelTick::OnTick() {
    SWorld& world = *g_world;
    const unsigned long long now =
        static_cast<unsigned long long>(world.manager->GetCurUpdateTime());
    unsigned long long expectedTime = 0;
    const int expected = world.model.NextFiring(world.updateEnd, expectedTime);
    ++world.firings;
    if (expected != m_index || expectedTime != now) {
        ++world.mismatches;
        ADD_FAILURE() << "fired tick " << m_index << " at " << now << ", model expected tick "
                      << expected << " at " << expectedTime;
        return;
    }
    const int index = m_index; // `this` may be destroyed below
    switch (world.random() % 10) {
    case 0:
        DelBoth(world, index);
        break;
    case 1:
        DelBoth(world, static_cast<int>(world.random() % kTickCount));
        break;
    case 2: {
        const int other = static_cast<int>(world.random() % kTickCount);
        if (!world.model.Registered(other)) {
            AddBoth(world, other, now);
        }
        break;
    }
    case 3:
        DelBoth(world, index);
        AddBoth(world, index, now);
        break;
    case 4:
        // Destroyed inside its own callback, replaced by a fresh tick.
        world.model.Del(index);
        delete world.ticks[index];
        world.ticks[index] = new CModelTick(index);
        break;
    default:
        break;
    }
    world.model.Fired(index, now);
}

TEST(TickModel, RandomOperationsMatchTheModelStepByStep) {
    SWorld world;
    g_world = &world;
    for (int index = 0; index < kTickCount; ++index) {
        world.ticks[index] = new CModelTick(index);
    }
    for (int operation = 0; operation < 6000 && world.mismatches == 0; ++operation) {
        const int index = static_cast<int>(world.random() % kTickCount);
        const unsigned long long now =
            static_cast<unsigned long long>(world.manager->GetCurUpdateTime());
        switch (world.random() % 6) {
        case 0:
        case 1:
            if (!world.model.Registered(index)) {
                AddBoth(world, index, now);
            }
            break;
        case 2:
            DelBoth(world, index);
            break;
        case 3: {
            const unsigned short id = world.RandomId();
            const bool enable = world.random() % 3 != 0;
            world.manager->EnableTick(id, enable);
            world.model.Enable(id, enable);
            break;
        }
        default: {
            const unsigned elapsed =
                world.random() % 4 == 0 ? world.random() % 9000 : world.random() % 40;
            world.updateEnd = now + elapsed;
            world.manager->Update(elapsed);
            // Everything the model still holds before the end was due and
            // must have fired (or been skipped as disabled).
            unsigned long long missedTime = 0;
            const int missed = world.model.NextFiring(world.updateEnd, missedTime);
            if (missed >= 0) {
                ADD_FAILURE() << "tick " << missed << " due at " << missedTime << " did not fire";
                ++world.mismatches;
            }
            break;
        }
        }
        for (int k = 0; k < kTickCount; ++k) {
            ASSERT_EQ(world.model.Registered(k), world.ticks[k]->IsRegisted()) << "tick " << k;
        }
    }
    EXPECT_EQ(0, world.mismatches);
    EXPECT_GT(world.firings, 5000) << "the run exercised the manager";
    for (CModelTick* tick : world.ticks) {
        delete tick;
    }
    g_world = nullptr;
}

} // namespace
