// A result file of any origin imported into the archive: the archive's own
// line reader (encodings, line ends, layouts) over bytes nobody checked.
// Importing the same bytes twice must add nothing the second time.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "archive/Archive.h"

namespace {

struct TScratch {
    std::string Folder;
    std::string File;
    std::unique_ptr<kyvo::IArchive> Archive;
    TScratch() {
        char dir[] = "/tmp/kyvo-fuzz-import-XXXXXX";
        if (!::mkdtemp(dir)) std::abort();
        Folder = dir;
        File = Folder + "/input.tsv";
        Archive = kyvo::OpenArchive("sqlite:" + Folder + "/archive.sqlite");
    }
    ~TScratch() {
        Archive.reset();
        std::error_code ignored;
        std::filesystem::remove_all(Folder, ignored);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TScratch scratch;
    {
        std::ofstream out(scratch.File, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const kyvo::TArchiveActor actor{"fuzz", "fuzz", "fuzz", "0"};
    kyvo::ImportResultFile(*scratch.Archive, scratch.File, actor);
    const kyvo::TImportOutcome again = kyvo::ImportResultFile(*scratch.Archive, scratch.File, actor);
    if (again.Added != 0) __builtin_trap();
    return 0;
}
