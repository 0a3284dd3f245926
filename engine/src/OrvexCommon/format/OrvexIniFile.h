// Configuration files: named sections of named string values, one
// "key = value" per line under a "[section]" header. There is no quoting and
// no escape: everything after the first '=' up to the line end, without the
// blanks around it, is the value. A ';' or '/' where a line's first token
// would start begins a comment, which runs to the next carriage return and
// takes the unit after it (the line feed) along: in a file whose lines end in
// bare line feeds, a comment hides the rest of the file. A carriage return
// that ends the text ends the comment there.
//
//     [Window]
//     width = 1024
//     title = main view
//
// The object keeps the whole content in memory and writes it back whole,
// sorted by section and key (both compared unit by unit, so case-sensitive).
// It is made by the file manager's CreateIniFile and read through the file
// manager's file objects, so it finds files loose or inside packages; saving
// writes straight to the file system.
//
// No operation throws or logs. An object has no lock: one thread at a time.
#ifndef ORVEX_FORMAT_ORVEXINIFILE_H
#define ORVEX_FORMAT_ORVEXINIFILE_H

#include <cstdint>

namespace Orvex {

// A configuration file's text encoding, found by Load and chosen by Save.
enum EIniEncoding : std::int32_t {
    // The mark FF FE, then two bytes per unit, low byte first.
    eIniUtf16 = 0,
    // The mark EF BB BF, then UTF-8.
    eIniUtf8Bom = 1,
    // No mark. Loaded as UTF-8 when it is valid UTF-8, else in the system's
    // ANSI code page (sys::AnsiToWide); saved as UTF-8. Save treats unknown
    // values the same.
    eIniNoBom = 2,
    // Save only: the encoding of the last Load (or Save).
    eIniKeep = 3,
};

class IIniFile {
public:
    // Reads and parses the file. True when it did, or when `fileName` is the
    // name already held (nothing is read again: Close first to reload). False
    // for a null or empty name (nothing changes), for a file that cannot be
    // opened or read or is empty (the object is left empty and keeps the new
    // name), and for a text that does not parse (the object is left empty,
    // without a name). The text does not parse when a section header has no
    // ']' on its line, a key line comes before the first header, or a line
    // that is not a comment has no '='.
    virtual bool Load(const wchar_t* fileName) = 0;
    // Writes every section and key in sorted order, "[name]" and
    // "key = value" lines ending in "\r\n", in `encoding` (eIniKeep: the
    // stored one, which the call then stores). A null or empty name writes to
    // the stored name. False when there is no name to write to, when the
    // name is not a file the caller may write (a directory, a FIFO, a device,
    // a link that leads nowhere, a file without write permission: see
    // sys::ExamineSaveTarget; the name is left as it was), or when the file
    // cannot be created or written.
    //
    // The whole output is built in one pooled string and written in one call
    // to a temporary file beside the target (".~save" and eight hexadecimal
    // digits, so a target of any valid length can be saved), put on the disk
    // (fflush, then fsync or _commit) and only then put in the target's place
    // in one step (rename, MoveFileExW with MOVEFILE_REPLACE_EXISTING): a save
    // that fails at any point returns false, removes its temporary file and
    // leaves the old file whole, and a reader never sees half a file. The new
    // file keeps the permission bits (POSIX) or attributes (Windows) of the
    // one it replaces; on POSIX a link is saved through and stays a link
    // (detail::SaveByReplacing).
    virtual bool Save(const wchar_t* fileName, EIniEncoding encoding) = 0;
    // Removes all sections; keeps the name and the encoding.
    virtual void Clear() = 0;
    // Removes all sections and the name; keeps the encoding.
    virtual void Close() = 0;
    // Destroys the object.
    virtual void Release() = 0;
    // The value, or null when an argument is null or the section or key does
    // not exist. Valid until the value is set again, the object is cleared,
    // closed, loaded or released.
    virtual const wchar_t* GetString(const wchar_t* section, const wchar_t* key) = 0;
    // The value read by OrvexA2I, or the default when GetString gives null.
    virtual int GetInt(const wchar_t* section, const wchar_t* key, int defaultValue) = 0;
    // The value read by OrvexA2F as a float, or the default.
    virtual float GetFloat(const wchar_t* section, const wchar_t* key, float defaultValue) = 0;
    // The value's first character (0 for an empty value), or the default.
    virtual wchar_t GetChar(const wchar_t* section, const wchar_t* key, wchar_t defaultValue) = 0;
    // Creates the section and key when missing, else replaces the value. Null
    // arguments are ignored.
    virtual void SetString(const wchar_t* section, const wchar_t* key, const wchar_t* value) = 0;
    // Stores the value in decimal through SetString.
    virtual void SetInt(const wchar_t* section, const wchar_t* key, int value) = 0;

protected:
    ~IIniFile() = default;
};

} // namespace Orvex

#endif // ORVEX_FORMAT_ORVEXINIFILE_H
