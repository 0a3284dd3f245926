// The exported process queries over the platform layer.
#include "OrvexCommon/platform/OrvexPlatform.h"
#include "OrvexCommon/platform/OrvexSys.h"

namespace Orvex {

unsigned int OrvexGetCurrentProcessID() {
    return sys::CurrentProcessId();
}

bool OrvexCheckProcessExist(unsigned int processId) {
    return sys::ProcessExists(processId);
}

unsigned long long OrvexGetProcessMemCost() {
    return sys::AddressSpaceInUse();
}

float OrvexGetProcessCpuCost() {
    return 0.0f;
}

void OrvexSleep(unsigned int milliseconds) {
    sys::SleepMilliseconds(milliseconds);
}

} // namespace Orvex
