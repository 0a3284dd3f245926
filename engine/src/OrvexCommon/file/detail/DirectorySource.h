// Loose files: a name opens through the path aliases, else as it is given.
#ifndef ORVEX_FILE_DETAIL_DIRECTORYSOURCE_H
#define ORVEX_FILE_DETAIL_DIRECTORYSOURCE_H

#include "OrvexCommon/file/detail/FileSource.h"
#include "OrvexCommon/file/detail/PathAlias.h"

namespace Orvex {
namespace detail {

class CDirectorySource final : public IFileSource {
public:
    explicit CDirectorySource(const PathAliasTable& aliases) : m_aliases(aliases) {}

    // A readable regular file under exactly this name: aliases do not count,
    // and asking never blocks on a pipe or a device.
    bool Has(const wchar_t* fileName) const override;
    // Always opens the file (its length is taken at once). `file.path` is
    // the name that opened, or empty when neither did.
    bool Open(const wchar_t* fileName, bool handleNow, SSourceFile& file) const override;
    // Synchronous: the whole file, the head read from it and the body after
    // the extra data. Asynchronous: the head and the extra data read from
    // the file, the body queued. A listener of type -1 gets no head.
    bool ReadLeading(SSourceFile& file, std::int32_t fileType, bool restNow,
                     SLeadingPart& lead) const override;
    // Through the file's handle; a copy for the loading thread opens the
    // path for each read and closes it again.
    bool ReadRange(SSourceFile& file, std::uint32_t from, std::uint32_t n,
                   unsigned char* out) const override;
    const unsigned char* InPlace(const SSourceFile&, std::uint32_t, std::uint32_t) const override {
        return nullptr;
    }
    bool InMemory(const SSourceFile&) const override { return false; }
    // The path alone: queued loads hold no handle.
    void Duplicate(const SSourceFile& file, SSourceFile& copy) const override;
    void Close(SSourceFile& file) const override { ForgetSourceFile(file); }

private:
    const PathAliasTable& m_aliases;
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_DIRECTORYSOURCE_H
