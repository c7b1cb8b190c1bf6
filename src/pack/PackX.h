#pragma once
// The container appended to the stub executable: header strings, packed payload and a 74-byte
// trailer, found through the EndOfData field of the DOS stub area or at the end of the file.
// TGFileInfo reads it once and answers every question about it. Reading never fails loudly:
// a file without a valid container gives zero fields and empty strings.
#include <array>
#include <cstdint>
#include <string>

class BinFile;

constexpr uint32_t ContainerMagic = 0x4A3B2C1D;
constexpr uint32_t TrailerSize = 74;
constexpr int64_t EndOfDataOffset = 248;  // high word at 248, low word at 252
constexpr int64_t PeSignatureOffset = 256;

// Bits of ContainerTrailer::Flags.
enum ContainerFlag : uint8_t {
    FlagShowTempDriveInfo = 1 << 0,
    FlagNextDiskFollows = 1 << 1,
    FlagSpanCopyToTemp = 1 << 2,
    FlagShowExtractProgress = 1 << 3,
    FlagAgentLogFile = 1 << 4,
};

struct ContainerTrailer {
    uint8_t Reserved0 = 0;                   // offset 0, written as 1
    uint8_t HeaderCount = 0;                 // 1: 2, or 3 with a DownloadList
    std::array<uint8_t, 2> Reserved2{};      // 2
    uint32_t HeaderOffset = 0;               // 4: first header string
    uint32_t FilesCount = 0;                 // 8
    uint32_t Magic = 0;                      // 12
    uint32_t Checksum = 0;                   // 16
    std::array<uint8_t, 8> Reserved20{};     // 20
    std::array<uint32_t, 9> SpaceRequired{}; // 28: exact size, then per cluster size 512..65536
    uint8_t Reserved64 = 0;                  // 64
    uint8_t Flags = 0;                       // 65: ContainerFlag bits
    uint8_t InternetSetup = 0;               // 66
    uint8_t ConfirmDownload = 0;             // 67
    uint8_t InstallAgent = 0;                // 68
    uint8_t ThisIs_AutoUpdateProg = 0;       // 69
    uint32_t TrailerLength = 0;              // 70
};

// The 74 trailer bytes, field by field, little-endian.
ContainerTrailer DecodeTrailer(const std::array<uint8_t, TrailerSize>& raw);
std::array<uint8_t, TrailerSize> EncodeTrailer(const ContainerTrailer& trailer);

// "MZ" at offset 0 and "PE" at offset 256. A file name, or the open file when the name is empty.
bool IsExeFile(const std::string& fileName, BinFile* file = nullptr);
// EndOfData of an open executable; 0 when it cannot be read.
uint64_t ReadEndOfData(BinFile& file);
// EndOfData from a file held in memory; 0 when the image is too short.
uint64_t EndOfDataFromImage(const std::string& image);
// Locates and reads the trailer. Returns false, with `trailer` all zero, when the file holds no
// plausible trailer (too short, a length field below 5 or beyond the data, EndOfData beyond the
// file). `trailerStart`, when given, receives the trailer's first byte position.
bool ReadTrailer(const std::string& fileName, BinFile* file, ContainerTrailer& trailer,
                 int64_t* trailerStart = nullptr);
// The SpaceRequired entry for a volume with this cluster size (0: unknown) as a byte count.
double SpaceRequiredForCluster(const ContainerTrailer& trailer, uint64_t clusterSize);

class TGFileInfo {
public:
    explicit TGFileInfo(const std::string& fileName);

    const ContainerTrailer& Trailer() const { return trailer_; }
    // Offset of the payload: HeaderOffset advanced past the header strings.
    uint32_t HeaderOffset() const { return trailer_.HeaderOffset; }
    uint32_t FilesCount() const { return trailer_.FilesCount; }
    bool HasMagic() const { return trailer_.Magic == ContainerMagic; }
    const std::string& LanguageTable() const { return languageTable_; }
    const std::string& UpdateList() const { return updateList_; }
    const std::string& DownloadList() const { return downloadList_; }

    // Bytes the payload takes on the volume of `path` (Windows only: asks the volume's cluster size).
    double SpaceRequired(const std::string& path) const;

    bool ShowTempDriveInfo() const { return (trailer_.Flags & FlagShowTempDriveInfo) != 0; }
    bool NextDiskFollows() const { return (trailer_.Flags & FlagNextDiskFollows) != 0; }
    bool SpanCopyToTemp() const { return (trailer_.Flags & FlagSpanCopyToTemp) != 0; }
    bool ShowExtractProgress() const { return (trailer_.Flags & FlagShowExtractProgress) != 0; }
    bool AgentLogFile() const { return (trailer_.Flags & FlagAgentLogFile) != 0; }
    bool InternetSetup() const { return trailer_.InternetSetup != 0; }
    bool ConfirmDownload() const { return trailer_.ConfirmDownload != 0; }
    bool InstallAgent() const { return trailer_.InstallAgent != 0; }
    bool ThisIs_AutoUpdateProg() const { return trailer_.ThisIs_AutoUpdateProg != 0; }

    std::string UpdateUrl() const;
    std::string InfoFileName() const;
    std::string OriginalFileName() const;
    std::string AgentExeName() const;
    std::string UpdateToken(bool descramble) const;
    bool HiddenSetup() const;
    std::string DownloadUrl() const;
    std::string DownloadFileName() const;
    bool AlwaysDownload() const;
    std::string DownloadToken(bool descramble) const;
    std::string DownloadSize() const;
    // Item 5, written only by builders that pin the setup file: its SHA-256 (64 hexadecimal
    // digits); empty when the web installer trusts the download token alone.
    std::string DownloadSha256() const;

    // Text of `key` in the language entry selected once per process (the user's language, else
    // the only entry, else "English"); `def` when no entry is selected or the key is missing.
    std::string LangString(const std::string& key, const std::string& def) const;
    int LangCharset() const;
    int LangFontSize() const;
    std::string LangFontName() const;

private:
    ContainerTrailer trailer_;
    std::string languageTable_;
    std::string updateList_;
    std::string downloadList_;
};

// The language entry of `table` for the language `wantedName`: the first entry named so
// (trimmed, ignoring case), else the only entry, else "*" (none).
std::string SelectLanguageEntry(const std::string& table, const std::string& wantedName);
// Forgets the process-wide selection, so that the next LangString selects afresh.
void ResetLanguageSelection();
