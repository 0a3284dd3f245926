// The profiler: named timing counters for sections of code, in milliseconds
// of process time.
//
// Ask the manager (GetProfileMgr) for one CProfile per measured site, keyed by
// the address of its label, then bracket the code with CheckBegin/CheckEnd.
// A profile keeps the total, the hit count, the longest, shortest and last
// duration and, when made with a detail capacity, the most recent hits of
// 9 ms and more (oldest first, at most `capacity` of them). A detail block
// times several pieces (StartAddDetail/EndAddDetail) into one entry and
// counts as one hit.
//
// Profiles live until the library is unloaded. Each profile is to be used by
// one thread at a time; measuring takes no lock and allocates only when a long
// hit joins the detail list. While the manager is disabled, CheckEnd and the
// detail-block operations change nothing.
#ifndef ORVEX_DIAG_ORVEXPROFILE_H
#define ORVEX_DIAG_ORVEXPROFILE_H

#include "OrvexCommon/base/OrvexExport.h"
#include "OrvexCommon/memory/OrvexMemory.h"

namespace Orvex {

namespace detail {
class CProfileMgr;
struct ProfileTiming;
} // namespace detail

class ORVEX_API CProfile {
public:
    // Copies every counter, the file, function and line; the detail entries
    // are copied into this profile's own list. The label, this profile's key
    // in the registry, is kept.
    CProfile& operator=(const CProfile& other);
    CProfile(const CProfile&) = delete;

    void CheckBegin();
    void CheckEnd();

    // A detail block: one new entry that the timed pieces add up in.
    void StartDetailBlock();
    void EndDetailBlock();
    void StartAddDetail();
    void EndAddDetail();

    // True when the profile keeps details (its capacity is not 0).
    bool Detail() const;
    // Detail entry `index`, 0 the oldest; 0 past the newest. Only the low
    // 32 bits of an index below the count are used, so a negative index
    // throws std::out_of_range unless those bits fall inside the list.
    long long GetDeltaTime(long long index) const;

    const char* GetLabel() const;
    const char* GetFileName() const;
    const char* GetFunctionName() const;
    unsigned int GetLine() const;
    long long GetTotalCpuTick() const;
    long long GetHitCount() const;
    long long GetTotalCount() const; // the hit count too
    long long GetMax() const;
    long long GetMin() const;      // 4294967295 before the first hit
    long long GetCurDelta() const; // the last duration CheckEnd measured
    unsigned int GetContext() const;
    void SetContext(unsigned int context);

private:
    friend class detail::CProfileMgr;
    friend struct detail::ProfileTiming;

    typedef TOrvexVector<long long> DetailList;

    // The manager gives the new profile its detail list.
    CProfile(const char* file, unsigned int line, const char* function, const char* label,
             unsigned int detailCapacity);
    ~CProfile();

    const char* m_fileName;
    const char* m_functionName;
    const char* m_label;
    unsigned int m_line;
    long long m_beginTime;
    long long m_total;
    long long m_max;
    long long m_min;
    long long m_lastDelta;
    unsigned int m_context;
    unsigned int m_detailCapacity;
    DetailList* m_details; // owned; pooled, like the profile
    long long m_hitCount;
};

class IProfileMgr {
public:
    // A new profile for the site; `label` is its key, by address, and must
    // not be registered yet: a label given twice ends the process after a
    // report, as an abnormal end (sys::AbortProcess). The texts must outlive
    // the library's use of them (literals). Null when no memory is left.
    virtual CProfile* CreateProfile(const char* file, unsigned int line, const char* function,
                                    const char* label, unsigned int detailCapacity) = 0;
    // The walk in ascending order of label addresses: the first profile, or
    // null; the one after `profile`, or null after the last or for a profile
    // this manager does not hold.
    virtual CProfile* GetFirstProfile() = 0;
    virtual CProfile* GetNextProfile(CProfile* profile) = 0;
    // The profile registered under exactly this pointer, or null.
    virtual CProfile* GetProfile(const char* label) = 0;
    // Starts (true, the start value) or stops measuring for every profile.
    virtual void EnableProfile(bool enable) = 0;

protected:
    ~IProfileMgr() = default;
};

// The one manager, created on first use and destroyed, with every profile, at
// unload.
ORVEX_API IProfileMgr& GetProfileMgr();

// ---- Recording: a timeline of the measured sections ----
//
// While recording is on, every CheckBegin..CheckEnd pair and every detail
// block (StartDetailBlock..EndDetailBlock) that the totals count is also kept
// as an event: its label, thread, depth (sections open around it on its
// thread), begin and end on a fine monotonic clock (nanoseconds on Linux, the
// performance counter's steps on Windows). The totals keep their millisecond
// clock. Each thread keeps its newest `capacity` events in a ring of its own;
// when the ring is full the oldest event goes, and the loss is counted, as
// are sections nested more than 64 deep and the events of a thread whose ring
// could not be had. A CheckBegin with the same profile's section already
// innermost starts that section again; a CheckEnd also closes the sections
// opened inside its own that never ended. Sections begun before recording
// started, or in an earlier session, are not recorded.
//
// Threads: any thread may record, and recording takes no lock and allocates
// only on a thread's first event of a session. The other functions may be
// called from any thread at any time, recording threads included: a save
// while other threads record writes each thread's events as they stand, and
// an event overwritten while the file is being written is left out and
// counted as dropped. Starting, stopping and naming take the recorder's lock
// briefly; a save holds it while it copies the events (not while it writes).

// Starts a new session, each thread keeping up to `capacity` events (1 to
// 16777216; each takes 40 bytes); the previous session's events are given up.
// False, with recording off, for a capacity outside that range or when the
// platform has no thread slot left.
ORVEX_API bool StartProfileRecord(unsigned int capacity);
// Recording off; the session's events stay for SaveProfileRecord.
ORVEX_API void StopProfileRecord();
ORVEX_API bool IsProfileRecording();
// Writes the last session's events of every thread that recorded in it, those
// that have ended included, as a trace-event file (JSON: complete events in
// microseconds, thread names, the dropped events in "otherData") that trace
// viewers open. The file is replaced the way configuration files are saved
// (a temporary file beside it, put on the disk, then renamed over it), so a
// save that fails part-way leaves the previous file whole. False when it
// cannot be written, when the name is not a file the caller may write (see
// IIniFile::Save), or when no memory is left for the copy; a session never
// started gives a file without events.
ORVEX_API bool SaveProfileRecord(const wchar_t* fileName);
// Names the calling thread in the files (at most 63 bytes are kept).
ORVEX_API void SetProfileThreadName(const char* name);

} // namespace Orvex

#endif // ORVEX_DIAG_ORVEXPROFILE_H
