// The recursive directory walk: depth-first, each directory reported before
// its contents, one pooled block per level of recursion.
#include "OrvexCommon/filesystem/OrvexPathMgr.h"
#include "OrvexCommon/filesystem/detail/PathMgrText.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cwchar>

namespace Orvex {

using detail::IsPathSeparator;

namespace {

// Largest request the pooled allocator serves.
constexpr std::size_t kLargestBlock = 0x7FFFFFFA;

// One level of the walk. Its block holds the directory search followed by the
// full-path buffer: the directory's own path, a separator when it lacks one,
// then room for the longest entry name. The buffer is sized to the directory
// rather than fixed, so no path is ever cut: a cut path would name another
// entry, and entering it would list the wrong directory.
class WalkLevel {
public:
    explicit WalkLevel(const wchar_t* dir);
    ~WalkLevel();
    WalkLevel(const WalkLevel&) = delete;
    WalkLevel& operator=(const WalkLevel&) = delete;

    bool IsOpen() const { return m_open; }
    // The full path of the next entry worth reporting, valid until the next
    // call; null when the directory has no more.
    const wchar_t* NextPath();

private:
    void* m_block = nullptr;
    wchar_t* m_path = nullptr;
    wchar_t* m_name = nullptr; // where entry names go, inside m_path
    bool m_open = false;
};

std::size_t SearchBytes() {
    const std::size_t align = sys::kDirectorySearchAlignment;
    return (sys::DirectorySearchSize() + align - 1) / align * align;
}

// The working copy's own files, the directory itself and its parent are
// never reported. The comparison is exact: ".SVN" is an ordinary name.
bool IsPassedOver(const wchar_t* name) {
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0 ||
           std::wcscmp(name, L".svn") == 0;
}

WalkLevel::WalkLevel(const wchar_t* dir) {
    const std::size_t dirLength = std::wcslen(dir);
    const bool addSeparator = dirLength == 0 || !IsPathSeparator(dir[dirLength - 1]);
    const std::size_t pathUnits = dirLength + 1 + sys::kEntryNameCapacity;
    if (pathUnits > (kLargestBlock - SearchBytes()) / sizeof(wchar_t)) {
        return;
    }
    m_block = OrvexAlloc(static_cast<unsigned>(SearchBytes() + pathUnits * sizeof(wchar_t)));
    if (m_block == nullptr) {
        return;
    }
    m_path = reinterpret_cast<wchar_t*>(static_cast<char*>(m_block) + SearchBytes());
    std::wmemcpy(m_path, dir, dirLength);
    m_name = m_path + dirLength;
    if (addSeparator) {
        *m_name++ = L'/';
    }
    *m_name = L'\0';
    m_open = sys::OpenDirectorySearch(m_block, dir);
}

WalkLevel::~WalkLevel() {
    if (m_open) {
        sys::CloseDirectorySearch(m_block);
    }
    OrvexFree(m_block);
}

const wchar_t* WalkLevel::NextPath() {
    while (sys::NextDirectoryEntry(m_block, m_name)) {
        if (!IsPassedOver(m_name)) {
            return m_path;
        }
    }
    return nullptr;
}

} // namespace

int CPathMgr::FileTreeWalk(const wchar_t* dir, FTW_FUNC fn, void* context, unsigned depth) {
    if (dir == nullptr || fn == nullptr) {
        return 0;
    }
    WalkLevel level(dir);
    if (!level.IsOpen()) {
        return 0;
    }
    while (const wchar_t* path = level.NextPath()) {
        const FTW_FLAG flag = GetFlag(path);
        const FTW_RESULT answer = fn(path, flag, context);
        if (answer == FTW_STOP) {
            return 1;
        }
        const bool enter = flag == FTW_DIR && answer != FTW_SKIP && depth != 0;
        if (enter && FileTreeWalk(path, fn, context, depth - 1) != 0) {
            return 1; // stopped further down: every level ends at once
        }
    }
    return 0;
}

} // namespace Orvex
