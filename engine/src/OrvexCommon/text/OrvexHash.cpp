// The 32-bit block hash: Jenkins' lookup2 with initial value 0.
#include "OrvexCommon/text/OrvexText.h"
#include "OrvexCommon/text/detail/HashBlocks.h"

namespace Orvex {

std::uint32_t OrvexHash(const void* data, unsigned size) {
    return detail::FinishHash(detail::SHashState(), static_cast<const unsigned char*>(data), size,
                              size);
}

} // namespace Orvex
