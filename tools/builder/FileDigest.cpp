#include "builder/FileDigest.h"

#include "builder/CodePage.h"
#include "builder/ContainerBuilder.h"
#include "builder/InfoFileWriter.h"

#ifdef _WIN32
#include "util/FileHash.h"
#else
#include <openssl/evp.h>

#include <fstream>
#include <memory>
#include <vector>

#include "util/HashText.h"
#endif

namespace builder {

namespace {

std::string PathText(const std::filesystem::path& path)
{
    return Quoted(HostText(path));
}

}  // namespace

#ifdef _WIN32

std::string FileSha256(const std::filesystem::path& file)
{
    // The stub's own hashing, so both sides agree by construction.
    const std::string digest = ::FileSha256(file.string());
    if (digest.empty())
        throw BuildError("cannot compute the SHA-256 of " + PathText(file));
    return digest;
}

#else

std::string FileSha256(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw BuildError("cannot open " + PathText(file) + " to compute its SHA-256");
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw BuildError("SHA-256 is not available");
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<size_t>(in.gcount());
        if (got > 0 && EVP_DigestUpdate(context.get(), buffer.data(), got) != 1)
            throw BuildError("SHA-256 of " + PathText(file) + " failed");
    }
    if (in.bad())
        throw BuildError("cannot read " + PathText(file) + " to compute its SHA-256");
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1 || length != Sha256Bytes)
        throw BuildError("SHA-256 of " + PathText(file) + " failed");
    return HexDigits(digest, length);
}

#endif

}  // namespace builder
