// The path manager's static operations on the file system, except the walk.
#include "OrvexCommon/filesystem/OrvexPathMgr.h"
#include "OrvexCommon/filesystem/detail/PathMgrWork.h"
#include "OrvexCommon/platform/OrvexSys.h"

namespace Orvex {

// A path that does not exist or cannot be examined is FTW_FILE: FTW_DIR
// promises a directory that can be entered, and a walk or caller that acts on
// it would only fail to list it.
CPathMgr::FTW_FLAG CPathMgr::GetFlag(const wchar_t* path) {
    return sys::IsDirectoryPath(path) ? FTW_DIR : FTW_FILE;
}

bool CPathMgr::CheckDirectory(const wchar_t* path) {
    return sys::FirstMatchIsDirectory(path);
}

void CPathMgr::MakeDirectory(const wchar_t* path) {
    detail::CreateDirectoryChain(path);
}

const wchar_t* CPathMgr::GetRelativePath(const wchar_t* from, const wchar_t* to, wchar_t* out,
                                         unsigned outLen) {
    return detail::WriteRelativePath(from, to, out, outLen);
}

} // namespace Orvex
