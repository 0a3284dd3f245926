// The path manager's object: a root path fixed at construction and a current
// path moved around relative to it.
#include "OrvexCommon/filesystem/OrvexPathMgr.h"
#include "OrvexCommon/filesystem/detail/PathMgrText.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>

namespace Orvex {

using detail::IsAbsolutePath;
using detail::IsPathSeparator;
using detail::SlashedPathWriter;

namespace {

// Units in each of the object's two path buffers, terminator included.
constexpr std::size_t kPathCapacity = 1024;

// The working directory with '/' separators. When it cannot be read (it is
// longer than the buffer, or it was removed) "." stands in: it names the very
// same directory for as long as the process stays in it, whereas an empty root
// would turn every relative current path into an absolute one.
void ReadSlashedWorkingDirectory(wchar_t* path) {
    if (!sys::ReadWorkingDirectory(path, kPathCapacity)) {
        std::wcscpy(path, L".");
    }
    std::replace(path, path + std::wcslen(path), L'\\', L'/');
}

} // namespace

CPathMgr::CPathMgr(const wchar_t* root) {
    static_assert(sizeof(m_rootPath) == kPathCapacity * sizeof(wchar_t), "root buffer size");
    static_assert(sizeof(m_curPath) == kPathCapacity * sizeof(wchar_t), "current buffer size");
    std::fill(std::begin(m_rootPath), std::end(m_rootPath), L'\0');
    std::fill(std::begin(m_curPath), std::end(m_curPath), L'\0');
    if (root == nullptr || root[0] == L'\0') {
        // The root of a drive keeps its separator here ("C:/", "/").
        ReadSlashedWorkingDirectory(m_rootPath);
        std::copy(std::begin(m_rootPath), std::end(m_rootPath), m_curPath);
        return;
    }
    std::size_t length = std::wcslen(root);
    if (IsPathSeparator(root[length - 1])) {
        --length; // one separator only: "a//" keeps "a/"
    }
    SlashedPathWriter(m_curPath, kPathCapacity).Append(root, length);
    std::copy(std::begin(m_curPath), std::end(m_curPath), m_rootPath);
}

CPathMgr::CPathMgr(const CPathMgr& other) {
    std::memcpy(m_rootPath, other.m_rootPath, sizeof(m_rootPath));
    std::memcpy(m_curPath, other.m_curPath, sizeof(m_curPath));
}

CPathMgr& CPathMgr::operator=(const CPathMgr& other) {
    if (this != &other) {
        std::memcpy(m_rootPath, other.m_rootPath, sizeof(m_rootPath));
        std::memcpy(m_curPath, other.m_curPath, sizeof(m_curPath));
    }
    return *this;
}

CPathMgr::~CPathMgr() {}

const wchar_t* CPathMgr::GetRootPath() const {
    return m_rootPath;
}

const wchar_t* CPathMgr::GetCurPath() const {
    return m_curPath;
}

void CPathMgr::SetCurPath(const wchar_t* path) {
    // Null and "" both name the root itself: nothing is added to it.
    if (path == nullptr || path[0] == L'\0') {
        std::copy(std::begin(m_rootPath), std::end(m_rootPath), m_curPath);
        return;
    }
    SlashedPathWriter current(m_curPath, kPathCapacity);
    if (!IsAbsolutePath(path)) {
        // A relative text that starts with a separator still goes below the
        // root, leaving two slashes between them.
        current.Append(m_rootPath);
        current.Append(L"/");
    }
    current.Append(path);
}

} // namespace Orvex
