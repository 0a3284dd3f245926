// The file manager singleton: flags, tables, factories and teardown.
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/base/detail/FrameJournal.h"
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/Patch.h"
#include "OrvexCommon/file/detail/ReadFile.h"
#include "OrvexCommon/file/detail/ReloadWatch.h"
#include "OrvexCommon/file/detail/ZipArchive.h"
#include "OrvexCommon/memory/detail/WithoutMemory.h"

#include <cstdint>
#include <cstdio>
#include <utility>

namespace Orvex {
namespace detail {

namespace {

// The loading thread's stack: a commit hint where the platform takes one.
constexpr unsigned kLoadingThreadStack = 0x800;
constexpr sys::ThreadPriority kLoadingThreadPriority = sys::ThreadPriority::Highest;
// How long SetAsyncLoad waits, at most, for the loading thread to get going.
constexpr unsigned kEntryWaitMs = 2000;

} // namespace

CFileMgr& FileMgr() {
    static CFileMgr manager;
    return manager;
}

CFileMgr::CFileMgr() {
    // Made first, so the watch outlives the manager.
    (void)ReloadWatch();
    RecordFrameEvent(FrameEvent::Created, FrameObject::FileManager);
}

CFileMgr::~CFileMgr() {
    // No reload reaches a listener while the library goes.
    (void)ReloadWatch().Enable(false);
    StopLoadingThread();
    // Every load whose bytes are in memory still reaches its listener.
    Dispatch(0xFFFFFFFFu);
    // Requests still pending are dropped without a callback.
    while (SLoadRequest* request = TakeFirst(m_pending)) {
        delete request;
    }
    RecordFrameEvent(FrameEvent::TornDown, FrameObject::FileManager);
}

bool CFileMgr::IsAsyncLoad() {
    return m_async;
}

void CFileMgr::SetAsyncLoad(bool enable) {
    m_async = enable;
    if (!enable || m_thread != nullptr) {
        return;
    }
    m_thread = sys::StartThread(&CFileMgr::LoadingThreadMain, this, kLoadingThreadStack);
    if (m_thread != nullptr) {
        // Refused without the privilege on some platforms; the thread still runs.
        (void)sys::SetThreadPriority(m_thread, kLoadingThreadPriority);
        sys::AwaitLibraryEntry(m_threadLife, kEntryWaitMs);
    }
}

void CFileMgr::SetPackageFirst(bool enable) {
    m_packageFirst = enable;
}

void CFileMgr::SetDeepPackageSearch(bool enable) {
    m_deepSearch = enable;
}

void CFileMgr::StopLoadingThread() {
    m_quit = true;
    if (m_thread != nullptr) {
        sys::ReleaseThreadAtUnload(m_thread, m_threadLife);
        m_thread = nullptr;
    }
}

bool CFileMgr::IsFileExist(const wchar_t* fileName) {
    if (fileName == nullptr) {
        return false;
    }
    return FallbackWithoutMemory(false, [&] {
        // Existence is "a file Load could open": a directory, a device or a
        // pipe is none, and asking must not block.
        return m_packages.Has(fileName) || m_looseFiles.Has(fileName);
    });
}

bool CFileMgr::OpenPackage(const wchar_t* path, PackageProgressFun progress, std::uint32_t userData,
                           bool keepMapped) {
    return FallbackWithoutMemory(false, [&] {
        return detail::OpenPackage(path, progress, userData, keepMapped) != nullptr;
    });
}

void CFileMgr::SetPackageMapped(const wchar_t* fileName, bool mapped) {
    // Without memory for the lookup the package stays in its mode, as it
    // does when the switch itself cannot be made.
    FallbackWithoutMemory(0, [&] {
        const ArchiveMatch match = FindArchiveEntry(fileName, m_deepSearch, ZipSearchEnabled());
        if (match.package != nullptr) {
            (void)SwitchMapped(*match.package, mapped);
        } else if (match.zip != nullptr) {
            (void)SwitchZipMapped(*match.zip, mapped);
        }
        return 0;
    });
}

std::int32_t CFileMgr::SetFilePatch(const wchar_t* path, std::int32_t size, std::uint32_t count,
                                    const void* data) {
    if (path == nullptr || (count > 0 && data == nullptr)) {
        return 0;
    }
    // Records are never removed: packages keep pointers to them.
    SFilePatch& patch = m_patches[OrvexWString(path)];
    patch.sizeOverride = size;
    // The block's length is the caller's promise: its chunks are read as given.
    const std::int64_t consumed = ParsePatchChunks(patch, count, data, SIZE_MAX);
    return static_cast<std::int32_t>(consumed);
}

const SFilePatch* CFileMgr::FindFilePatch(const OrvexWString& path) const {
    const auto found = m_patches.find(path);
    return found == m_patches.end() ? nullptr : &found->second;
}

bool CFileMgr::OpenInSources(const wchar_t* fileName, bool handleNow, SSourceFile& file) const {
    const IFileSource* order[2] = {&m_looseFiles, &m_packages};
    if (m_packageFirst) {
        std::swap(order[0], order[1]);
    }
    for (const IFileSource* source : order) {
        if (source->Open(fileName, handleNow, file)) {
            return true;
        }
    }
    return false;
}

void CFileMgr::SetPathAlias(const wchar_t* prefix, const wchar_t* replacement) {
    m_aliases.Set(prefix, replacement);
}

IReadFile* CFileMgr::CreateReadFile() {
    return CReadFile::Create();
}

} // namespace detail

IOrvexFileMgr& GetOrvexFileMgr() {
    return detail::FileMgr();
}

} // namespace Orvex
