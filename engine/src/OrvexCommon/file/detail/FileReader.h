// The reader record's operations: bounded reads with the owner's patch laid
// over them.
#ifndef ORVEX_FILE_DETAIL_FILEREADER_H
#define ORVEX_FILE_DETAIL_FILEREADER_H

#include "OrvexCommon/file/detail/PackageTypes.h"

namespace Orvex {
namespace detail {

// The owner's patch size override when there is one, else the file's length.
std::uint32_t EffectiveSize(const SFileReader& reader);

// Takes up to `n` bytes from the position into `buffer`, stopping at the
// effective size; the patch is applied to what was taken. Bytes a handle
// cannot yield (the file shrank since it was measured) read as zeros; without
// a handle (a patch-only package) they are left as they were in `buffer`. Returns the bytes taken,
// or -1 when the reader has neither handle nor owner or stands beyond the effective size.
std::int32_t ReadFrom(SFileReader& reader, void* buffer, std::uint32_t n);

// Reads `n` bytes from `position` on into `out` (seeking only when the
// reader stands elsewhere); whatever the file does not yield reads as zeros,
// the patch laid over it. Returns the bytes the file held.
std::uint32_t ReadAt(SFileReader& reader, std::uint32_t position, unsigned char* out,
                     std::uint32_t n);

// Sets the position to the smaller of `position` and the effective size and
// seeks the handle (if any) to `position`.
void MoveTo(SFileReader& reader, std::uint32_t position);

// Opens `path` "rb" into `reader` (position 0, no owner) and takes its length.
// False when it does not open or is longer than 4 GiB - 1 (too long for the
// reader's 32-bit size); the reader then holds no handle.
bool OpenReader(SFileReader& reader, const wchar_t* path);

// Closes the reader's handle, if any.
void CloseReader(SFileReader& reader);

// The length of an open stream, which is left at its start. False when it
// cannot be told or does not fit 32 bits.
bool StreamLength(std::FILE* stream, std::uint32_t& length);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_FILEREADER_H
