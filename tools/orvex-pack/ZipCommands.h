// The list and verify commands for zip archives (a path ending in ".zip"):
// the archive read through the library's zip reader, as the loader reads it.
#ifndef ORVEX_TOOLS_ORVEXPACK_ZIPCOMMANDS_H
#define ORVEX_TOOLS_ORVEXPACK_ZIPCOMMANDS_H

#include "PackCommands.h"

#include <filesystem>

namespace OrvexPack {

// True for a path whose extension is ".zip", in any case.
bool IsZipPath(const std::filesystem::path& path);

// The archive's summary (entries kept, records refused and why) and one line
// per kept entry: method, size, compressed size, CRC-32 and name.
int ListZip(const std::filesystem::path& path, ToolStreams& io);

// Every kept entry read whole (local header, inflating, CRC-32), and every
// record the reader refuses, reported as a problem; fails when there is one.
int VerifyZip(const std::filesystem::path& path, ToolStreams& io);

} // namespace OrvexPack

#endif // ORVEX_TOOLS_ORVEXPACK_ZIPCOMMANDS_H
