// Building the trigonometric table.
#include "OrvexCommon/math/OrvexTrigTable.h"
#include "OrvexCommon/math/detail/TrigConstants.h"

#include <cmath>
#include <cstring>

namespace Orvex {

// Each argument is rounded to single precision before the runtime's
// double-precision function sees it, so entry i answers exactly the float
// angle (or value) that a lookup of index i stands for.
CTrigFunctionTable::CTrigFunctionTable() {
    for (int i = 0; i < TABLE_SIZE; ++i) {
        const float step = static_cast<float>(i) * detail::kTableStep;
        const float angle = static_cast<float>(i) * detail::kHalfPi * detail::kTableStep;
        m_sinTable[i] = static_cast<float>(std::sin(static_cast<double>(angle)));
        m_asinTable[i] = static_cast<float>(std::asin(static_cast<double>(step)));
    }
}

// A function-local static: built once, thread-safely, on first use. The class
// has no destructor to run, so nothing joins the exit list.
const CTrigFunctionTable& CTrigFunctionTable::Instance() {
    static const CTrigFunctionTable table;
    return table;
}

CTrigFunctionTable& CTrigFunctionTable::operator=(const CTrigFunctionTable& other) {
    if (this != &other) {
        std::memcpy(m_sinTable, other.m_sinTable, sizeof(m_sinTable));
        std::memcpy(m_asinTable, other.m_asinTable, sizeof(m_asinTable));
    }
    return *this;
}

} // namespace Orvex
