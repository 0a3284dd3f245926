// What the package tool's commands share: failures, argument parsing, file
// access, names, the raw header and index, and the manifest.
#ifndef ORVEX_TOOLS_ORVEXPACK_TOOLSUPPORT_H
#define ORVEX_TOOLS_ORVEXPACK_TOOLSUPPORT_H

#include "PackCommands.h"

#include "OrvexCommon/file/detail/PackageTypes.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace OrvexPack {

namespace fs = std::filesystem;
typedef std::vector<unsigned char> Bytes;

// Ends a command: its one-line message and exit status.
struct ToolFailure {
    std::string message;
    int status;
};

[[noreturn]] void Fail(const std::string& message);
[[noreturn]] void UsageError(const std::string& message);

// Runs a command's body and turns what it throws into an error line and an
// exit status.
int Guarded(ToolStreams& io, const std::function<int()>& body);

// ---- Command lines ----

struct KnownOption {
    const char* name; // without the leading "--"
    bool takesValue;  // "--name=value" or "--name value"
};

struct ParsedArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options; // flags map to ""
    bool help = false;
};

// Splits a command's arguments; "--" ends the options. Unknown options and
// missing values are usage errors.
ParsedArgs ParseArgs(const char* command, const std::vector<std::string>& args,
                     std::initializer_list<KnownOption> known);

// A usage error unless there are between `least` and `most` positional
// arguments.
void RequirePositional(const char* command, const ParsedArgs& parsed, std::size_t least,
                       std::size_t most);

// ---- Files and names ----

// A command-line argument (UTF-8) as a path, and a path for messages.
fs::path ArgPath(const std::string& utf8);
std::string Display(const fs::path& path);
// The path as the library takes it.
std::wstring LibraryPath(const fs::path& path);

Bytes ReadWholeFile(const fs::path& path);
void WriteWholeFile(const fs::path& path, const Bytes& bytes);

// Strict UTF-8 to wide text (pairs of surrogates where wchar_t has 16 bits);
// false for invalid text.
bool Utf8ToWide(const std::string& text, std::wstring& wide);
// Wide text to UTF-8; a surrogate pair becomes one code point, an unpaired
// surrogate U+FFFD.
std::string WideToUtf8(const std::wstring& wide);

// Text as UTF-8 with control characters as \xNN, so that it stays on its
// line.
std::string PrintableText(const std::wstring& text);

// Eight lower-case hexadecimal digits.
std::string KeyText(std::uint32_t key);

// A file type as its three letters, "none" for -1, or "0x" and eight
// hexadecimal digits for any other value.
std::string FileTypeText(std::int32_t type);

// The package key of a UTF-8 inner name.
std::uint32_t InnerNameKey(const std::string& name);

struct SourceFile {
    fs::path path;
    std::string name; // relative to the directory, '/' between parts, UTF-8
};

// Every regular file below `directory`, sorted by the byte order of their
// names, leaving out `exclude` (when it is one of them). Fails for a missing
// directory and for names that are not UTF-8 or hold a line break.
std::vector<SourceFile> CollectFiles(const fs::path& directory, const fs::path& exclude);

// True when extracting `name` below a directory would stay inside it: not
// empty, not absolute, no drive, no ".." part ('/' and '\' both separate).
bool IsContainedName(const std::string& name);

// ---- Packages ----

struct RawEntry {
    std::uint32_t key;
    std::uint32_t residentSize;
    std::uint32_t offset;
    std::uint32_t size;
};

// The header and, when it lies inside the file, the index, read from the file
// as it is on disk.
struct RawPackage {
    std::uint64_t fileSize = 0;
    bool scrambled = false;
    std::uint32_t count = 0;
    std::uint32_t indexOffset = 0;
    bool indexInside = false;
    std::vector<RawEntry> entries; // in index order; empty unless indexInside
};

// Fails when the file cannot be read, is shorter than a header or lacks the
// magic.
RawPackage ReadRawPackage(const fs::path& path);

// The package at `path` opened through the library (mapped when possible);
// null when the library refuses it.
Orvex::detail::SPackage* OpenLibraryPackage(const fs::path& path);

struct Manifest {
    bool present = false;
    std::vector<std::string> names;             // in the stored order
    std::map<std::uint32_t, std::string> byKey; // the manifest's own key included
};

// The manifest text: each name followed by a line feed.
std::string BuildManifest(const std::vector<std::string>& names);

// Reads the manifest of an open package. Lines that are not UTF-8 are
// skipped; a carriage return before a line feed is dropped.
Manifest ReadManifest(const Orvex::detail::SPackage& package);

// The manifest's name for a key, or "" when it has none.
std::string NameOf(const Manifest& manifest, std::uint32_t key);

// True when the entry's bytes lie inside what the package holds.
bool EntryInsidePackage(const Orvex::detail::SPackage& package,
                        const Orvex::detail::SPackageEntry& entry);

// A whole entry read through the library (patched, descrambled).
Bytes ReadEntry(const Orvex::detail::SPackage& package, const Orvex::detail::SPackageEntry& entry);

} // namespace OrvexPack

#endif // ORVEX_TOOLS_ORVEXPACK_TOOLSUPPORT_H
