// One scratch file per fuzzing process, in a memory file system where there
// is one (/dev/shm), else in the temporary directory (or the working
// directory when there is none), rewritten for every input and removed when
// the process ends. Targets that read files through the library feed their
// inputs through it.
#ifndef ORVEX_FUZZ_FUZZSCRATCHFILE_H
#define ORVEX_FUZZ_FUZZSCRATCHFILE_H

#include "OrvexCommon/platform/OrvexPlatform.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

class FuzzScratchFile {
public:
    // The file is named stem + process id + extension.
    FuzzScratchFile(const char* stem, const char* extension) {
        std::error_code error;
        std::filesystem::path folder = "/dev/shm";
        if (!std::filesystem::is_directory(folder, error)) {
            folder = std::filesystem::temp_directory_path(error);
        }
        if (error) {
            folder = ".";
        }
        path = folder / (stem + std::to_string(Orvex::OrvexGetCurrentProcessID()) + extension);
        wide = path.wstring();
    }
    ~FuzzScratchFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    FuzzScratchFile(const FuzzScratchFile&) = delete;
    FuzzScratchFile& operator=(const FuzzScratchFile&) = delete;

    // Replaces the file's bytes; a failure ends the run, as it is no finding.
    void Write(const void* bytes, std::size_t size) const {
        std::FILE* file = std::fopen(path.string().c_str(), "wb");
        const bool written =
            file != nullptr && (size == 0 || std::fwrite(bytes, 1, size, file) == size);
        if (file == nullptr || std::fclose(file) != 0 || !written) {
            std::fprintf(stderr, "cannot write the scratch file %s\n", path.string().c_str());
            std::abort();
        }
    }

    std::filesystem::path path;
    std::wstring wide;
};

#endif // ORVEX_FUZZ_FUZZSCRATCHFILE_H
