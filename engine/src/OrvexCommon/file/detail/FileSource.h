// Where files come from. The file manager asks its sources in turn (loose
// files in directories, files inside packages); Load, the file objects and
// the loading thread read only through this interface, so a new kind of
// source is one new class.
//
// A source answers four questions: does it have a name, open it, read a
// range of the file it opened, and give the loading thread a reader of its
// own for the same file. What a load hands over with the file's head (the
// leading part) is the source's too, since only the source knows how much of
// the file it already holds.
#ifndef ORVEX_FILE_DETAIL_FILESOURCE_H
#define ORVEX_FILE_DETAIL_FILESOURCE_H

#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/file/OrvexFileHead.h"
#include "OrvexCommon/file/detail/PackageTypes.h"
#include "OrvexCommon/file/detail/PooledBytes.h"

#include <cstdint>

namespace Orvex {
namespace detail {

class IFileSource;
struct SZipFileState;

// A file found in a source. The fields beyond the first three are the
// sources' own.
struct SSourceFile {
    const IFileSource* source = nullptr; // null: nothing open
    std::uint32_t base = 0;              // where byte 0 lies in what the reader reads
    std::uint32_t size = 0;              // the file's length
    SFileReader reader;                  // its stream, when one is open
    bool borrowed = false;               // the handle is not this file's to close
    const SPackageEntry* entry = nullptr;
    SZipFileState* zip = nullptr;          // a zip entry's stream, the zip source's to free
    const unsigned char* memory = nullptr; // a file held in memory: its bytes
    // Set by a source whose failed read must fail its caller (a corrupt zip
    // entry, or no memory to inflate it), not pass zeros off as the file's
    // bytes; the loading thread does not try such a read again.
    bool unreadable = false;
    // The path that opened a loose file; a source that has no path leaves it
    // as it was (a file object reports the last one).
    OrvexWString path;
};

// What a load hands to the listener with the head, and where the bytes still
// to come begin.
struct SLeadingPart {
    bool hasHead = false; // a head was read; its type must be the listener's
    CCommonFileHead head;
    SLoadBuffer buffer = {nullptr, 0, 0, 0};
    PooledBytes storage; // the buffer's bytes when the source had to read them
    std::uint32_t restStart = 0;
    // The buffer holds the bytes to come too: OnLoadData gets it in Load,
    // with its position set to restStart when bodyAtRestStart, else as
    // OnLoadHead left it, and Load returns resultWhenHeld.
    bool holdsRest = false;
    bool bodyAtRestStart = false;
    std::int32_t resultWhenHeld = 0;
};

class IFileSource {
public:
    // True when the source has the name; nothing is opened.
    virtual bool Has(const wchar_t* fileName) const = 0;

    // Finds the name and fills `file` (which must hold nothing open). With
    // `handleNow`, a source read through a file handle opens one of its own
    // at once and answers false when it cannot; otherwise reads open one when
    // they need it.
    virtual bool Open(const wchar_t* fileName, bool handleNow, SSourceFile& file) const = 0;

    // The leading part of a load of `file` for a listener of `fileType`;
    // `restNow` is true when the rest is read in this same call (a
    // synchronous load). False refuses the load before any callback.
    virtual bool ReadLeading(SSourceFile& file, std::int32_t fileType, bool restNow,
                             SLeadingPart& lead) const = 0;

    // Reads the file's bytes [from, from + n) (within its size) into `out`;
    // bytes the source no longer holds read as zeros. False, `out` all zeros,
    // when the file cannot be read at all (gone, or replaced by another).
    virtual bool ReadRange(SSourceFile& file, std::uint32_t from, std::uint32_t n,
                           unsigned char* out) const = 0;

    // The file's bytes [from, to) where they lie in memory, exactly as a read
    // would give them; null when they must be read or copied.
    virtual const unsigned char* InPlace(const SSourceFile& file, std::uint32_t from,
                                         std::uint32_t to) const = 0;

    // True when ReadRange takes nothing but memory, so a queued rest is read
    // at once instead of by the loading thread.
    virtual bool InMemory(const SSourceFile& file) const = 0;

    // A reader of the same file for the loading thread, which may read it
    // long after `file` is closed. Throws std::bad_alloc.
    virtual void Duplicate(const SSourceFile& file, SSourceFile& copy) const = 0;

    // Closes what `file` holds; `file` then holds nothing open (its path stays).
    virtual void Close(SSourceFile& file) const = 0;

protected:
    ~IFileSource() = default;
};

// Closes the file's handle unless it is borrowed and forgets all but the path:
// what Close does for a source that holds nothing else.
void ForgetSourceFile(SSourceFile& file);

// The leading part of a file that is plain bytes read through its source's
// ReadRange (a loose file, a zip entry). Synchronous: the whole file, the
// head read from it and the body after the extra data. Asynchronous: the
// head and the extra data, the body to come. A listener of type -1 gets no
// head. A read that fails refuses the load.
bool ReadPlainLeading(SSourceFile& file, std::int32_t fileType, bool restNow, SLeadingPart& lead);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_FILESOURCE_H
