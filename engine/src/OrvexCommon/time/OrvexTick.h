// The tick manager: a timing wheel of 4096 slots that calls periodic ticks.
//
// A CTick has an interval in the manager's time units. CTickMgr::Update
// advances the manager one unit at a time and calls every tick that falls
// due, re-scheduling it one interval later; an Update of e units fires a tick
// of interval i about e / i times (full catch-up). Ticks due at the same unit
// fire in the order they were (re)scheduled. A callback may delete or
// unregister any tick, its own included, and register new ones. Every tick of
// a manager carries a 16-bit id, and the manager keeps an enable flag per id.
// One thread per manager; nothing here locks.
//
// The wheel's slots are intrusive lists (TOrvexList, the nodes inside the
// ticks), so registering and re-scheduling allocate nothing. Update(e) runs e
// steps; a step drains its slot, sets aside the ticks of later turns of the
// wheel, fires the due ones in list order and re-appends each one interval
// later. A callback's id and interval are read before the call, so the error
// line for an exception names the tick even if the callback deleted it. The
// manager keeps no container pointer (nothing would use it). Both classes are
// exported with their virtual tables and type information, so a host derives
// its own ticks from CTick (the installed-host test checks it).
#ifndef ORVEX_TIME_ORVEXTICK_H
#define ORVEX_TIME_ORVEXTICK_H

#include "OrvexCommon/base/OrvexExport.h"
#include "OrvexCommon/memory/OrvexList.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/objects/OrvexObject.h"

namespace Orvex {

class CTickMgr;

class ORVEX_API CTick : public COrvexObject, public COrvexPoolObject, private COrvexListNode {
public:
    // dispatchCpp chooses the callback: OnCppTick when true, OnTick when false.
    explicit CTick(bool dispatchCpp = false);
    // Copies the dispatch choice only: the copy starts unregistered.
    CTick(const CTick& other);
    // Copies the dispatch choice; the target's registration is unchanged.
    CTick& operator=(const CTick& other);
    // Unregisters the tick if it is registered.
    virtual ~CTick();

    virtual void OnCppTick() {}
    virtual void OnTick() = 0;

    unsigned short GetTickID() const { return m_tickId; }
    unsigned int GetInteval() const { return m_interval; }
    CTickMgr* GetTickMgr() const { return m_manager; }
    bool IsRegisted() const { return m_manager != nullptr; }
    unsigned long long GetNextTickTime() const { return m_nextTickTime; }
    // Start of the current interval (for a fresh registration, its time).
    unsigned long long GetStartTime() const { return m_nextTickTime - m_interval; }
    // How far the current interval has run; 0 while unregistered.
    long long GetPassTime() const;

private:
    friend class CTickMgr;
    friend class TOrvexList<CTick>;

    CTickMgr* m_manager;
    unsigned int m_interval;
    unsigned long long m_nextTickTime; // 64 bits: ticks keep firing past 2^32 units
    unsigned short m_tickId;
    bool m_dispatchCpp;
};

class ORVEX_API CTickMgr {
public:
    CTickMgr();
    // Unregisters every tick still registered (they stay alive, unregistered).
    ~CTickMgr();
    CTickMgr(const CTickMgr&) = delete;
    CTickMgr& operator=(const CTickMgr&) = delete;

    // Registers the tick to fall due every `interval` units, the first time
    // `interval` units from now. Refused, with a line on the log stream, for a
    // tick that is already registered ("add tick duplicately") or an interval
    // of 0 ("cannot set 0").
    void AddTick(CTick* tick, unsigned int interval, unsigned short id);
    // Unregisters the tick (null is ignored); a tick registered with another
    // manager is unregistered from that one.
    void DelTick(CTick* tick);
    // Advances by `elapsed` units, firing what falls due. An exception thrown
    // by a callback is logged and swallowed. Called from inside one of this
    // manager's own callbacks it does nothing (and logs that).
    void Update(unsigned int elapsed);

    bool EnableTick(unsigned short id, bool enable);
    bool IsTickEnable(unsigned short id) const { return m_enabled[id] != 0; }
    long long GetCurUpdateTime() const { return m_currentTime; }

private:
    static constexpr unsigned kSlotCount = 4096;
    static constexpr unsigned kSlotMask = kSlotCount - 1;

    void InsertTick(CTick* tick, unsigned long long time);
    void Unregister(CTick* tick);
    void Step(unsigned long long time);
    void Fire(CTick* tick);

    long long m_currentTime;
    CTick* m_currentTick;
    bool m_updating;
    unsigned char m_enabled[65536];
    TOrvexList<CTick> m_wheel[kSlotCount];
};

} // namespace Orvex

#endif // ORVEX_TIME_ORVEXTICK_H
