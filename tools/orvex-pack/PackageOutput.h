// A package file being written by a command: the library's writer, names as
// UTF-8, the 4 GiB bound, the manifest, and the file removed again when the
// command ends before Finish.
#ifndef ORVEX_TOOLS_ORVEXPACK_PACKAGEOUTPUT_H
#define ORVEX_TOOLS_ORVEXPACK_PACKAGEOUTPUT_H

#include "ToolSupport.h"

#include "OrvexCommon/file/detail/PackageWriter.h"

#include <string>
#include <vector>

namespace OrvexPack {

// Removes an output file when it goes, unless kept: a command that ends
// early leaves nothing half written.
struct RemoveUnlessKept {
    fs::path path;
    bool kept = false;
    ~RemoveUnlessKept();
};

class PackageOutput {
public:
    // Creates the file; fails when it cannot.
    PackageOutput(const fs::path& path, bool scramble);
    PackageOutput(const PackageOutput&) = delete;
    PackageOutput& operator=(const PackageOutput&) = delete;

    // Adds a file under its UTF-8 name with `resident` bytes resident; fails
    // when the package would pass 4 GiB or the file cannot be written.
    void Add(const std::string& name, const Bytes& bytes, std::uint32_t resident);
    // Adds the manifest of every name added (unless `manifest` is false) and
    // completes the file, which then stays.
    void Finish(bool manifest);

private:
    // Declared before the writer, so that the writer has closed the file
    // when it goes.
    RemoveUnlessKept m_file;
    Orvex::detail::PackageWriter m_writer;
    std::uint64_t m_size = Orvex::detail::kPackageHeaderSize;
    std::vector<std::string> m_names;
};

} // namespace OrvexPack

#endif // ORVEX_TOOLS_ORVEXPACK_PACKAGEOUTPUT_H
