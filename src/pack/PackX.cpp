#include "pack/PackX.h"

#include <optional>

#include "pack/PackToken.h"
#include "ui/SLangId.h"
#include "util/BinFile.h"
#include "util/USUB.h"
#include "util/Utils.h"

ContainerTrailer DecodeTrailer(const std::array<uint8_t, TrailerSize>& raw)
{
    ContainerTrailer t;
    t.Reserved0 = raw[0];
    t.HeaderCount = raw[1];
    t.Reserved2 = {raw[2], raw[3]};
    t.HeaderOffset = GetLE32(&raw[4]);
    t.FilesCount = GetLE32(&raw[8]);
    t.Magic = GetLE32(&raw[12]);
    t.Checksum = GetLE32(&raw[16]);
    for (size_t i = 0; i < t.Reserved20.size(); ++i)
        t.Reserved20[i] = raw[20 + i];
    for (size_t k = 0; k < t.SpaceRequired.size(); ++k)
        t.SpaceRequired[k] = GetLE32(&raw[28 + 4 * k]);
    t.Reserved64 = raw[64];
    t.Flags = raw[65];
    t.InternetSetup = raw[66];
    t.ConfirmDownload = raw[67];
    t.InstallAgent = raw[68];
    t.ThisIs_AutoUpdateProg = raw[69];
    t.TrailerLength = GetLE32(&raw[70]);
    return t;
}

std::array<uint8_t, TrailerSize> EncodeTrailer(const ContainerTrailer& t)
{
    std::array<uint8_t, TrailerSize> raw{};
    raw[0] = t.Reserved0;
    raw[1] = t.HeaderCount;
    raw[2] = t.Reserved2[0];
    raw[3] = t.Reserved2[1];
    PutLE32(&raw[4], t.HeaderOffset);
    PutLE32(&raw[8], t.FilesCount);
    PutLE32(&raw[12], t.Magic);
    PutLE32(&raw[16], t.Checksum);
    for (size_t i = 0; i < t.Reserved20.size(); ++i)
        raw[20 + i] = t.Reserved20[i];
    for (size_t k = 0; k < t.SpaceRequired.size(); ++k)
        PutLE32(&raw[28 + 4 * k], t.SpaceRequired[k]);
    raw[64] = t.Reserved64;
    raw[65] = t.Flags;
    raw[66] = t.InternetSetup;
    raw[67] = t.ConfirmDownload;
    raw[68] = t.InstallAgent;
    raw[69] = t.ThisIs_AutoUpdateProg;
    PutLE32(&raw[70], t.TrailerLength);
    return raw;
}

bool IsExeFile(const std::string& fileName, BinFile* file)
{
    BinFile own;
    if (!fileName.empty()) {
        own = BinFile(fileName);
        file = &own;
    }
    if (!file || !file->IsOpen())
        return false;
    char mz[2] = {};
    char pe[2] = {};
    return file->ReadAt(0, mz, 2) && file->ReadAt(PeSignatureOffset, pe, 2) && mz[0] == 'M' &&
           mz[1] == 'Z' && pe[0] == 'P' && pe[1] == 'E';
}

namespace {

uint64_t EndOfDataFromBytes(const uint8_t* p)
{
    return static_cast<uint64_t>(GetLE32(p)) << 32 | GetLE32(p + 4);
}

}  // namespace

uint64_t ReadEndOfData(BinFile& file)
{
    uint8_t raw[8] = {};
    if (!file.ReadAt(EndOfDataOffset, raw, sizeof raw))
        return 0;
    return EndOfDataFromBytes(raw);
}

uint64_t EndOfDataFromImage(const std::string& image)
{
    if (image.size() < static_cast<size_t>(EndOfDataOffset) + 8)
        return 0;
    return EndOfDataFromBytes(reinterpret_cast<const uint8_t*>(image.data()) + EndOfDataOffset);
}

bool ReadTrailer(const std::string& fileName, BinFile* file, ContainerTrailer& trailer,
                 int64_t* trailerStart)
{
    trailer = ContainerTrailer{};
    BinFile own;
    if (!fileName.empty()) {
        own = BinFile(fileName);
        file = &own;
    }
    if (!file || !file->IsOpen())
        return false;

    const bool isExe = IsExeFile("", file);
    const int64_t size = file->Size();
    if (size < 4)
        return false;

    // The data ends at EndOfData in an executable that records it (a signature may follow),
    // otherwise at the end of the file. Its last four bytes hold the trailer's length.
    int64_t end = size;
    if (isExe) {
        const uint64_t eod = ReadEndOfData(*file);
        if (eod > 0) {
            if (eod > static_cast<uint64_t>(size) || eod < 4)
                return false;
            end = static_cast<int64_t>(eod);
        }
    }
    uint8_t lenRaw[4] = {};
    if (!file->ReadAt(end - 4, lenRaw, sizeof lenRaw))
        return false;
    const int32_t length = static_cast<int32_t>(GetLE32(lenRaw));
    // A length that cannot hold even one field, or reaches before the file, is no trailer.
    if (length < 5 || length > end)
        return false;

    const int64_t start = end - length;
    const uint32_t n = length < static_cast<int32_t>(TrailerSize) ? static_cast<uint32_t>(length) : TrailerSize;
    std::array<uint8_t, TrailerSize> raw{};
    if (!file->ReadAt(start, raw.data(), n - 4))
        return false;
    trailer = DecodeTrailer(raw);
    trailer.TrailerLength = n;  // the stored length field is never taken over
    if (trailer.HeaderCount == 0)
        trailer.HeaderCount = 2;
    if (trailerStart)
        *trailerStart = start;
    return true;
}

double SpaceRequiredForCluster(const ContainerTrailer& trailer, uint64_t clusterSize)
{
    uint32_t result = trailer.SpaceRequired[0];
    for (size_t k = 1; k <= 8; ++k)
        if ((uint64_t{256} << k) <= clusterSize)
            result = trailer.SpaceRequired[k];
    return static_cast<double>(result);
}

namespace {

// Reads one header string (u32 count + bytes) at `offset`, which must stay before `limit`.
std::optional<std::string> ReadHeaderString(BinFile& file, uint64_t& offset, int64_t limit)
{
    uint8_t countRaw[4] = {};
    if (offset + 4 > static_cast<uint64_t>(limit) || !file.ReadAt(static_cast<int64_t>(offset), countRaw, 4))
        return std::nullopt;
    const uint32_t count = GetLE32(countRaw);
    // Never allocate more than the file can hold.
    if (offset + 4 + count > static_cast<uint64_t>(limit))
        return std::nullopt;
    std::string text(count, '\0');
    if (count > 0 && !file.ReadAt(static_cast<int64_t>(offset + 4), text.data(), count))
        return std::nullopt;
    offset += 4 + uint64_t{count};
    return text;
}

}  // namespace

TGFileInfo::TGFileInfo(const std::string& fileName)
{
    BinFile file(fileName);
    if (!file.IsOpen())
        return;
    int64_t trailerStart = 0;
    if (!ReadTrailer("", &file, trailer_, &trailerStart) || trailer_.Magic != ContainerMagic)
        return;

    // Header strings that run past the trailer mean a damaged container: it is treated like none.
    uint64_t offset = trailer_.HeaderOffset;
    auto language = ReadHeaderString(file, offset, trailerStart);
    auto update = language ? ReadHeaderString(file, offset, trailerStart) : std::nullopt;
    std::optional<std::string> download = std::string();
    if (update && trailer_.HeaderCount >= 3)
        download = ReadHeaderString(file, offset, trailerStart);
    if (!language || !update || !download) {
        trailer_ = ContainerTrailer{};
        return;
    }
    languageTable_ = std::move(*language);
    updateList_ = std::move(*update);
    downloadList_ = std::move(*download);
    trailer_.HeaderOffset = static_cast<uint32_t>(offset);
}

namespace {

std::string FileNameOnly(const std::string& path)
{
    const size_t cut = path.find_last_of("\\:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string MaybeDescramble(const std::string& stored, bool descramble)
{
    return descramble ? DescrambleToken(stored) : stored;
}

}  // namespace

std::string TGFileInfo::UpdateUrl() const { return SUB::Item(updateList_, 0, ""); }
std::string TGFileInfo::InfoFileName() const { return FileNameOnly(SUB::Item(updateList_, 1, "")); }

std::string TGFileInfo::OriginalFileName() const
{
    const std::string name = InfoFileName();
    return name.substr(0, name.find('.')) + ".original";
}

std::string TGFileInfo::AgentExeName() const { return SUB::Item(updateList_, 2, ""); }
std::string TGFileInfo::UpdateToken(bool descramble) const
{
    return MaybeDescramble(SUB::Item(updateList_, 3, ""), descramble);
}
bool TGFileInfo::HiddenSetup() const { return SUB::Item(updateList_, 4, "") == "1"; }
std::string TGFileInfo::DownloadUrl() const { return SUB::Item(downloadList_, 0, ""); }
std::string TGFileInfo::DownloadFileName() const { return SUB::Item(downloadList_, 1, ""); }
bool TGFileInfo::AlwaysDownload() const { return SUB::Item(downloadList_, 2, "") == "1"; }
std::string TGFileInfo::DownloadToken(bool descramble) const
{
    return MaybeDescramble(SUB::Item(downloadList_, 3, ""), descramble);
}
std::string TGFileInfo::DownloadSize() const { return SUB::Item(downloadList_, 4, ""); }
std::string TGFileInfo::DownloadSha256() const { return SUB::Item(downloadList_, 5, ""); }

namespace {

// The selected language entry, computed by the first LangString of the process and shared by
// every container object after it (also those opened on downloaded files).
std::optional<std::string>& SelectedEntry()
{
    static std::optional<std::string> entry;
    return entry;
}

}  // namespace

std::string SelectLanguageEntry(const std::string& table, const std::string& wantedName)
{
    const int32_t count = SUB::Count(table);
    for (int32_t i = 0; i < count; ++i) {
        const std::string entry = SUB::Item(table, i, "");
        if (SameTrimmedText(SUB::Item(entry, 0, ""), wantedName))
            return entry;
    }
    if (count == 1)
        return SUB::Item(table, 0, "*");
    return "*";
}

void ResetLanguageSelection()
{
    SelectedEntry().reset();
}

std::string TGFileInfo::LangString(const std::string& key, const std::string& def) const
{
    auto& selected = SelectedEntry();
    if (!selected) {
        std::string entry = SelectLanguageEntry(languageTable_, UserLanguageName());
        if (entry == "*")
            entry = SelectLanguageEntry(languageTable_, "English");
        selected = entry;
    }
    if (selected->size() > 1)
        return SUB::Value(*selected, key, def, "");
    return def;
}

int TGFileInfo::LangCharset() const
{
    return static_cast<int>(StrToInt64Def(Trim(LangString("Charset", "0")), 0));
}

int TGFileInfo::LangFontSize() const
{
    return static_cast<int>(StrToInt64Def(Trim(LangString("FontSize", "8")), 8));
}

std::string TGFileInfo::LangFontName() const { return LangString("FontName", "Tahoma"); }
