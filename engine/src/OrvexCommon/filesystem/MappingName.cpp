// The mapping name of a memory-mapped file.
#include "OrvexCommon/filesystem/detail/MappingName.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cwchar>

namespace Orvex {
namespace detail {

OrvexWString MemoryMapName(const wchar_t* fileName) {
    if (fileName == nullptr) {
        return OrvexWString();
    }
    const std::size_t length = std::wcslen(fileName);
    std::size_t leaf = length;
    while (leaf > 0 && fileName[leaf - 1] != L'/' && fileName[leaf - 1] != L'\\') {
        --leaf;
    }
    // The directory part keeps its separator, so that "/x" names the root.
    const OrvexWString directory =
        leaf == 0 ? OrvexWString(L"./") : OrvexWString(fileName, fileName + leaf);

    wchar_t absolute[kMappingDirectoryCapacity];
    if (!sys::AbsoluteDirectory(directory.c_str(), absolute, kMappingDirectoryCapacity)) {
        return OrvexWString();
    }
    OrvexWString name(absolute);
    name += L'/';
    name.append(fileName + leaf, fileName + length);
    for (wchar_t& unit : name) {
        if (unit >= L'A' && unit <= L'Z') {
            unit = static_cast<wchar_t>(unit - L'A' + L'a');
        } else if (unit == L'\\') {
            unit = L'/';
        }
    }
    return name;
}

} // namespace detail
} // namespace Orvex
