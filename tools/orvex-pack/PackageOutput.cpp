// Writing a package file for a command.
#include "PackageOutput.h"

namespace OrvexPack {

PackageOutput::PackageOutput(const fs::path& path, bool scramble) : m_file{path} {
    if (!m_writer.Open(LibraryPath(path).c_str(), scramble)) {
        m_file.kept = true; // nothing was created
        Fail("cannot create '" + Display(path) + "'");
    }
}

RemoveUnlessKept::~RemoveUnlessKept() {
    if (!kept) {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
}

void PackageOutput::Add(const std::string& name, const Bytes& bytes, std::uint32_t resident) {
    m_size += bytes.size();
    if (m_size > 0xFFFFFFFFu) {
        Fail("the package would pass 4 GiB at '" + name + "'");
    }
    std::wstring wide;
    Utf8ToWide(name, wide);
    static const unsigned char kNothing = 0;
    if (!m_writer.AddFile(wide.c_str(), bytes.empty() ? &kNothing : bytes.data(),
                          static_cast<std::uint32_t>(bytes.size()), resident)) {
        Fail("cannot write '" + Display(m_file.path) + "'");
    }
    m_names.push_back(name);
}

void PackageOutput::Finish(bool manifest) {
    if (manifest) {
        const std::string text = BuildManifest(m_names);
        // Not resident: a game never reads it.
        Add(kManifestName, Bytes(text.begin(), text.end()), 0);
    }
    if (!m_writer.Finish()) {
        Fail("cannot write '" + Display(m_file.path) + "'");
    }
    m_file.kept = true;
}

} // namespace OrvexPack
