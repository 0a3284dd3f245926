// The head command: the common file head of a loose file or of a packaged one.
#include "ToolSupport.h"

#include "OrvexCommon/file/OrvexFileHead.h"
#include "OrvexCommon/file/detail/FileHeadReader.h"
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/Package.h"

#include <cstdio>
#include <memory>

namespace OrvexPack {

namespace {

const char kUsage[] =
    "usage: orvex-pack head FILE\n"
    "       orvex-pack head PKG INNER-NAME\n"
    "\n"
    "Shows the common head that starts a typed resource file: its type, version,\n"
    "each group of dependencies with its type and file names, the size of the\n"
    "extra data and where the body begins. FILE is read from disk; with PKG and\n"
    "INNER-NAME the packaged file is read through the library (descrambled).\n"
    "Types show as their three letters, 'none' for -1, or in hexadecimal when\n"
    "they are no known type. Exit status 1 when the file has no valid head.\n";

// Where a read stopped and what it gave.
struct HeadRead {
    bool valid;
    std::uint32_t end; // the position after the last field read
    std::uint32_t size;
};

HeadRead ReadLooseHead(const fs::path& path, Orvex::CCommonFileHead& head) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        Fail("'" + Display(path) + "' is a directory, not a file");
    }
    Orvex::detail::SFileReader reader;
    if (!Orvex::detail::OpenReader(reader, LibraryPath(path).c_str())) {
        Fail("cannot read '" + Display(path) + "'");
    }
    const bool valid = Orvex::detail::ReadFileHead(reader, head);
    Orvex::detail::CloseReader(reader);
    return {valid, reader.position, reader.size};
}

HeadRead ReadPackagedHead(const fs::path& path, const std::string& inner,
                          Orvex::CCommonFileHead& head) {
    const RawPackage raw = ReadRawPackage(path); // the precise complaint when it is none
    const Orvex::detail::SPackage* package = OpenLibraryPackage(path);
    if (!raw.indexInside || package == nullptr) {
        Fail("'" + Display(path) + "' is not a package the library can open");
    }
    std::wstring wide;
    if (!Utf8ToWide(inner, wide)) {
        Fail("the name '" + inner + "' is not UTF-8");
    }
    const Orvex::detail::SPackageEntry* entry =
        Orvex::detail::FindEntryByName(*package, wide.c_str());
    if (entry == nullptr) {
        Fail("'" + Display(path) + "' holds no file named '" + inner + "'");
    }
    if (!EntryInsidePackage(*package, *entry)) {
        Fail("the data of '" + inner + "' runs beyond the end of '" + Display(path) + "'");
    }
    const Bytes bytes = ReadEntry(*package, *entry);
    Orvex::SLoadBuffer buffer{bytes.data(), 0, entry->size, 0};
    const bool valid = Orvex::detail::ReadFileHead(buffer, head);
    return {valid, buffer.pos, entry->size};
}

void ShowHead(std::ostream& out, const Orvex::CCommonFileHead& head, const HeadRead& read) {
    out << "type          " << FileTypeText(head.GetType()) << '\n'
        << "version       " << head.GetVersion() << '\n'
        << "groups        " << head.GetDependentResCount() << '\n';
    for (unsigned i = 0; i < head.GetDependentResCount(); ++i) {
        const Orvex::CDependentRes& group = head.GetDependentRes(i);
        const unsigned count = group.GetFileCount();
        out << "group " << i << "       " << FileTypeText(group.GetType()) << ", " << count
            << (count == 1 ? " name" : " names") << '\n';
        for (unsigned j = 0; j < count; ++j) {
            out << "  " << PrintableText(group.GetFileName(j)) << '\n';
        }
    }
    const std::uint64_t bodyStart = static_cast<std::uint64_t>(read.end) + head.GetExtraDataSize();
    out << "head size     " << read.end << " bytes\n"
        << "extra data    " << head.GetExtraDataSize() << " bytes\n";
    if (bodyStart <= read.size) {
        out << "body          " << read.size - bodyStart << " bytes from byte " << bodyStart
            << '\n';
    } else {
        out << "body          none: the extra data runs " << bodyStart - read.size
            << " bytes past the end of the file\n";
    }
}

} // namespace

int HeadCommand(const std::vector<std::string>& args, ToolStreams& io) {
    return Guarded(io, [&] {
        const ParsedArgs parsed = ParseArgs("head", args, {});
        if (parsed.help) {
            io.out << kUsage;
            return kExitSuccess;
        }
        RequirePositional("head", parsed, 1, 2);
        const fs::path path = ArgPath(parsed.positional[0]);
        const bool packaged = parsed.positional.size() == 2;
        const std::string label = packaged
                                      ? "'" + parsed.positional[1] + "' in '" + Display(path) + "'"
                                      : "'" + Display(path) + "'";
        Orvex::CCommonFileHead head;
        const HeadRead read = packaged ? ReadPackagedHead(path, parsed.positional[1], head)
                                       : ReadLooseHead(path, head);
        if (!read.valid) {
            if (read.end < 8) {
                Fail(label + " is too short to hold a file head (" + std::to_string(read.size) +
                     " bytes)");
            }
            const std::int32_t type = head.GetType();
            if (type != Orvex::eFT_None && !Orvex::detail::IsLetterFileType(type)) {
                Fail(label + " has no file head: " + FileTypeText(type) + " is not a file type");
            }
            Fail(label + " has a damaged file head: it breaks off at byte " +
                 std::to_string(read.end) +
                 " (a count or a name runs past the end of the file, or a name is longer than " +
                 std::to_string(Orvex::detail::kMaxHeadNameLength) + " units)");
        }
        io.out << "file          " << label << " (" << read.size << " bytes)\n";
        ShowHead(io.out, head, read);
        return kExitSuccess;
    });
}

} // namespace OrvexPack
