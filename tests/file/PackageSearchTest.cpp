// Finding the package of a name (deep and shallow search, with the registry's
// answers read without its lock) against the plain search: every directory
// of the name, deepest first, opened through the registry.
#include "OrvexCommon/file/detail/Package.h"

#include "PackageTestSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using namespace Orvex::detail;

bool IsSeparator(wchar_t unit) {
    return unit == L'/' || unit == L'\\';
}

PackageMatch InPackage(SPackage* package, const std::wstring& inner) {
    PackageMatch match;
    if (package != nullptr) {
        match.entry = FindEntryByName(*package, inner.c_str());
        match.package = match.entry != nullptr ? package : nullptr;
    }
    return match;
}

PackageMatch PlainSearch(const std::wstring& name, bool deep) {
    if (name.size() > 260) {
        return PackageMatch();
    }
    if (!deep) {
        const std::size_t end = name.find_first_of(L"/\\");
        if (end == std::wstring::npos || end >= 260) {
            return PackageMatch();
        }
        return InPackage(OpenPackage((name.substr(0, end) + L".pkg").c_str(), nullptr, 0, false),
                         name.substr(end + 1));
    }
    for (std::size_t end = name.size(); end-- > 1;) {
        if (!IsSeparator(name[end])) {
            continue;
        }
        if (SPackage* package =
                OpenPackage((name.substr(0, end) + L".pkg").c_str(), nullptr, 0, false)) {
            return InPackage(package, name.substr(end + 1));
        }
    }
    return PackageMatch();
}

// Names over a small tree of packages, one not a package, and thousands of
// directories with none: more spellings than the lock-free table keeps, so
// both the table and the registry behind it answer. Each name is searched
// both ways, by the plain search first or second, so that either of them
// settles an answer the other then reads, and then once more, when the
// name's own answer is settled.
TEST(PackageSearch, AgreesWithThePlainSearchOnRandomNames) {
    OrvexTest::ScratchPaths scratch;
    const std::wstring root = scratch.Add(OrvexTest::UniqueName("search"));
    const OrvexTest::Bytes bytes = OrvexTest::RandomBytes(64, 7);
    ASSERT_TRUE(OrvexTest::WritePackage(root + L"/a.pkg",
                                        {{L"b/f0.bin", bytes, 0},
                                         {L"f1.bin", bytes, 0},
                                         {L"\u4E2D/f2.bin", bytes, 0},
                                         {L"\u00E9/f3.bin", bytes, 0}},
                                        false));
    ASSERT_TRUE(OrvexTest::WritePackage(root + L"/a/b.pkg",
                                        {{L"f0.bin", bytes, 0}, {L"f2.bin", bytes, 0}}, false));
    ASSERT_TRUE(OrvexTest::WritePackage(root + L"/c/d.pkg", {{L"f3.bin", bytes, 0}}, true));
    OrvexTest::WriteRawFile(root + L"/x.pkg", bytes);

    std::mt19937 random(20261209);
    // Units past one byte and past 0xFF take other paths in the settled names.
    const wchar_t* const parts[] = {L"a", L"a", L"a",     L"b", L"b",      L"c",     L"d",
                                    L"x", L"A", L"a.pkg", L"",  L"\u00E9", L"\u4E2D"};
    unsigned found = 0;
    for (unsigned k = 0; k < 30000; ++k) {
        std::wstring name = k % 7 == 0 ? L"a" : root;
        for (unsigned depth = random() % 5; depth > 0; --depth) {
            name += random() % 4 == 0 ? L'\\' : L'/';
            name += random() % 6 == 0 ? L"n" + std::to_wstring(random() % 6000)
                                      : std::wstring(parts[random() % 13]);
        }
        if (random() % 20 == 0) {
            name += L'/' + std::wstring(random() % 240, L'p');
        }
        name += L"/f" + std::to_wstring(random() % 4) + L".bin";
        for (const bool deep : {true, false}) {
            PackageMatch expected;
            PackageMatch actual;
            if (k % 2 == 0) {
                expected = PlainSearch(name, deep);
                actual = FindPackageEntry(name.c_str(), deep);
            } else {
                actual = FindPackageEntry(name.c_str(), deep);
                expected = PlainSearch(name, deep);
            }
            ASSERT_EQ(expected.package, actual.package) << k << (deep ? " deep" : " shallow");
            ASSERT_EQ(expected.entry, actual.entry) << k << (deep ? " deep" : " shallow");
            // Asked again, the name's settled answer.
            ASSERT_EQ(expected.entry, FindPackageEntry(name.c_str(), deep).entry) << k;
            found += actual.package != nullptr ? 1 : 0;
        }
    }
    EXPECT_GT(found, 200u);
}

} // namespace
