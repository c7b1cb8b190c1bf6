// Any file given to the container reader: it must never read past its trailer record, allocate
// beyond the file, or crash, and a file it cannot trust must read like one without container.
// The checksum that every disk file must match is summed over the same bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pack/ContainerChecksum.h"
#include "pack/PackX.h"
#include "util/BinFile.h"

namespace {

const std::string& FuzzFile()
{
    static const std::string path = "/tmp/ulv_fuzz_container_" + std::to_string(getpid()) + ".exe";
    static const bool cleanup = [] { return std::atexit([] { std::remove(FuzzFile().c_str()); }) == 0; }();
    (void)cleanup;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = FuzzFile();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    if (size > 0)
        std::fwrite(data, 1, size, f);
    std::fclose(f);

    const TGFileInfo info(path);
    // Strings come from inside the file only.
    if (info.LanguageTable().size() + info.UpdateList().size() + info.DownloadList().size() > size)
        __builtin_trap();
    if (!info.HasMagic() && !info.UpdateList().empty())
        __builtin_trap();
    (void)info.AgentExeName();
    (void)info.OriginalFileName();
    (void)info.UpdateToken(true);
    (void)info.DownloadToken(true);
    (void)info.HiddenSetup();
    (void)SpaceRequiredForCluster(info.Trailer(), 4096);
    ResetLanguageSelection();
    (void)info.LangString("s0", "default");
    (void)info.LangCharset();

    ContainerTrailer trailer;
    BinFile file(path);
    ReadTrailer("", &file, trailer);
    (void)IsExeFile("", &file);
    (void)EndOfDataFromImage(std::string(reinterpret_cast<const char*>(data), size));
    // Whatever the trailer says its length is.
    (void)ContainerChecksum(path, info.Trailer().TrailerLength);
    (void)ContainerChecksum(path, trailer.TrailerLength ^ 0x80000000u);
    return 0;
}
