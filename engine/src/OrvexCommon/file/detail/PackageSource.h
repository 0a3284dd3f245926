// Files inside the open packages, found by the deep or the shallow search.
#ifndef ORVEX_FILE_DETAIL_PACKAGESOURCE_H
#define ORVEX_FILE_DETAIL_PACKAGESOURCE_H

#include "OrvexCommon/file/detail/FileSource.h"
#include "OrvexCommon/file/detail/ZipSource.h"

namespace Orvex {
namespace detail {

// The search also finds names in zip archives where a directory has no
// package; those files are opened by the zip source, which then reads them.
class CPackageSource final : public IFileSource {
public:
    // `deepSearch`: the manager's flag, read at every lookup.
    CPackageSource(const bool& deepSearch, const CZipSource& zips)
        : m_deepSearch(deepSearch), m_zips(zips) {}

    bool Has(const wchar_t* fileName) const override;
    // A package in private mode gets a handle of the file's own on the
    // package file with `handleNow`; one that no longer opens the file the
    // index describes (deleted or replaced) is not found.
    bool Open(const wchar_t* fileName, bool handleNow, SSourceFile& file) const override;
    // The resident part, with the head read from it whenever there is one,
    // whatever the listener's type. A file that is all resident is
    // delivered whole with the head (result 0).
    bool ReadLeading(SSourceFile& file, std::int32_t fileType, bool restNow,
                     SLeadingPart& lead) const override;
    // Mapped mode copies from the mapping (a handle opened in private mode is
    // let go); private mode reads through a handle of the file's own, opened
    // on the first read. The patch and descrambling apply.
    bool ReadRange(SSourceFile& file, std::uint32_t from, std::uint32_t n,
                   unsigned char* out) const override;
    // The private buffer's resident part, or the mapping where neither the
    // patch nor scrambling changes the bytes.
    const unsigned char* InPlace(const SSourceFile& file, std::uint32_t from,
                                 std::uint32_t to) const override;
    bool InMemory(const SSourceFile& file) const override;
    // Reads through the package's own handle, kept for the loading thread,
    // whatever mode the package is switched to later.
    void Duplicate(const SSourceFile& file, SSourceFile& copy) const override;
    void Close(SSourceFile& file) const override { ForgetSourceFile(file); }

private:
    const bool& m_deepSearch;
    const CZipSource& m_zips;
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_PACKAGESOURCE_H
