// What the package tool's commands share.
#include "ToolSupport.h"

#include "OrvexCommon/file/detail/FileHeadReader.h"
#include "OrvexCommon/file/detail/NameKey.h"
#include "OrvexCommon/file/detail/Package.h"

#include <algorithm>
#include <fstream>
#include <new>

namespace OrvexPack {

namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

void AppendCodePoint(std::wstring& wide, std::uint32_t point) {
    if (sizeof(wchar_t) == 2 && point > 0xFFFF) {
        point -= 0x10000;
        wide.push_back(static_cast<wchar_t>(0xD800 + (point >> 10)));
        wide.push_back(static_cast<wchar_t>(0xDC00 + (point & 0x3FF)));
    } else {
        wide.push_back(static_cast<wchar_t>(point));
    }
}

void AppendUtf8(std::string& text, std::uint32_t point) {
    if (point < 0x80) {
        text.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
        text.push_back(static_cast<char>(0xC0 | (point >> 6)));
        text.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
        text.push_back(static_cast<char>(0xE0 | (point >> 12)));
        text.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
        text.push_back(static_cast<char>(0xF0 | (point >> 18)));
        text.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

} // namespace

void Fail(const std::string& message) {
    throw ToolFailure{message, kExitFailure};
}

void UsageError(const std::string& message) {
    throw ToolFailure{message, kExitUsage};
}

int Guarded(ToolStreams& io, const std::function<int()>& body) {
    std::string message;
    int status = kExitFailure;
    try {
        return body();
    } catch (const ToolFailure& failure) {
        message = failure.message;
        status = failure.status;
    } catch (const std::bad_alloc&) {
        message = "out of memory";
    } catch (const std::exception& error) {
        message = error.what();
    } catch (const char* text) {
        message = text != nullptr ? text : "unknown error";
    }
    io.out.flush();
    io.err << "orvex-pack: " << message << '\n';
    io.err.flush();
    return status;
}

ParsedArgs ParseArgs(const char* command, const std::vector<std::string>& args,
                     std::initializer_list<KnownOption> known) {
    ParsedArgs parsed;
    for (const std::string& arg : args) {
        if (arg == "--") {
            break;
        }
        if (arg == "-h" || arg == "--help") {
            parsed.help = true; // help wins over any other mistake
            return parsed;
        }
    }
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name =
            arg.compare(0, 2, "--") == 0
                ? arg.substr(2, equals == std::string::npos ? equals : equals - 2)
                : std::string();
        const KnownOption* option = nullptr;
        for (const KnownOption& candidate : known) {
            if (!name.empty() && name == candidate.name) {
                option = &candidate;
            }
        }
        if (option == nullptr) {
            UsageError("unknown option '" + arg.substr(0, equals) + "' for " + command);
        }
        std::string value;
        if (option->takesValue) {
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                UsageError("option --" + name + " needs a value");
            }
        } else if (equals != std::string::npos) {
            UsageError("option --" + name + " takes no value");
        }
        parsed.options[name] = value;
    }
    return parsed;
}

void RequirePositional(const char* command, const ParsedArgs& parsed, std::size_t least,
                       std::size_t most) {
    if (parsed.positional.size() < least) {
        UsageError(std::string("missing arguments for ") + command + " (see 'orvex-pack " +
                   command + " --help')");
    }
    if (parsed.positional.size() > most) {
        UsageError(std::string("unexpected argument '") + parsed.positional[most] + "' for " +
                   command + " (see 'orvex-pack " + command + " --help')");
    }
}

fs::path ArgPath(const std::string& utf8) {
    return fs::u8path(utf8);
}

std::string Display(const fs::path& path) {
    return path.u8string();
}

std::wstring LibraryPath(const fs::path& path) {
    return path.wstring();
}

Bytes ReadWholeFile(const fs::path& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        Fail("'" + Display(path) + "' is a directory, not a file");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Fail("cannot read '" + Display(path) + "'");
    }
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    in.seekg(0, std::ios::beg);
    if (length < 0) {
        Fail("cannot read '" + Display(path) + "'");
    }
    Bytes bytes(static_cast<std::size_t>(length));
    if (!bytes.empty() &&
        !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length))) {
        Fail("cannot read '" + Display(path) + "'");
    }
    return bytes;
}

void WriteWholeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) {
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
    }
    if (!out) {
        Fail("cannot write '" + Display(path) + "'");
    }
}

bool Utf8ToWide(const std::string& text, std::wstring& wide) {
    wide.clear();
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::uint32_t point = lead;
        std::size_t extra = 0;
        std::uint32_t least = 0;
        if (lead >= 0xF0 && lead <= 0xF4) {
            point = lead & 0x07;
            extra = 3;
            least = 0x10000;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            point = lead & 0x0F;
            extra = 2;
            least = 0x800;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            point = lead & 0x1F;
            extra = 1;
            least = 0x80;
        } else if (lead >= 0x80) {
            return false;
        }
        if (text.size() - i <= extra) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            point = (point << 6) | (next & 0x3F);
        }
        if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        AppendCodePoint(wide, point);
        i += extra + 1;
    }
    return true;
}

std::string WideToUtf8(const std::wstring& wide) {
    std::string text;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        auto point = static_cast<std::uint32_t>(wide[i]);
        if (point >= 0xD800 && point <= 0xDBFF && i + 1 < wide.size()) {
            const auto low = static_cast<std::uint32_t>(wide[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if ((point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) {
            point = kReplacement;
        }
        AppendUtf8(text, point);
    }
    return text;
}

std::string PrintableText(const std::wstring& text) {
    std::string printable;
    for (const char c : WideToUtf8(text)) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            printable += "\\x" + KeyText(static_cast<unsigned char>(c)).substr(6);
        } else {
            printable.push_back(c);
        }
    }
    return printable;
}

std::string KeyText(std::uint32_t key) {
    static const char digits[] = "0123456789abcdef";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, key >>= 4) {
        text[static_cast<std::size_t>(i)] = digits[key & 0xF];
    }
    return text;
}

std::string FileTypeText(std::int32_t type) {
    if (Orvex::detail::IsLetterFileType(type)) {
        std::string letters;
        for (int i = 0; i < 3; ++i) {
            letters.push_back(static_cast<char>((type >> (8 * i)) & 0xFF));
        }
        return letters;
    }
    if (type == Orvex::eFT_None) {
        return "none";
    }
    return "0x" + KeyText(static_cast<std::uint32_t>(type));
}

std::uint32_t InnerNameKey(const std::string& name) {
    std::wstring wide;
    if (!Utf8ToWide(name, wide)) {
        Fail("the name '" + name + "' is not UTF-8");
    }
    return Orvex::detail::EntryKey(wide.c_str());
}

std::vector<SourceFile> CollectFiles(const fs::path& directory, const fs::path& exclude) {
    std::error_code error;
    if (!fs::is_directory(directory, error)) {
        Fail("'" + Display(directory) + "' is not a directory");
    }
    const bool excludeExists = fs::exists(exclude, error);
    std::vector<SourceFile> files;
    for (fs::recursive_directory_iterator it(directory), end; it != end; ++it) {
        if (!it->is_regular_file()) {
            continue;
        }
        const fs::path& path = it->path();
        if (excludeExists && path.filename() == exclude.filename() &&
            fs::equivalent(path, exclude, error)) {
            continue;
        }
        std::string name;
        for (const fs::path& part : path.lexically_relative(directory)) {
            name += (name.empty() ? "" : "/") + part.u8string();
        }
        std::wstring wide;
        if (!Utf8ToWide(name, wide)) {
            Fail("the name of '" + Display(path) + "' is not UTF-8");
        }
        if (name.find_first_of("\r\n") != std::string::npos) {
            Fail("the name of '" + Display(path) + "' holds a line break");
        }
        files.push_back({path, name});
    }
    std::sort(files.begin(), files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
    return files;
}

bool IsContainedName(const std::string& name) {
    if (name.empty() || IsSeparator(name[0]) || (name.size() >= 2 && name[1] == ':')) {
        return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) {
            ++end;
        }
        if (name.compare(start, end - start, "..") == 0) {
            return false;
        }
        start = end + 1;
    }
    const fs::path path = ArgPath(name);
    return !path.is_absolute() && !path.has_root_name() && !path.has_root_directory();
}

RawPackage ReadRawPackage(const fs::path& path) {
    using namespace Orvex::detail;
    std::error_code error;
    if (fs::is_directory(path, error)) {
        Fail("'" + Display(path) + "' is a directory, not a package");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Fail("cannot read '" + Display(path) + "'");
    }
    RawPackage raw;
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    in.seekg(0, std::ios::beg);
    if (length < 0) {
        Fail("cannot read '" + Display(path) + "'");
    }
    raw.fileSize = static_cast<std::uint64_t>(length);
    unsigned char header[kPackageHeaderSize];
    if (raw.fileSize < kPackageHeaderSize ||
        !in.read(reinterpret_cast<char*>(header), kPackageHeaderSize)) {
        Fail("'" + Display(path) + "' is too short to be a package (" +
             std::to_string(raw.fileSize) + " bytes)");
    }
    if (ReadLittleEndian32(header) != kPackageMagic) {
        Fail("'" + Display(path) + "' is not a package (bad magic)");
    }
    raw.scrambled = header[4] != 0;
    raw.count = ReadLittleEndian32(header + 8);
    raw.indexOffset = ReadLittleEndian32(header + 12);
    const std::uint64_t indexBytes = static_cast<std::uint64_t>(raw.count) * kPackageEntrySize;
    raw.indexInside = raw.indexOffset + indexBytes <= raw.fileSize;
    if (!raw.indexInside) {
        return raw;
    }
    Bytes index(static_cast<std::size_t>(indexBytes));
    in.seekg(static_cast<std::streamoff>(raw.indexOffset), std::ios::beg);
    if (!index.empty() &&
        !in.read(reinterpret_cast<char*>(index.data()), static_cast<std::streamsize>(indexBytes))) {
        Fail("cannot read the index of '" + Display(path) + "'");
    }
    raw.entries.reserve(raw.count);
    for (std::uint32_t i = 0; i < raw.count; ++i) {
        const unsigned char* record =
            index.data() + static_cast<std::size_t>(i) * kPackageEntrySize;
        raw.entries.push_back({ReadLittleEndian32(record), ReadLittleEndian32(record + 4),
                               ReadLittleEndian32(record + 8), ReadLittleEndian32(record + 12)});
    }
    return raw;
}

Orvex::detail::SPackage* OpenLibraryPackage(const fs::path& path) {
    return Orvex::detail::OpenPackage(LibraryPath(path).c_str(), nullptr, 0, true);
}

bool EntryInsidePackage(const Orvex::detail::SPackage& package,
                        const Orvex::detail::SPackageEntry& entry) {
    return static_cast<std::uint64_t>(entry.offset) + entry.size <=
           Orvex::detail::PackageExtent(package);
}

std::string BuildManifest(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += name;
        text += '\n';
    }
    return text;
}

Manifest ReadManifest(const Orvex::detail::SPackage& package) {
    Manifest manifest;
    const std::uint32_t manifestKey = InnerNameKey(kManifestName);
    const auto* found = package.index.Find(manifestKey);
    if (found == nullptr || !EntryInsidePackage(package, *found)) {
        return manifest;
    }
    manifest.present = true;
    manifest.byKey[manifestKey] = kManifestName;
    const Bytes bytes = ReadEntry(package, *found);
    const std::string text(bytes.begin(), bytes.end());
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::wstring wide;
        if (!line.empty() && Utf8ToWide(line, wide)) {
            manifest.names.push_back(line);
            manifest.byKey[Orvex::detail::EntryKey(wide.c_str())] = line;
        }
        start = end + 1;
    }
    return manifest;
}

std::string NameOf(const Manifest& manifest, std::uint32_t key) {
    const auto found = manifest.byKey.find(key);
    return found == manifest.byKey.end() ? std::string() : found->second;
}

Bytes ReadEntry(const Orvex::detail::SPackage& package, const Orvex::detail::SPackageEntry& entry) {
    // One spare byte, so that an empty entry still has a buffer to point at.
    Bytes bytes(static_cast<std::size_t>(entry.size) + 1);
    Orvex::detail::ReadPackageEntry(package, entry, bytes.data());
    bytes.pop_back();
    return bytes;
}

} // namespace OrvexPack
