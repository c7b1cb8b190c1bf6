// ulvinflate: the yardstick of the unpack benchmark. A plain zlib inflate-to-file loop over a
// gzip file, with the same 64 KB pieces the unpacker uses and nothing else around it.
//   ulvinflate IN.gz OUT
// Prints "bytes=N ms=T".
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: ulvinflate IN.gz OUT\n");
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!in || !out)
        return 1;
    const ULONGLONG started = GetTickCount64();
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK)  // gzip wrapper
        return 1;
    std::vector<unsigned char> input(65536), output(65536);
    int code = Z_OK;
    unsigned long long total = 0;
    while (code != Z_STREAM_END) {
        stream.avail_in = static_cast<uInt>(std::fread(input.data(), 1, input.size(), in));
        if (stream.avail_in == 0)
            break;
        stream.next_in = input.data();
        do {
            stream.next_out = output.data();
            stream.avail_out = static_cast<uInt>(output.size());
            code = inflate(&stream, Z_NO_FLUSH);
            if (code != Z_OK && code != Z_STREAM_END && code != Z_BUF_ERROR)
                return 1;
            const size_t produced = output.size() - stream.avail_out;
            std::fwrite(output.data(), 1, produced, out);
            total += produced;
        } while (stream.avail_out == 0 && code != Z_STREAM_END);
    }
    inflateEnd(&stream);
    std::fclose(out);
    std::fclose(in);
    std::printf("bytes=%llu ms=%llu\n", total, static_cast<unsigned long long>(GetTickCount64() - started));
    return 0;
}
