// Reading the common file head from untrusted bytes: out of a memory buffer or
// through a file reader. Both read the same layout (docs/FILE_HEAD.md) with
// the same checks and give the same head for the same bytes.
//
// Limits: nothing is read past the end of what the source holds; a group
// count or a name count that cannot fit the bytes left is refused before
// anything is allocated for it (a group takes at least 8 bytes, a name at
// least 4, and the extra data size 4 more), so memory stays within a small
// multiple of the input's length; a name longer than kMaxHeadNameLength units
// refuses the head.
//
// A name ends at its first zero unit (the units after it are read and
// dropped); each 16-bit unit becomes one wchar_t.
//
// On success the head holds what was read and the position stands at the
// first byte of the extra data. On failure the head holds the type and version
// when those 8 bytes were there (eFT_None and 0 otherwise), the groups as far
// as they were read (the groups after them empty, of type eFT_None) and an
// extra data size of 0; the position stands after the last field read whole (a
// field that does not fit is not consumed).
#ifndef ORVEX_FILE_DETAIL_FILEHEADREADER_H
#define ORVEX_FILE_DETAIL_FILEHEADREADER_H

#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/file/OrvexFileHead.h"

#include <cstdint>

namespace Orvex {
namespace detail {

struct SFileReader;
struct SSourceFile;

// The longest name a head may hold, in UTF-16 units.
constexpr std::uint32_t kMaxHeadNameLength = 1023;

// True for the eleven letter codes of EFileType (not for eFT_None).
bool IsLetterFileType(std::int32_t type);

// Reads a head at buffer.origin + buffer.pos, never touching a byte at or past
// buffer.end, and advances buffer.pos. False at once (nothing read) when the
// origin is null or pos lies outside [start, end].
bool ReadFileHead(SLoadBuffer& buffer, CCommonFileHead& head);

// Reads a head from the reader's position through ReadFrom (the owner's patch
// applied; bytes the file does not hold below the effective size read as
// zeros), never past the effective size.
bool ReadFileHead(SFileReader& reader, CCommonFileHead& head);

// Reads a head from an open source file's byte `position` on, through its
// source's ReadRange, never past the file's size; `position` advances as
// the reader's does. A read the source fails fails the head.
bool ReadFileHead(SSourceFile& file, std::uint32_t& position, CCommonFileHead& head);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_FILEHEADREADER_H
