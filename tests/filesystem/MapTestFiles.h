// Shared pieces of the memory-map tests: a temporary folder per test, whole
// files read and written, and the number of views the registry holds.
#ifndef ORVEX_TESTS_FILESYSTEM_MAPTESTFILES_H
#define ORVEX_TESTS_FILESYSTEM_MAPTESTFILES_H

#include "OrvexCommon/filesystem/detail/MemoryMapRegistry.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include "OrvexScratch.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace OrvexTest {

namespace fs = std::filesystem;
typedef std::vector<unsigned char> Bytes;

inline std::size_t LiveViews() {
    Orvex::sys::ScopedLock hold(Orvex::detail::MemoryMapLock());
    return Orvex::detail::GetMemoryMapRegistry().views.size();
}

// Bytes that differ from their neighbours and from zero.
inline Bytes Pattern(std::size_t count, unsigned seed = 1) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<unsigned char>((i * 37 + seed * 11) % 251 + 1);
    }
    return bytes;
}

inline void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

inline Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes ViewBytes(const void* view, std::size_t count) {
    const unsigned char* bytes = static_cast<const unsigned char*>(view);
    return Bytes(bytes, bytes + count);
}

// Each test gets a fresh folder and must leave the registry as it found it.
class MapFolder : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder.emplace(
            fs::temp_directory_path() /
            TestScratchName("orvex_map", *::testing::UnitTest::GetInstance()->current_test_info()));
        m_dir = m_folder->Path();
        ASSERT_TRUE(fs::is_directory(m_dir));
        m_startViews = LiveViews();
    }
    void TearDown() override {
        EXPECT_EQ(m_startViews, LiveViews()) << "a view was left in the registry";
        m_folder.reset();
    }

    fs::path Path(const char* name) const { return m_dir / name; }
    std::wstring Wide(const char* name) const { return Path(name).wstring(); }

    std::optional<ScratchFolder> m_folder;
    fs::path m_dir;
    std::size_t m_startViews = 0;
};

} // namespace OrvexTest

#endif // ORVEX_TESTS_FILESYSTEM_MAPTESTFILES_H
