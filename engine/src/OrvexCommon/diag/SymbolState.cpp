// The symbol handler's module list and its lifetime.
#include "OrvexCommon/diag/detail/SymbolState.h"
#include "OrvexCommon/memory/detail/AllocatorManager.h"

namespace Orvex {
namespace detail {

namespace {

SSymbolState g_symbolState;

// Constructing this creates the state's lock; its destructor, registered with
// the runtime's exit list at that moment, gives everything back.
struct SSymbolStateLifetime {
    SSymbolStateLifetime() { g_symbolState.lock = sys::CreateRecursiveLock(); }
    ~SSymbolStateLifetime() {
        sys::DestroyRecursiveLock(g_symbolState.lock);
        sys::FreeBlock(g_symbolState.moduleBases);
        g_symbolState = SSymbolState();
    }
};

} // namespace

SSymbolState& SymbolState() {
    AllocatorManager();
    static SSymbolStateLifetime lifetime;
    return g_symbolState;
}

} // namespace detail
} // namespace Orvex
