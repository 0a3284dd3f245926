// File objects.
#include "OrvexCommon/file/detail/ReadFile.h"
#include "OrvexCommon/base/detail/ErrorLine.h"
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/Scramble.h"
#include "OrvexCommon/memory/detail/WithoutMemory.h"
#include "OrvexCommon/text/OrvexText.h"

#include <algorithm>
#include <new>

namespace Orvex {
namespace detail {

namespace {

// Thrown as a char* that points at this same text.
char g_invalidSeekOrigin[] = "Invalid seek origin.";

// Wide units the UTF-8 name is converted into, terminator included.
constexpr unsigned kNameUnits = 1024;

} // namespace

void CReadFile::Release() {
    Close();
    DeletePooledObject(this);
}

bool CReadFile::Open(const wchar_t* fileName) {
    Close();
    m_position = 0;
    if (fileName == nullptr) {
        return false;
    }
    const bool opened = FallbackWithoutMemory(false, [&] {
        if (FileMgr().IsPackageFirst()) {
            return OpenInPackage(fileName) || OpenLoose(fileName);
        }
        return OpenLoose(fileName) || OpenInPackage(fileName);
    });
    if (!opened) {
        Close(); // nothing half-opened stays behind
    }
    return opened;
}

bool CReadFile::Open(const char* fileName) {
    if (fileName == nullptr) {
        return false;
    }
    wchar_t wide[kNameUnits];
    // kNameUnits + 1: the name filled the buffer and has no terminator.
    if (Utf8ToUcs(fileName, wide, kNameUnits) > kNameUnits) {
        Close();
        return false;
    }
    return Open(wide);
}

bool CReadFile::OpenInPackage(const wchar_t* fileName) {
    const PackageMatch match = FindPackageEntry(fileName, FileMgr().IsDeepPackageSearch());
    if (match.package == nullptr) {
        return false;
    }
    m_entry = match.entry;
    m_reader.owner = match.package;
    if (match.package->mapped) {
        return true; // every read copies from the mapping
    }
    // A handle of this object's own, on the file the index describes.
    if (!OpenPackageFileAgain(m_reader, *match.package)) {
        m_entry = nullptr;
        return false;
    }
    MoveTo(m_reader, m_entry->offset);
    return true;
}

bool CReadFile::OpenLoose(const wchar_t* fileName) {
    if (!FileMgr().OpenLooseFile(fileName, m_reader, m_path)) {
        return false;
    }
    m_looseSize = m_reader.size;
    return true;
}

std::uint32_t CReadFile::GetOffset() {
    return m_reader.owner != nullptr ? m_entry->offset : 0;
}

std::uint32_t CReadFile::GetSize() {
    return m_reader.owner != nullptr ? m_entry->size : m_looseSize;
}

std::uint64_t CReadFile::PackagePosition() const {
    return static_cast<std::uint64_t>(m_entry->offset) + m_position;
}

bool CReadFile::Seek(std::int32_t offset, std::int32_t origin) {
    if (!IsOpen()) {
        return false;
    }
    std::int64_t target;
    switch (origin) {
    case 0:
        target = offset;
        break;
    case 1:
        target = static_cast<std::int64_t>(m_position) + offset;
        break;
    case 2:
        target = static_cast<std::int64_t>(GetSize()) + offset;
        break;
    default:
        ThrowErrorLine(g_invalidSeekOrigin);
    }
    if (target < 0 || target > static_cast<std::int64_t>(GetSize())) {
        return false;
    }
    if (static_cast<std::uint32_t>(target) != m_position) {
        const std::uint64_t where = static_cast<std::uint64_t>(GetOffset()) + target;
        // Beyond 4 GiB only a hostile entry reaches: the reader stops at its end.
        MoveTo(m_reader, static_cast<std::uint32_t>(std::min<std::uint64_t>(where, 0xFFFFFFFFu)));
    }
    m_position = static_cast<std::uint32_t>(target);
    return true;
}

void CReadFile::ReadPackaged(unsigned char* buffer, std::uint32_t count) {
    SPackage& package = *m_reader.owner;
    const std::uint64_t where = PackagePosition();
    if (where > 0xFFFFFFFFu) {
        return; // past anything a package holds
    }
    const auto offset = static_cast<std::uint32_t>(where);
    if (package.mapped) {
        CopyFromPackage(package, buffer, offset, count);
        // Opened while the package was private: its handle is no longer needed.
        if (m_reader.handle != nullptr) {
            CloseReader(m_reader);
            m_reader = SFileReader();
            m_reader.owner = &package;
        }
        return;
    }
    if (m_reader.handle == nullptr) {
        (void)OpenReader(m_reader, package.path.c_str());
        m_reader.owner = &package;
        MoveTo(m_reader, offset);
    }
    (void)ReadFrom(m_reader, buffer, count);
    if (package.scrambled) {
        Descramble(buffer, offset, count);
    }
}

std::int32_t CReadFile::Read(void* buffer, std::uint32_t size) {
    if (!IsOpen()) {
        return -1;
    }
    // The end is taken in 32 bits, as callers expect: a size that carries it
    // past 4 GiB wraps below the position, and such a read is refused (-1,
    // the position unchanged) rather than cut to the file's end.
    const std::uint32_t wanted = m_position + size;
    const std::uint32_t end = std::min<std::uint32_t>(wanted, GetSize());
    if (end < m_position) {
        return -1;
    }
    const auto count = static_cast<std::uint32_t>(end - m_position);
    if (m_reader.owner != nullptr) {
        ReadPackaged(static_cast<unsigned char*>(buffer), count);
    } else {
        (void)ReadFrom(m_reader, buffer, count);
    }
    m_position = static_cast<std::uint32_t>(end);
    return static_cast<std::int32_t>(count);
}

void CReadFile::Close() {
    if (!IsOpen()) {
        return;
    }
    CloseReader(m_reader);
    m_reader = SFileReader();
    m_position = 0;
    m_entry = nullptr;
    m_looseSize = 0;
}

} // namespace detail
} // namespace Orvex
