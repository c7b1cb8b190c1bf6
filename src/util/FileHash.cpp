#include <windows.h>

#include "util/FileHash.h"

#include <array>
#include <vector>

#include "util/Handles.h"
#include "util/HashText.h"
#include "util/SystemLibrary.h"

namespace {

// The CNG entry points, typed as bcrypt.h declares them (NTSTATUS is a LONG; 0 is success).
using OpenProvider = LONG(WINAPI*)(void** algorithm, LPCWSTR id, LPCWSTR implementation, ULONG flags);
using CloseProvider = LONG(WINAPI*)(void* algorithm, ULONG flags);
using CreateHash = LONG(WINAPI*)(void* algorithm, void** hash, PUCHAR object, ULONG objectLength, PUCHAR secret,
                                 ULONG secretLength, ULONG flags);
using HashData = LONG(WINAPI*)(void* hash, PUCHAR input, ULONG inputLength, ULONG flags);
using FinishHash = LONG(WINAPI*)(void* hash, PUCHAR output, ULONG outputLength, ULONG flags);
using DestroyHash = LONG(WINAPI*)(void* hash);

struct Bcrypt {
    OpenProvider open = nullptr;
    CloseProvider close = nullptr;
    CreateHash create = nullptr;
    HashData data = nullptr;
    FinishHash finish = nullptr;
    DestroyHash destroy = nullptr;
    bool Usable() const { return open && close && create && data && finish && destroy; }
};

// Bound once; the library stays loaded for the run, as the other late-bound system libraries do.
const Bcrypt& BcryptFunctions()
{
    static const Bcrypt bound = [] {
        Bcrypt b;
        b.open = ProcAddressAs<OpenProvider>(LoadProc("bcrypt.dll", "BCryptOpenAlgorithmProvider"));
        b.close = ProcAddressAs<CloseProvider>(LoadProc("bcrypt.dll", "BCryptCloseAlgorithmProvider"));
        b.create = ProcAddressAs<CreateHash>(LoadProc("bcrypt.dll", "BCryptCreateHash"));
        b.data = ProcAddressAs<HashData>(LoadProc("bcrypt.dll", "BCryptHashData"));
        b.finish = ProcAddressAs<FinishHash>(LoadProc("bcrypt.dll", "BCryptFinishHash"));
        b.destroy = ProcAddressAs<DestroyHash>(LoadProc("bcrypt.dll", "BCryptDestroyHash"));
        return b;
    }();
    return bound;
}

// One SHA-256 computation: the provider and the hash object are released on every path.
class Sha256 {
public:
    Sha256() : api_(BcryptFunctions())
    {
        if (!api_.Usable())
            return;
        if (api_.open(&algorithm_, L"SHA256", nullptr, 0) != 0) {
            algorithm_ = nullptr;
            return;
        }
        if (api_.create(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0) != 0)
            hash_ = nullptr;
    }
    ~Sha256()
    {
        if (hash_)
            api_.destroy(hash_);
        if (algorithm_)
            api_.close(algorithm_, 0);
    }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool Add(const void* data, DWORD length)
    {
        return hash_ && api_.data(hash_, static_cast<PUCHAR>(const_cast<void*>(data)), length, 0) == 0;
    }
    // The digits, or empty when any step failed.
    std::string Finish()
    {
        std::array<uint8_t, Sha256Bytes> digest{};
        if (!hash_ || api_.finish(hash_, digest.data(), static_cast<ULONG>(digest.size()), 0) != 0)
            return std::string();
        return HexDigits(digest.data(), digest.size());
    }

private:
    const Bcrypt& api_;
    void* algorithm_ = nullptr;
    void* hash_ = nullptr;
};

}  // namespace

std::string FileSha256(const std::string& path)
{
    const UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        return std::string();
    Sha256 hash;
    std::vector<char> buffer(65536);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            return std::string();
        if (read == 0)
            break;
        if (!hash.Add(buffer.data(), read))
            return std::string();
    }
    return hash.Finish();
}
