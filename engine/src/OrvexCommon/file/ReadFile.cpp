// File objects.
#include "OrvexCommon/file/detail/ReadFile.h"
#include "OrvexCommon/base/detail/ErrorLine.h"
#include "OrvexCommon/file/detail/FileMgr.h"
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
    // Reads go on through a handle of the file's own, opened now: a package
    // file that no longer opens leaves the name to the next source.
    const bool opened = FallbackWithoutMemory(
        false, [&] { return FileMgr().OpenInSources(fileName, /*handleNow=*/true, m_file); });
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
    m_position = static_cast<std::uint32_t>(target);
    return true;
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
    // Bytes the source no longer holds read as zeros; corrupt ones fail the
    // read, the position unchanged.
    if (!m_file.source->ReadRange(m_file, m_position, count, static_cast<unsigned char*>(buffer)) &&
        m_file.unreadable) {
        return -1;
    }
    m_position = static_cast<std::uint32_t>(end);
    return static_cast<std::int32_t>(count);
}

void CReadFile::Close() {
    if (!IsOpen()) {
        return;
    }
    m_file.source->Close(m_file);
    m_position = 0;
}

} // namespace detail
} // namespace Orvex
