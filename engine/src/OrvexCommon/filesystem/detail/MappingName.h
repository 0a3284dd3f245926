// The name a memory-mapped file's mapping object is given. Windows names the
// object with it; Linux computes the same name for the tests. The absolute
// directory comes from sys::AbsoluteDirectory (GetFullPathNameW, realpath).
#ifndef ORVEX_FILESYSTEM_DETAIL_MAPPINGNAME_H
#define ORVEX_FILESYSTEM_DETAIL_MAPPINGNAME_H

#include "OrvexCommon/memory/OrvexMemory.h"

namespace Orvex {
namespace detail {

// Room, in units, for the absolute form of a file's directory.
constexpr unsigned kMappingDirectoryCapacity = 2048;

// The file's absolute path in one spelling for every way of naming it: the
// absolute form of its directory part (everything up to the last '/' or '\\',
// "./" when there is none), '/', the file-name part; then 'A'-'Z' lowered and
// every '\\' made '/'. So relative and absolute names, either separator and,
// where the file system ignores case, any case of the letters give one name,
// and the name holds no '\\' (which Windows object names may not contain).
// The working directory is read, never changed.
//
// Empty when the directory cannot be made absolute (it does not exist where
// the platform checks that, or its absolute form needs more than
// kMappingDirectoryCapacity units). The name as given is no substitute: a
// relative name means another file in a process with another working
// directory, and sharing a mapping object with that file would hand out its
// bytes. Without a name the mapping is simply not shared by name; views of one
// file stay coherent all the same.
OrvexWString MemoryMapName(const wchar_t* fileName);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILESYSTEM_DETAIL_MAPPINGNAME_H
