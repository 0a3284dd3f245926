// Names of every kind a file name can lead to, made for tests (a regular
// file, links, a FIFO, a directory, a device), and what a name is, taken
// without opening it, so that a test can tell that a call left it alone.
#ifndef ORVEX_TESTS_SUPPORT_SPECIALFILES_H
#define ORVEX_TESTS_SUPPORT_SPECIALFILES_H

#include "OrvexTestSupport.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace OrvexTest {

enum class NameKind {
    Regular,       // a regular file holding the bytes given
    LinkToRegular, // a symbolic link to such a file beside it
    Fifo,          // a named pipe nobody has open
    Directory,     // a directory holding one file
    LinkToDevice,  // a symbolic link to /dev/zero
    DanglingLink,  // a symbolic link to a name beside it that does not exist
};

// The name a dangling link made by MakeNameOfKind leads to.
inline std::wstring DanglingTarget(const std::wstring& path) {
    return path + L".nowhere";
}

// Makes `path` a name of `kind`. False where this platform or file system
// cannot (FIFOs and devices on Windows, links where none can be made).
inline bool MakeNameOfKind(const std::wstring& path, NameKind kind,
                           const std::vector<unsigned char>& bytes) {
    namespace fs = std::filesystem;
    const fs::path name(path);
    std::error_code error;
    const auto write = [&bytes](const fs::path& file) {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return static_cast<bool>(out);
    };
    switch (kind) {
    case NameKind::Regular:
        return write(name);
    case NameKind::LinkToRegular:
        fs::create_symlink(name.filename().wstring() + L".real", name, error);
        return !error && write(path + L".real");
    case NameKind::Fifo:
        return MakeFifo(name.string());
    case NameKind::Directory:
        return fs::create_directory(name, error) && write(name / "inside.txt");
    case NameKind::LinkToDevice:
        if (!fs::is_character_file("/dev/zero", error)) {
            return false;
        }
        fs::create_symlink("/dev/zero", name, error);
        return !error;
    case NameKind::DanglingLink:
        fs::create_symlink(fs::path(DanglingTarget(path)).filename(), name, error);
        return !error;
    }
    return false;
}

// What a name is: its own type, the type it leads to, permissions, bytes.
struct NameState {
    std::filesystem::file_type own;    // the name itself (a link is a link)
    std::filesystem::file_type leadTo; // links followed
    std::filesystem::perms perms;
    std::vector<unsigned char> bytes; // a regular file's
    bool hidden;

    bool operator==(const NameState& other) const {
        return own == other.own && leadTo == other.leadTo && perms == other.perms &&
               bytes == other.bytes && hidden == other.hidden;
    }
    bool SameKind(const NameState& other) const {
        return own == other.own && leadTo == other.leadTo;
    }
};

// Taken without opening anything but a regular file.
inline NameState StateOf(const std::wstring& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    NameState state{};
    state.own = fs::symlink_status(path, error).type();
    const fs::file_status status = fs::status(path, error);
    state.leadTo = status.type();
    state.perms = status.permissions();
    if (state.leadTo == fs::file_type::regular) {
        std::ifstream in(fs::path(path), std::ios::binary);
        state.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    state.hidden = IsHidden(path);
    return state;
}

} // namespace OrvexTest

#endif // ORVEX_TESTS_SUPPORT_SPECIALFILES_H
