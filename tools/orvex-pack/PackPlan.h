// What pack decides before it writes a package: whether the names can share
// it, and how much of each file is resident.
#ifndef ORVEX_TOOLS_ORVEXPACK_PACKPLAN_H
#define ORVEX_TOOLS_ORVEXPACK_PACKPLAN_H

#include "ToolSupport.h"

#include <cstddef>
#include <ostream>
#include <vector>

namespace OrvexPack {

// Clashes of keys reported one line each; those beyond are only counted.
constexpr std::size_t kMaxReportedClashes = 20;

// Fails when a name has the key of an earlier name or of the manifest. A
// single clash is the failure's message; of several, the first
// kMaxReportedClashes go to `err` one line each ("orvex-pack: ...") and the
// message counts them all, so that one run names every file to rename.
void CheckKeys(const std::vector<SourceFile>& files, std::ostream& err);

// The resident part pack gives a file unless told a size: its head and extra
// data when it begins with a valid common head whose extra data it holds (what
// a typed listener's OnLoadHead reads), else none. The loader reads a head
// from any resident part, whatever the listener's type, so a file without a
// head must have none to load whole for a listener of type -1.
std::uint32_t HeadResidentSize(const Bytes& bytes);

} // namespace OrvexPack

#endif // ORVEX_TOOLS_ORVEXPACK_PACKPLAN_H
