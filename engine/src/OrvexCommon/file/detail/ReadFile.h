// The file object: a reader on a loose file, or on the package file that holds
// the file, with the caller's position kept relative to the file's start.
#ifndef ORVEX_FILE_DETAIL_READFILE_H
#define ORVEX_FILE_DETAIL_READFILE_H

#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/file/detail/PackageTypes.h"

namespace Orvex {
namespace detail {

class CReadFile final : public IReadFile {
public:
    // Memory from the pool; null when the pool has none.
    static CReadFile* Create() { return NewPooledObject<CReadFile>(); }

    bool Open(const wchar_t* fileName) override;
    bool Open(const char* fileName) override;
    bool Seek(std::int32_t offset, std::int32_t origin) override;
    std::int32_t Read(void* buffer, std::uint32_t size) override;
    void Close() override;
    void Release() override;
    std::uint32_t Tell() override { return m_position; }
    std::uint32_t GetOffset() override;
    std::uint32_t GetSize() override;
    bool IsOpen() override { return m_reader.handle != nullptr || m_reader.owner != nullptr; }
    const wchar_t* GetFileName() override { return m_path.c_str(); }

private:
    friend CReadFile* NewPooledObject<CReadFile>();
    friend void DeletePooledObject<CReadFile>(CReadFile*);
    CReadFile() = default;
    ~CReadFile() = default;

    bool OpenInPackage(const wchar_t* fileName);
    bool OpenLoose(const wchar_t* fileName);
    void ReadPackaged(unsigned char* buffer, std::uint32_t count);
    // The package file's position of the caller's position.
    std::uint64_t PackagePosition() const;

    SFileReader m_reader;
    std::uint32_t m_position = 0;
    OrvexWString m_path;
    // In a package: its entry (the owner is the package). Loose: its size.
    const SPackageEntry* m_entry = nullptr;
    std::uint32_t m_looseSize = 0;
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_READFILE_H
