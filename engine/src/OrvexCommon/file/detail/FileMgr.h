// The file manager's one implementation and its request records.
#ifndef ORVEX_FILE_DETAIL_FILEMGR_H
#define ORVEX_FILE_DETAIL_FILEMGR_H

#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/file/detail/DirectorySource.h"
#include "OrvexCommon/file/detail/MemorySource.h"
#include "OrvexCommon/file/detail/PackageSource.h"
#include "OrvexCommon/file/detail/PathAlias.h"
#include "OrvexCommon/memory/OrvexList.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <atomic>

namespace Orvex {
namespace detail {

// One queued second step of a load: the bytes still to come for a listener.
// Taken from the pool; the links come first.
struct SLoadRequest : COrvexListNode, COrvexPoolObject {
    IFileLoadListener* listener = nullptr;
    TOrvexVector<unsigned char> data; // zero-filled: a short file leaves zeros
    std::uint32_t start = 0;          // file position of data[0]
    bool filled = false;              // data holds the bytes already
    // The loading thread's reader of the file (a source's duplicate, which
    // holds no handle of its own between reads).
    SSourceFile file;

    SLoadRequest() = default;
    SLoadRequest(const SLoadRequest&) = delete;
    SLoadRequest& operator=(const SLoadRequest&) = delete;
    ~SLoadRequest() {
        if (file.source != nullptr) {
            file.source->Close(file);
        }
    }
};

class CFileMgr final : public IOrvexFileMgr {
public:
    CFileMgr();
    ~CFileMgr();
    CFileMgr(const CFileMgr&) = delete;
    CFileMgr& operator=(const CFileMgr&) = delete;

    bool IsAsyncLoad() override;
    void SetAsyncLoad(bool enable) override;
    void SetPackageFirst(bool enable) override;
    void SetDeepPackageSearch(bool enable) override;
    bool Dispatch(std::uint32_t budgetMs) override;
    std::int32_t Load(const wchar_t* fileName, IFileLoadListener* listener) override;
    bool IsFileExist(const wchar_t* fileName) override;
    IReadFile* CreateReadFile() override;
    IIniFile* CreateIniFile() override;
    ITabFile* CreateTabFile() override;
    bool OpenPackage(const wchar_t* path, PackageProgressFun progress, std::uint32_t userData,
                     bool keepMapped) override;
    void SetPackageMapped(const wchar_t* fileName, bool mapped) override;
    std::int32_t SetFilePatch(const wchar_t* path, std::int32_t size, std::uint32_t count,
                              const void* data) override;
    void SetPathAlias(const wchar_t* prefix, const wchar_t* replacement) override;

    // ---- For the rest of the subsystem ----
    bool IsPackageFirst() const { return m_packageFirst; }
    bool IsDeepPackageSearch() const { return m_deepSearch; }
    // The patch registered under exactly this path, or null; creates nothing.
    const SFilePatch* FindFilePatch(const OrvexWString& path) const;
    OrvexWString ResolvePathAlias(const wchar_t* name) const { return m_aliases.Resolve(name); }
    // Opens the name in the first source that has it, in the order the
    // package-first flag gives (see IFileSource::Open for `handleNow`).
    bool OpenInSources(const wchar_t* fileName, bool handleNow, SSourceFile& file) const;
    const IFileSource& LooseFiles() const { return m_looseFiles; }
    const IFileSource& Packages() const { return m_packages; }
    const IFileSource& ZipEntries() const { return m_zips; }
    // Queues a request (taking the lock): to the finished list when its bytes
    // are already in memory, else to the pending list.
    void QueueRequest(SLoadRequest* request);
    // Ends the loading thread, if one runs, and waits for it. Pending requests
    // stay pending; finished ones can still be dispatched.
    void StopLoadingThread();
    bool HasLoadingThread() const { return m_thread != nullptr; }

    // Delivers the first queued reload, if any, to its listeners; false when
    // none waits.
    bool DeliverOneReload();

private:
    std::int32_t LoadFrom(SSourceFile& file, IFileLoadListener* listener);
    // The leading part of a load, checked against the listener's type; false
    // refuses the load before any callback. `restNow`: synchronous.
    bool PrepareLoad(SSourceFile& file, IFileLoadListener* listener, bool restNow,
                     SLeadingPart& lead);
    // The callbacks of a prepared load, and Load's result.
    std::int32_t FinishLoad(SSourceFile& file, IFileLoadListener* listener, bool restNow,
                            SLeadingPart& lead);
    void DeliverReloadTo(IFileReloadListener& listener, const struct SReadyReload& ready);
    // The file's bytes from `start` on: to the listener now, or queued.
    std::int32_t DeliverRest(SSourceFile& file, std::uint32_t start, IFileLoadListener* listener);
    std::int32_t QueueRest(SSourceFile& file, std::uint32_t start, IFileLoadListener* listener);

    static unsigned ORVEX_THREAD_CALL LoadingThreadMain(void* context);
    void RunLoadingThread();
    SLoadRequest* TakeFirst(TOrvexList<SLoadRequest>& list);

    TOrvexList<SLoadRequest> m_finished;
    TOrvexList<SLoadRequest> m_pending;
    bool m_async = false;
    bool m_packageFirst = false;
    bool m_deepSearch = true;
    std::atomic<bool> m_quit{false};
    sys::ThreadLife m_threadLife;
    sys::OwnedLock m_lock;
    sys::Thread* m_thread = nullptr;
    TOrvexMap<OrvexWString, SFilePatch> m_patches;
    PathAliasTable m_aliases;
    CDirectorySource m_looseFiles{m_aliases};
    CZipSource m_zips{m_deepSearch};
    CPackageSource m_packages{m_deepSearch, m_zips};
    CMemorySource m_reloaded;
};

// The singleton, created on first use.
CFileMgr& FileMgr();

// Reads a request's bytes into its data (used by the loading thread), then
// closes its reader. A file that cannot be read (a loose file that no longer
// opens) is tried for a second, a corrupt one not again, then the request
// gives up its data, to be delivered with no bytes. Returns false only when
// the quit flag ended that wait.
bool ReadRequest(SLoadRequest& request, const std::atomic<bool>& quit);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_FILEMGR_H
