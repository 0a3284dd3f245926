// The assertion hook: stored for callers, never called by the library.
#include "OrvexCommon/diag/OrvexDiag.h"

#include <atomic>

namespace Orvex {

namespace {

void IgnoreAssertion(const char*, const char*, unsigned) {}

// Atomic only so that a reader racing a late setter sees one whole value.
std::atomic<GlobAssertFun> g_assertHook{&IgnoreAssertion};

} // namespace

void SetGlobAssertFun(GlobAssertFun hook) {
    g_assertHook.store(hook, std::memory_order_relaxed);
}

GlobAssertFun GetGlobAssertFun() {
    return g_assertHook.load(std::memory_order_relaxed);
}

} // namespace Orvex
