// The common file head: the record that starts every typed resource file (a
// scene, a texture, a material, ...). It names the file's type and format
// version, lists the other files the resource depends on in groups by their
// type, and gives the length of the extra data that follows it; the body of
// the file comes after the extra data. The byte layout is described in
// docs/FILE_HEAD.md.
//
// Every string and array of these classes comes from the pooled allocator.
// When it has no memory to give, an operation that needed some changes nothing
// (a resize or a push) or leaves the slot empty (a name being set); nothing
// throws.
#ifndef ORVEX_FILE_ORVEXFILEHEAD_H
#define ORVEX_FILE_ORVEXFILEHEAD_H

#include "OrvexCommon/base/OrvexExport.h"

#include <cstdint>

namespace Orvex {

// A file type: three lower-case ASCII letters read as a little-endian 32-bit
// value whose fourth byte is 0 ("tex" is the bytes 74 65 78 00).
enum EFileType : std::int32_t {
    eFT_Sce = 0x00656373, // "sce" scene
    eFT_Anf = 0x00666E61, // "anf"
    eFT_Gui = 0x00697567, // "gui"
    eFT_Tsk = 0x006B7374, // "tsk"
    eFT_Map = 0x0070616D, // "map"
    eFT_Mtr = 0x0072746D, // "mtr" material
    eFT_Ams = 0x00736D61, // "ams"
    eFT_Ans = 0x00736E61, // "ans"
    eFT_Eft = 0x00746665, // "eft" effect
    eFT_Tex = 0x00786574, // "tex" texture
    eFT_Gfx = 0x00786667, // "gfx"
    eFT_None = -1,        // no type (0xFFFFFFFF in a file)
};

// One group of dependencies: the names of files of one type. A slot holds a
// zero-terminated wide name owned by the group, or null until it is set.
class ORVEX_API CDependentRes {
public:
    CDependentRes(EFileType type = eFT_None);
    // Copies are deep: the type and a copy of every name.
    CDependentRes(const CDependentRes& other);
    const CDependentRes& operator=(const CDependentRes& other);
    ~CDependentRes();

    EFileType GetType();
    EFileType GetType() const;
    unsigned GetFileCount() const;
    // The name in slot `index`; null for a slot never set and for an index at
    // or beyond the count.
    const wchar_t* GetFileName(unsigned index) const;
    // Replaces the slot's name with a copy of `name`. An index at or beyond the
    // count, or a null name, changes nothing.
    void SetFileName(unsigned index, const wchar_t* name);
    // Appends a slot holding a copy of `name`.
    void PushFileName(const wchar_t* name);
    // Keeps the first min(old, count) names, gives back the rest, and adds
    // empty slots up to `count`.
    void Resize(unsigned count);

private:
    EFileType m_type;
    std::uint32_t m_fileCount;
    wchar_t** m_names;
};

// The head itself: type, version, the dependency groups and the length of the
// extra data.
class ORVEX_API CCommonFileHead {
public:
    CCommonFileHead(EFileType type = eFT_None, unsigned version = 0);
    // Copies are deep: every group with every name.
    CCommonFileHead(const CCommonFileHead& other);
    const CCommonFileHead& operator=(const CCommonFileHead& other);
    ~CCommonFileHead();

    EFileType GetType();
    EFileType GetType() const;
    unsigned GetVersion() const;
    unsigned GetExtraDataSize() const;
    void SetExtraDataSize(unsigned size);
    unsigned GetDependentResCount() const;
    // Group `index`, which must be below GetDependentResCount().
    CDependentRes& GetDependentRes(unsigned index);
    const CDependentRes& GetDependentRes(unsigned index) const;
    // Keeps copies of the first min(old, count) groups and adds empty groups
    // of type eFT_None up to `count`.
    void Resize(unsigned count);
    // Appends an empty group of `type`.
    void PushDependentRes(EFileType type);

private:
    EFileType m_type;
    std::uint32_t m_version;
    std::uint32_t m_groupCount;
    CDependentRes* m_groups;
    std::uint32_t m_extraDataSize;
};

} // namespace Orvex

#endif // ORVEX_FILE_ORVEXFILEHEAD_H
