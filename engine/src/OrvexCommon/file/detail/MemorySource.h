// Files already in memory (a reloaded file's bytes) as a source, so that
// they reach a listener through the same leading-part path as a load.
#ifndef ORVEX_FILE_DETAIL_MEMORYSOURCE_H
#define ORVEX_FILE_DETAIL_MEMORYSOURCE_H

#include "OrvexCommon/file/detail/FileSource.h"

namespace Orvex {
namespace detail {

class CMemorySource final : public IFileSource {
public:
    // Fills `file` for the `size` bytes at `bytes`, which must outlive it.
    void Attach(const unsigned char* bytes, std::uint32_t size, SSourceFile& file) const;

    // Nothing is found by name: files come only through Attach.
    bool Has(const wchar_t*) const override { return false; }
    bool Open(const wchar_t*, bool, SSourceFile&) const override { return false; }
    bool ReadLeading(SSourceFile& file, std::int32_t fileType, bool restNow,
                     SLeadingPart& lead) const override {
        return ReadPlainLeading(file, fileType, restNow, lead);
    }
    bool ReadRange(SSourceFile& file, std::uint32_t from, std::uint32_t n,
                   unsigned char* out) const override;
    const unsigned char* InPlace(const SSourceFile& file, std::uint32_t from,
                                 std::uint32_t) const override {
        return file.memory + from;
    }
    bool InMemory(const SSourceFile&) const override { return true; }
    void Duplicate(const SSourceFile& file, SSourceFile& copy) const override;
    void Close(SSourceFile& file) const override { file.memory = nullptr; }
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_MEMORYSOURCE_H
