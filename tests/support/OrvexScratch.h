// Scratch names and folders for tests. Every name carries the process id, so
// that test processes running side by side (one per test case natively) never
// share one, and a counter, so that no two calls of a process do: packages and
// logs stay registered for the life of the process.
#ifndef ORVEX_TESTS_SUPPORT_ORVEXSCRATCH_H
#define ORVEX_TESTS_SUPPORT_ORVEXSCRATCH_H

#include "OrvexCommon/platform/OrvexPlatform.h"

#include <deque>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace OrvexTest {

inline std::string ProcessTag() {
    return std::to_string(Orvex::OrvexGetCurrentProcessID());
}

// "<prefix>_<pid>_<tag>_<n>", relative to the working directory.
inline std::string UniqueNarrowName(const char* prefix, const char* tag) {
    static int counter = 0;
    return std::string(prefix) + "_" + ProcessTag() + "_" + tag + "_" + std::to_string(++counter);
}

inline std::wstring UniqueName(const char* tag) {
    return std::filesystem::path(UniqueNarrowName("oxp", tag)).wstring();
}

// "<prefix>_<pid>_<suite>_<test>": a name of one test's own (`test` is the
// running test's ::testing::TestInfo).
template <typename TestInfo> std::string TestScratchName(const char* prefix, const TestInfo& test) {
    std::string name =
        std::string(prefix) + "_" + ProcessTag() + "_" + test.test_suite_name() + "_" + test.name();
    for (char& letter : name) {
        if (letter == '/') {
            letter = '_'; // parameterised tests
        }
    }
    return name;
}

// Files and folders removed, with all they hold, when the owner ends (as far
// as the platform lets files still open go).
class ScratchPaths {
public:
    ScratchPaths() = default;
    ScratchPaths(const ScratchPaths&) = delete;
    ScratchPaths& operator=(const ScratchPaths&) = delete;
    ~ScratchPaths() {
        std::error_code ignored;
        for (const auto& path : m_paths) {
            std::filesystem::remove_all(path, ignored);
        }
    }
    const std::wstring& Add(const std::wstring& path) {
        m_paths.push_back(path);
        m_wide.push_back(path);
        return m_wide.back();
    }
    void Add(const std::filesystem::path& path) { m_paths.push_back(path); }

private:
    std::vector<std::filesystem::path> m_paths;
    std::deque<std::wstring> m_wide; // references handed out stay valid
};

// A fresh, empty folder (what an earlier run left there is removed first),
// removed with what it holds when the owner ends.
class ScratchFolder {
public:
    explicit ScratchFolder(std::filesystem::path path) : m_path(std::move(path)) {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
        std::filesystem::create_directories(m_path, ignored);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace OrvexTest

#endif // ORVEX_TESTS_SUPPORT_ORVEXSCRATCH_H
