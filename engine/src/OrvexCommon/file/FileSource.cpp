// What every source of the file manager shares.
#include "OrvexCommon/file/detail/FileSource.h"
#include "OrvexCommon/file/detail/FileReader.h"

namespace Orvex {
namespace detail {

void ForgetSourceFile(SSourceFile& file) {
    if (!file.borrowed) {
        CloseReader(file.reader);
    }
    file.reader = SFileReader();
    file.borrowed = false;
    file.source = nullptr;
    file.entry = nullptr;
    file.base = 0;
    file.size = 0;
}

} // namespace detail
} // namespace Orvex
