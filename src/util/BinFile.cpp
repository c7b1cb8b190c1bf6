#include "util/BinFile.h"

#include <utility>

namespace {

int Seek64(std::FILE* f, int64_t pos, int whence)
{
#ifdef _WIN32
    return _fseeki64(f, pos, whence);
#else
    return fseeko(f, static_cast<off_t>(pos), whence);
#endif
}

int64_t Tell64(std::FILE* f)
{
#ifdef _WIN32
    return _ftelli64(f);
#else
    return static_cast<int64_t>(ftello(f));
#endif
}

}  // namespace

BinFile::BinFile(const std::string& path)
{
    // The C runtime's fopen on Windows denies no sharing, which is what reading one's own
    // executable, or a disk file another process still holds, needs.
    if (!path.empty())
        file_ = std::fopen(path.c_str(), "rb");
    if (file_ && Size() < 0)
        Close();  // a folder opens on some runtimes but cannot be measured
}

BinFile::~BinFile()
{
    Close();
}

BinFile::BinFile(BinFile&& other) noexcept : file_(std::exchange(other.file_, nullptr)) {}

BinFile& BinFile::operator=(BinFile&& other) noexcept
{
    if (this != &other) {
        Close();
        file_ = std::exchange(other.file_, nullptr);
    }
    return *this;
}

void BinFile::Close()
{
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}

int64_t BinFile::Size()
{
    if (!file_)
        return -1;
    const int64_t here = Tell64(file_);
    if (here < 0 || Seek64(file_, 0, SEEK_END) != 0)
        return -1;
    const int64_t size = Tell64(file_);
    Seek64(file_, here, SEEK_SET);
    return size;
}

bool BinFile::Seek(int64_t position)
{
    return file_ && position >= 0 && Seek64(file_, position, SEEK_SET) == 0;
}

size_t BinFile::Read(void* buffer, size_t n)
{
    if (!file_ || n == 0)
        return 0;
    return std::fread(buffer, 1, n, file_);
}

bool BinFile::ReadAt(int64_t position, void* buffer, size_t n)
{
    return Seek(position) && Read(buffer, n) == n;
}

bool FileReadable(const std::string& path)
{
    return BinFile(path).IsOpen();
}
