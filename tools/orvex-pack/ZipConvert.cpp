// Converting between zip archives and packages: from-zip and to-zip.
#include "PackPlan.h"
#include "PackageOutput.h"
#include "ZipArchiveFile.h"

#include "OrvexCommon/file/detail/Package.h"

#include <zlib.h>

#include <fstream>

namespace OrvexPack {

namespace {

const char kFromUsage[] =
    "usage: orvex-pack from-zip IN.zip OUT.pkg\n"
    "\n"
    "Writes every file of the zip archive, as the loader reads it, into a package\n"
    "under its name in the archive, with a manifest of the names, in the archive's\n"
    "order. A file that begins with a valid common head keeps its head and extra\n"
    "data resident, as pack gives them. Nothing is written when the archive has a\n"
    "record the loader refuses or a file that fails to read.\n";

const char kToUsage[] =
    "usage: orvex-pack to-zip IN.pkg OUT.zip\n"
    "\n"
    "Writes every file of the package, as the library reads it (patched and\n"
    "descrambled), into a zip archive under its manifest name, in the manifest's\n"
    "order: deflated when that makes it smaller, else stored. The package must\n"
    "hold a manifest naming every file. The archive has no dates (1980-01-01),\n"
    "so the same package always gives the same bytes.\n";

// Raw deflate at the best compression.
Bytes Deflate(const Bytes& bytes) {
    z_stream stream = {};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        Fail("no memory to deflate");
    }
    Bytes packed(deflateBound(&stream, static_cast<uLong>(bytes.size())));
    stream.next_in = const_cast<Bytef*>(bytes.data());
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = packed.data();
    stream.avail_out = static_cast<uInt>(packed.size());
    const int status = deflate(&stream, Z_FINISH);
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        Fail("cannot deflate");
    }
    return packed;
}

// Appends `bytes` (at most 8) little-endian bytes of `value`.
void Put(Bytes& out, std::uint64_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) {
        out.push_back(static_cast<unsigned char>(value >> (8 * k)));
    }
}

// A zip archive written entry by entry: classic records, and the ZIP64 end
// records when there are more than 65 535 entries.
class ZipOutput {
public:
    explicit ZipOutput(const fs::path& path)
        : m_file{path}, m_stream(path, std::ios::binary | std::ios::trunc) {
        if (!m_stream) {
            m_file.kept = true;
            Fail("cannot create '" + Display(path) + "'");
        }
    }

    void Add(const std::string& name, const Bytes& bytes) {
        const std::uint64_t headerOffset = m_offset;
        const Bytes packed = Deflate(bytes);
        const bool deflated = packed.size() < bytes.size();
        const Bytes& data = deflated ? packed : bytes;
        bool ascii = true;
        for (char c : name) {
            ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        }
        Bytes fields; // version needed to the name length: local and central alike
        Put(fields, 20, 2);
        Put(fields, ascii ? 0 : 0x0800, 2);
        Put(fields, deflated ? 8 : 0, 2);
        Put(fields, 0, 2);      // time
        Put(fields, 0x0021, 2); // 1980-01-01
        Put(fields, crc32(0, bytes.data(), static_cast<uInt>(bytes.size())), 4);
        Put(fields, data.size(), 4);
        Put(fields, bytes.size(), 4);
        Put(fields, name.size(), 2);
        if (m_offset + 30 + name.size() + data.size() > 0xFFFFFFFFu) {
            Fail("the zip archive would pass 4 GiB at '" + name + "'");
        }
        Bytes local;
        Put(local, 0x04034B50, 4);
        local.insert(local.end(), fields.begin(), fields.end());
        Put(local, 0, 2); // extra length
        local.insert(local.end(), name.begin(), name.end());
        Write(local);
        Write(data);
        Put(m_directory, 0x02014B50, 4);
        Put(m_directory, 20, 2); // made by
        m_directory.insert(m_directory.end(), fields.begin(), fields.end());
        Put(m_directory, 0, 2); // extra length
        Put(m_directory, 0, 2); // comment length
        Put(m_directory, 0, 2); // disk
        Put(m_directory, 0, 2); // internal attributes
        Put(m_directory, 0, 4); // external attributes
        Put(m_directory, headerOffset, 4);
        m_directory.insert(m_directory.end(), name.begin(), name.end());
        ++m_count;
    }

    void Finish() {
        const std::uint64_t directoryOffset = m_offset;
        Write(m_directory);
        if (m_offset > 0xFFFFFFFFu) {
            Fail("the zip archive's directory would pass 4 GiB");
        }
        const bool wide = m_count > 0xFFFF;
        Bytes end;
        if (wide) {
            const std::uint64_t record = m_offset;
            Put(end, 0x06064B50, 4), Put(end, 44, 8), Put(end, 45, 2), Put(end, 45, 2);
            Put(end, 0, 4), Put(end, 0, 4), Put(end, m_count, 8), Put(end, m_count, 8);
            Put(end, m_directory.size(), 8), Put(end, directoryOffset, 8);
            Put(end, 0x07064B50, 4), Put(end, 0, 4), Put(end, record, 8), Put(end, 1, 4);
        }
        Put(end, 0x06054B50, 4), Put(end, 0, 2), Put(end, 0, 2);
        Put(end, wide ? 0xFFFF : m_count, 2), Put(end, wide ? 0xFFFF : m_count, 2);
        Put(end, m_directory.size(), 4), Put(end, directoryOffset, 4), Put(end, 0, 2);
        Write(end);
        m_stream.close();
        if (!m_stream) {
            Fail("cannot write '" + Display(m_file.path) + "'");
        }
        m_file.kept = true;
    }

private:
    void Write(const Bytes& bytes) {
        m_stream.write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
        if (!m_stream) {
            Fail("cannot write '" + Display(m_file.path) + "'");
        }
        m_offset += bytes.size();
    }

    RemoveUnlessKept m_file; // before the stream: the stream is closed when it goes
    std::ofstream m_stream;
    Bytes m_directory;
    std::uint64_t m_offset = 0;
    std::uint64_t m_count = 0;
};

} // namespace

int FromZipCommand(const std::vector<std::string>& args, ToolStreams& io) {
    return Guarded(io, [&] {
        const ParsedArgs parsed = ParseArgs("from-zip", args, {});
        if (parsed.help) {
            io.out << kFromUsage;
            return kExitSuccess;
        }
        RequirePositional("from-zip", parsed, 2, 2);
        const fs::path input = ArgPath(parsed.positional[0]);
        const fs::path output = ArgPath(parsed.positional[1]);
        ZipFile file(input);
        const Orvex::detail::SZipDirectory directory = OpenZipDirectory(input, file);
        const std::vector<std::string> refusals = ZipRefusalLines(directory.refused);
        for (const std::string& line : refusals) {
            io.err << "orvex-pack: " << Display(input) << ": " << line << '\n';
        }
        if (!refusals.empty()) {
            Fail("'" + Display(input) + "' has records the loader refuses; nothing written");
        }
        std::vector<SourceFile> names;
        for (const Orvex::detail::SZipEntry* entry : EntriesInArchiveOrder(directory)) {
            names.push_back({fs::path(), ZipEntryName(directory, *entry)});
        }
        CheckKeys(names, io.err);
        PackageOutput package(output, false);
        std::uint64_t dataBytes = 0;
        std::size_t k = 0;
        Bytes bytes;
        for (const Orvex::detail::SZipEntry* entry : EntriesInArchiveOrder(directory)) {
            const Orvex::detail::EZipRead status = ReadZipEntry(file, directory, *entry, &bytes);
            if (status != Orvex::detail::EZipRead::kOk) {
                Fail("'" + names[k].name + "' in '" + Display(input) + "' " +
                     ZipReadProblem(status));
            }
            package.Add(names[k++].name, bytes, HeadResidentSize(bytes));
            dataBytes += bytes.size();
        }
        package.Finish(true);
        io.out << "converted " << names.size() << (names.size() == 1 ? " file (" : " files (")
               << dataBytes << " bytes) from '" << Display(input) << "' into '" << Display(output)
               << "'\n";
        return kExitSuccess;
    });
}

int ToZipCommand(const std::vector<std::string>& args, ToolStreams& io) {
    return Guarded(io, [&] {
        const ParsedArgs parsed = ParseArgs("to-zip", args, {});
        if (parsed.help) {
            io.out << kToUsage;
            return kExitSuccess;
        }
        RequirePositional("to-zip", parsed, 2, 2);
        const fs::path input = ArgPath(parsed.positional[0]);
        const fs::path output = ArgPath(parsed.positional[1]);
        const Orvex::detail::SPackage* package = OpenLibraryPackage(input);
        if (package == nullptr) {
            Fail("the library cannot open '" + Display(input) + "'");
        }
        const Manifest manifest = ReadManifest(*package);
        if (!manifest.present) {
            Fail("'" + Display(input) + "' has no manifest, so its files have no names");
        }
        // Every file but the manifest must have a name.
        if (package->index.size() != manifest.byKey.size()) {
            Fail("'" + Display(input) + "' has files its manifest does not name");
        }
        ZipOutput zip(output);
        std::uint64_t dataBytes = 0;
        for (const std::string& name : manifest.names) {
            const auto* entry = package->index.Find(InnerNameKey(name));
            if (entry == nullptr || !EntryInsidePackage(*package, *entry)) {
                Fail("'" + name + "' is not inside '" + Display(input) + "'");
            }
            const Bytes bytes = ReadEntry(*package, *entry);
            zip.Add(name, bytes);
            dataBytes += bytes.size();
        }
        zip.Finish();
        io.out << "converted " << manifest.names.size()
               << (manifest.names.size() == 1 ? " file (" : " files (") << dataBytes
               << " bytes) from '" << Display(input) << "' into '" << Display(output) << "'\n";
        return kExitSuccess;
    });
}

} // namespace OrvexPack
