// The path manager's operations that build text on the pooled allocator's
// strings, kept out of the exported class's members: where the
// allocator's throw, or a handler for it, lands in a member of an exported
// class, MinGW marks the type information of std::bad_alloc for export along
// with it. So these catch what the strings throw, and the members only
// forward to them.
#ifndef ORVEX_FILESYSTEM_DETAIL_PATHMGRWORK_H
#define ORVEX_FILESYSTEM_DETAIL_PATHMGRWORK_H

namespace Orvex {
namespace detail {

// CPathMgr::MakeDirectory. When the composed path finds no room, the levels
// made until then stay and nothing more is tried.
void CreateDirectoryChain(const wchar_t* path);

// CPathMgr::GetRelativePath. Null, `out` untouched, also when the texts find
// no room.
const wchar_t* WriteRelativePath(const wchar_t* from, const wchar_t* to, wchar_t* out,
                                 unsigned outLen);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILESYSTEM_DETAIL_PATHMGRWORK_H
