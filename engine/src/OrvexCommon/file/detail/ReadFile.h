// The file object: a file opened in one of the manager's sources, with the
// caller's position kept relative to the file's start.
#ifndef ORVEX_FILE_DETAIL_READFILE_H
#define ORVEX_FILE_DETAIL_READFILE_H

#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/file/detail/FileSource.h"

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
    // Where the file starts in what holds it: 0 for a loose file.
    std::uint32_t GetOffset() override { return m_file.base; }
    std::uint32_t GetSize() override { return m_file.size; }
    bool IsOpen() override { return m_file.source != nullptr; }
    // The last loose file's path: a file found in a package leaves it.
    const wchar_t* GetFileName() override { return m_file.path.c_str(); }

private:
    friend CReadFile* NewPooledObject<CReadFile>();
    friend void DeletePooledObject<CReadFile>(CReadFile*);
    CReadFile() = default;
    ~CReadFile() = default;

    SSourceFile m_file;
    std::uint32_t m_position = 0;
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_READFILE_H
