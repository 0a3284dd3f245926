// Writing common file heads byte by byte for the tests, and describing a read
// head as text so that two heads compare with a readable difference.
#ifndef ORVEX_TESTS_FORMAT_FILEHEADTESTSUPPORT_H
#define ORVEX_TESTS_FORMAT_FILEHEADTESTSUPPORT_H

#include "OrvexCommon/file/OrvexFileHead.h"

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace OrvexTest {

typedef std::vector<unsigned char> Bytes;

struct GroupPlan {
    std::uint32_t type;
    std::vector<std::u16string> names;
};

struct HeadPlan {
    std::uint32_t type;
    std::uint32_t version;
    std::vector<GroupPlan> groups;
    std::uint32_t extraSize;
};

inline void Put32(Bytes& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
}

inline void PutName(Bytes& bytes, const std::u16string& name) {
    Put32(bytes, static_cast<std::uint32_t>(name.size()));
    for (const char16_t unit : name) {
        bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
        bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
}

// The head's bytes, as a producer writes them.
inline Bytes Encode(const HeadPlan& plan) {
    Bytes bytes;
    Put32(bytes, plan.type);
    Put32(bytes, plan.version);
    Put32(bytes, static_cast<std::uint32_t>(plan.groups.size()));
    for (const GroupPlan& group : plan.groups) {
        Put32(bytes, group.type);
        Put32(bytes, static_cast<std::uint32_t>(group.names.size()));
        for (const std::u16string& name : group.names) {
            PutName(bytes, name);
        }
    }
    Put32(bytes, plan.extraSize);
    return bytes;
}

inline std::wstring WideOf(const std::u16string& name) {
    return std::wstring(name.begin(), name.end());
}

// Type, version, extra size, then every group's type and names (units in
// hexadecimal, "null" for an empty slot).
inline std::string Describe(const Orvex::CCommonFileHead& head) {
    std::ostringstream text;
    text << std::hex << "type " << static_cast<std::uint32_t>(head.GetType()) << " version "
         << head.GetVersion() << " extra " << head.GetExtraDataSize();
    for (unsigned i = 0; i < head.GetDependentResCount(); ++i) {
        const Orvex::CDependentRes& group = head.GetDependentRes(i);
        text << "\n  group " << static_cast<std::uint32_t>(group.GetType()) << ':';
        for (unsigned j = 0; j < group.GetFileCount(); ++j) {
            const wchar_t* name = group.GetFileName(j);
            text << (name == nullptr ? " null" : " \"");
            for (; name != nullptr && *name != 0; ++name) {
                text << static_cast<std::uint32_t>(*name) << '.';
            }
            text << (group.GetFileName(j) == nullptr ? "" : "\"");
        }
    }
    return text.str();
}

// The head a reader must give for the plan, built through the classes' own
// interface.
inline std::string DescribePlan(const HeadPlan& plan) {
    Orvex::CCommonFileHead head(static_cast<Orvex::EFileType>(plan.type), plan.version);
    head.SetExtraDataSize(plan.extraSize);
    for (const GroupPlan& group : plan.groups) {
        head.PushDependentRes(static_cast<Orvex::EFileType>(group.type));
        for (const std::u16string& name : group.names) {
            head.GetDependentRes(head.GetDependentResCount() - 1)
                .PushFileName(WideOf(name).c_str());
        }
    }
    return Describe(head);
}

} // namespace OrvexTest

#endif // ORVEX_TESTS_FORMAT_FILEHEADTESTSUPPORT_H
