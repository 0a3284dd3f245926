// The file manager's factories for the data formats. They live with the
// formats, which read their files through the manager, so that the manager
// itself knows nothing of them.
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/format/detail/IniFile.h"
#include "OrvexCommon/format/detail/TabFile.h"

namespace Orvex {
namespace detail {

IIniFile* CFileMgr::CreateIniFile() {
    return CIniFile::Create();
}

ITabFile* CFileMgr::CreateTabFile() {
    return CTabFile::Create();
}

} // namespace detail
} // namespace Orvex
