// DebugAddress2Symbol and the module list behind it: a lookup that misses
// makes the modules loaded since the last miss known to the platform's symbol
// handler, then tries once more.
#include "OrvexCommon/base/detail/ErrorLine.h"
#include "OrvexCommon/diag/OrvexStack.h"
#include "OrvexCommon/diag/detail/SymbolName.h"
#include "OrvexCommon/diag/detail/SymbolState.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Orvex {
namespace {

using detail::SSymbolState;

constexpr unsigned kModuleGrowth = 32;
constexpr std::size_t kNameCapacity = 1025;

bool IsRegistered(const SSymbolState& state, std::uint64_t base) {
    for (unsigned i = 0; i < state.moduleCount; ++i) {
        if (state.moduleBases[i] == base) {
            return true;
        }
    }
    return false;
}

// Appends a base, growing the array by 32 entries when it is full. False when
// no larger array can be had.
bool AppendBase(SSymbolState& state, std::uint64_t base) {
    if (state.moduleCount == state.moduleCapacity) {
        const unsigned capacity = state.moduleCapacity + kModuleGrowth;
        auto* bases =
            static_cast<std::uint64_t*>(sys::AllocateBlock(capacity * sizeof(std::uint64_t)));
        if (bases == nullptr) {
            return false;
        }
        if (state.moduleCount != 0) {
            std::memcpy(bases, state.moduleBases, state.moduleCount * sizeof(std::uint64_t));
        }
        sys::FreeBlock(state.moduleBases);
        state.moduleBases = bases;
        state.moduleCapacity = capacity;
    }
    state.moduleBases[state.moduleCount++] = base;
    return true;
}

void RegisterModule(std::uint64_t base, const char* imageName, void* context) {
    SSymbolState& state = *static_cast<SSymbolState*>(context);
    if (!IsRegistered(state, base) && AppendBase(state, base)) {
        sys::LoadModuleSymbols(base, imageName);
    }
}

// The message outlives the throw: each thread has its own.
[[noreturn]] void ReportEnumerationFailure() {
    static thread_local char message[80];
    std::snprintf(message, sizeof(message), "EnumerateLoadedModules64 failed with error code:%d",
                  sys::LastErrorCode());
    detail::ThrowErrorLine(message);
}

void RegisterLoadedModules(SSymbolState& state) {
    if (!sys::EnumerateModules(RegisterModule, &state)) {
        ReportEnumerationFailure();
    }
}

bool LookUp(void* address, char* name) {
    return sys::FindSymbolName(address, name, kNameCapacity);
}

// The name of the function containing `address` in the form the printers
// show; false when no loaded module has a symbol there. The symbol state's
// lock serialises every use of the platform's symbol handler, which is not
// safe against itself. After the library's teardown the lock is gone and no
// module is registered any more.
bool FindReadableName(void* address, std::string& readable) {
    SSymbolState& state = detail::SymbolState();
    if (state.lock == nullptr) {
        return false;
    }
    sys::ScopedLock hold(state.lock);
    char raw[kNameCapacity];
    if (!LookUp(address, raw)) {
        RegisterLoadedModules(state);
        if (!LookUp(address, raw)) {
            return false;
        }
    }
    readable = detail::ReadableSymbolName(raw);
    return true;
}

} // namespace

void DebugAddress2Symbol(void* address, char* text, unsigned size) {
    std::string readable;
    if (!FindReadableName(address, readable) || size == 0) {
        return;
    }
    // A bounded copy that pads with zeros and always ends inside `size`.
    std::strncpy(text, readable.c_str(), size);
    text[size - 1] = '\0';
}

} // namespace Orvex
