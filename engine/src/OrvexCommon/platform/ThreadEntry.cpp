// Waiting for a library thread to get into the library's code.
#include "OrvexCommon/platform/OrvexSys.h"

namespace Orvex {
namespace sys {

void AwaitLibraryEntry(ThreadLife& life, unsigned boundMs) {
    for (unsigned waited = 0; waited < boundMs && life.stage.load() == ThreadLife::kStarting;
         ++waited) {
        SleepMilliseconds(1);
    }
}

} // namespace sys
} // namespace Orvex
