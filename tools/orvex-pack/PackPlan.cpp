// What pack decides before it writes a package.
#include "PackPlan.h"

#include "OrvexCommon/file/OrvexFileHead.h"
#include "OrvexCommon/file/detail/FileHeadReader.h"

#include <map>

namespace OrvexPack {

namespace {

// One line per name whose key is taken, in the order of the names.
std::vector<std::string> KeyClashes(const std::vector<SourceFile>& files) {
    const std::uint32_t manifestKey = InnerNameKey(kManifestName);
    std::map<std::uint32_t, const std::string*> owners;
    std::vector<std::string> clashes;
    for (const SourceFile& file : files) {
        const std::uint32_t key = InnerNameKey(file.name);
        if (key == manifestKey) {
            clashes.push_back("'" + file.name + "' has the key of the reserved name " +
                              kManifestName + " (" + KeyText(key) + "); rename it");
            continue;
        }
        const auto inserted = owners.emplace(key, &file.name);
        if (!inserted.second) {
            clashes.push_back("'" + *inserted.first->second + "' and '" + file.name +
                              "' have the same key " + KeyText(key) + "; rename one of them");
        }
    }
    return clashes;
}

} // namespace

void CheckKeys(const std::vector<SourceFile>& files, std::ostream& err) {
    const std::vector<std::string> clashes = KeyClashes(files);
    if (clashes.size() == 1) {
        Fail(clashes[0]);
    }
    if (clashes.empty()) {
        return;
    }
    for (std::size_t i = 0; i < clashes.size() && i < kMaxReportedClashes; ++i) {
        err << "orvex-pack: " << clashes[i] << '\n';
    }
    const std::string total = std::to_string(clashes.size());
    if (clashes.size() <= kMaxReportedClashes) {
        Fail(total + " names have the key of another name; nothing was packed");
    }
    Fail("and " + std::to_string(clashes.size() - kMaxReportedClashes) +
         " more names have the key of another name (" + total + " in all); nothing was packed");
}

std::uint32_t HeadResidentSize(const Bytes& bytes) {
    if (bytes.empty()) {
        return 0;
    }
    const auto size = static_cast<std::uint32_t>(bytes.size());
    Orvex::SLoadBuffer buffer{bytes.data(), 0, size, 0};
    Orvex::CCommonFileHead head;
    if (!Orvex::detail::ReadFileHead(buffer, head)) {
        return 0;
    }
    const std::uint64_t end = static_cast<std::uint64_t>(buffer.pos) + head.GetExtraDataSize();
    // A head whose extra data runs past the end is refused by a loose load
    // too: such a file is no resource of its type.
    return end <= size ? static_cast<std::uint32_t>(end) : 0;
}

} // namespace OrvexPack
