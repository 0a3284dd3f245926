// Helpers for the package tool's tests: running commands in-process, scratch
// trees of files, and reading packages back through the library.
#ifndef ORVEX_TESTS_TOOLS_PACKTOOLTESTSUPPORT_H
#define ORVEX_TESTS_TOOLS_PACKTOOLTESTSUPPORT_H

#include "../file/PackageTestSupport.h"
#include "PackCommands.h"

#include "OrvexCommon/file/detail/NameKey.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/memory/detail/TextStrings.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace OrvexTest {

namespace fs = std::filesystem;
typedef std::vector<unsigned char> Bytes;
// Files by their name relative to the tree's root ('/' between parts, UTF-8).
typedef std::map<std::string, Bytes> Tree;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs a whole command line (without the program name) in-process.
inline Outcome RunPack(const std::vector<std::string>& args, bool progress = false) {
    std::ostringstream out;
    std::ostringstream err;
    OrvexPack::ToolStreams io{out, err, progress};
    const int status = OrvexPack::RunTool(args, io);
    return {status, out.str(), err.str()};
}

inline fs::path U8(const std::string& utf8) {
    return fs::u8path(utf8);
}

inline std::wstring Wide(const std::string& utf8) {
    const Orvex::OrvexWString wide = Orvex::Utf8ToWideString(utf8.c_str());
    return std::wstring(wide.begin(), wide.end());
}

// The key of a UTF-8 inner name, and a key as list shows it.
inline std::uint32_t KeyOf(const std::string& name) {
    return Orvex::detail::EntryKey(Wide(name).c_str());
}

inline std::string KeyHex(std::uint32_t key) {
    std::ostringstream text;
    text << std::hex << std::setw(8) << std::setfill('0') << key;
    return text.str();
}

struct ListedEntry {
    std::uint32_t offset;
    std::uint32_t size;
    std::uint32_t resident;
    std::string head; // what the loader reads from the resident part
    std::string name;
};

// The entry lines of list's output by key, and its header lines by label.
inline void ParseListing(const std::string& text, std::map<std::string, ListedEntry>& entries,
                         std::map<std::string, std::string>& header) {
    std::istringstream lines(text);
    std::string line;
    bool inEntries = false;
    while (std::getline(lines, line)) {
        if (line.rfind("key ", 0) == 0) {
            inEntries = true;
        } else if (inEntries) {
            std::istringstream fields(line);
            std::string key;
            ListedEntry entry{};
            fields >> key >> entry.offset >> entry.size >> entry.resident >> entry.head;
            fields >> std::ws;
            std::getline(fields, entry.name);
            entries[key] = entry;
        } else {
            const std::size_t gap = line.find("  ");
            header[line.substr(0, gap)] = line.substr(line.find_first_not_of(' ', gap));
        }
    }
}

using OrvexTest::RandomBytes;

inline void WriteFile(const fs::path& path, const Bytes& bytes) {
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteTree(const std::string& root, const Tree& tree) {
    for (const auto& file : tree) {
        WriteFile(U8(root) / U8(file.first), file.second);
    }
}

inline Tree ReadTree(const std::string& root) {
    Tree tree;
    for (fs::recursive_directory_iterator it(U8(root)), end; it != end; ++it) {
        if (!it->is_regular_file()) {
            continue;
        }
        std::string name;
        for (const fs::path& part : it->path().lexically_relative(U8(root))) {
            name += (name.empty() ? "" : "/") + part.u8string();
        }
        tree[name] = ReadFile(it->path());
    }
    return tree;
}

// A tree of `count` files with random contents: mostly small, every 500th up
// to 200 KB, some empty; nested directories and names of mixed case, a few of
// them beyond ASCII. No two names differ only in case.
inline Tree MakeTree(std::size_t count, std::uint32_t seed) {
    static const char* const kDirectories[] = {"",
                                               "Textures",
                                               "Textures/Hero",
                                               "Textures/Hero/LOD1",
                                               "sound/Ambient",
                                               "Maps/Level_01/Props",
                                               "Maps/level_02",
                                               u8"Gr\u00fc\u00dfe/\u00c4rger",
                                               "data"};
    std::mt19937 generator(seed);
    Tree tree;
    for (std::size_t i = 0; i < count; ++i) {
        const char* directory = kDirectories[generator() % (sizeof(kDirectories) / sizeof(char*))];
        std::string name = directory;
        name += name.empty() ? "" : "/";
        name += (i % 3 == 0 ? "File_" : i % 3 == 1 ? "mesh" : u8"Sky\u00e9");
        name += std::to_string(i);
        name += (i % 2 == 0 ? ".DAT" : ".bin");
        std::size_t size = generator() % 2000;
        if (i % 500 == 7) {
            size = 100000 + generator() % 100000;
        } else if (i % 97 == 0) {
            size = 0;
        } else if (i % 10 == 3) {
            size = 2000 + generator() % 18000;
        }
        tree[name] = RandomBytes(size, seed * 7919u + static_cast<std::uint32_t>(i));
    }
    return tree;
}

// Opens a package through the library; every call needs a path spelling no
// earlier call of the process used.
inline Orvex::detail::SPackage* OpenWithLibrary(const std::string& path, bool mapped) {
    return Orvex::detail::OpenPackage(U8(path).wstring().c_str(), nullptr, 0, mapped);
}

inline Bytes ReadPackaged(const Orvex::detail::SPackage& package,
                          const Orvex::detail::SPackageEntry& entry) {
    Bytes bytes(static_cast<std::size_t>(entry.size) + 1);
    Orvex::detail::ReadPackageEntry(package, entry, bytes.data());
    bytes.pop_back();
    return bytes;
}

// The names of the tree's files that the package lacks or holds with other
// bytes, read in the package's current mode.
inline std::vector<std::string> Mismatches(const Orvex::detail::SPackage& package,
                                           const Tree& tree) {
    std::vector<std::string> wrong;
    for (const auto& file : tree) {
        const Orvex::detail::SPackageEntry* entry =
            Orvex::detail::FindEntryByName(package, Wide(file.first).c_str());
        if (entry == nullptr || ReadPackaged(package, *entry) != file.second) {
            wrong.push_back(file.first);
        }
    }
    return wrong;
}

// Scratch names relative to the working directory, each used once per process,
// cleared when handed out (what an earlier run could not remove: Windows keeps
// open packages) and removed at the end.
class Scratch {
public:
    std::string Path(const char* tag, const char* suffix = "") {
        const std::string path = UniqueNarrowName("oxpt", tag) + suffix;
        std::error_code ignored;
        fs::remove_all(U8(path), ignored);
        m_paths.Add(U8(path));
        return path;
    }

private:
    ScratchPaths m_paths;
};

} // namespace OrvexTest

#endif // ORVEX_TESTS_TOOLS_PACKTOOLTESTSUPPORT_H
