#pragma once
// The builder's portable core: it copies a stub executable and appends a container of setup
// data to it, laid out as the stub's reader expects:
//
//   stub image | header strings (u32 count + bytes each) | file records | 74-byte trailer | filler
//
// A file record is a signed 32-bit length (positive: zlib stream of that many bytes; negative:
// that many bytes stored as is) followed by its body. The body, once inflated, is the descriptor
// "|NAME|DOSDATETIME|", one NUL and the file's bytes. A "*" after NAME marks the main file.
//
// Every integer is written byte by byte in little-endian order; no structure is ever copied as
// a block of memory, so the layout does not depend on the compiler or the host. Sizes and
// offsets are 64-bit until the point where a 32-bit field is filled, which is checked.
//
// Nothing here touches <windows.h>: the builder runs natively as well as on Windows.
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace builder {

// A refused input or a failed read or write; the text is one line naming the culprit.
class BuildError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// --- layout constants -----------------------------------------------------------------------
inline constexpr uint32_t kTrailerLength = 74;
inline constexpr uint32_t kMagic = 0x4A3B2C1D;
// A stored checksum of this value is accepted by the stub without comparing.
inline constexpr uint32_t kAcceptAnyChecksum = 1234;
// The stub's executable test reads "MZ" at 0 and "PE" at 256, so a stub must reach byte 257.
inline constexpr uint64_t kMinStubSize = 258;
inline constexpr uint64_t kEndOfDataHighOffset = 248;
inline constexpr uint64_t kEndOfDataLowOffset = 252;
// Record lengths are signed 32-bit; contents are cut into pieces no larger than this even when
// no piece size is asked for, so that a record (descriptor, NUL, zlib overhead) always fits.
inline constexpr uint64_t kMaxRecordContent = uint64_t{1} << 30;
// Largest header string, file or record body the stub can take (signed 32-bit lengths).
inline constexpr uint64_t kMaxFieldLength = 0x7FFFFFFF;
// Delimiter of the language table itself; each entry uses another one (see BuildLanguageTable).
inline constexpr char kLanguageTableDelimiter = '\x02';

// --- the description of a container ---------------------------------------------------------

// One file of the payload.
struct PayloadFile {
    std::filesystem::path source;  // read while building
    std::string name;              // name relative to the unpacking folder, "\" as separator
};

// One translation: item 0 of its entry is the language name (as "English"), the other items
// are "key=value" texts.
struct LanguageEntry {
    std::string name;
    std::vector<std::pair<std::string, std::string>> items;
};

// The five items of the update list.
struct UpdateInfo {
    std::string url;        // where the auto-update agent fetches its files
    std::string infoFile;   // the information file's name
    std::string agentExe;   // file name of the auto-update agent
    std::string token;      // update token, in clear (see StoredToken)
    bool hidden = false;    // the setup runs hidden
};

// The five items of the download list (only present for an Internet setup).
struct DownloadInfo {
    std::string url;        // Internet folder of the setup file
    std::string fileName;   // the setup file's name
    bool always = false;    // always download, never use a copy beside the launcher
    std::string token;      // download token, in clear (see StoredToken)
    std::string size;       // size in bytes as decimal text, may be empty
    std::string sha256;     // the setup file's SHA-256, 64 hex digits; empty: not pinned
};

// Bits of the trailer's flag byte.
struct ContainerFlags {
    bool showTempDriveInfo = false;    // bit 0
    bool nextDiskFollows = false;      // bit 1
    bool spanCopyToTemp = false;       // bit 2
    bool showExtractProgress = false;  // bit 3
    bool agentLogFile = false;         // bit 4
};

// The role bytes at trailer offsets 66 to 69.
struct RoleBytes {
    bool internetSetup = false;    // 66
    bool confirmDownload = false;  // 67
    bool installAgent = false;     // 68
    bool autoUpdateAgent = false;  // 69: this executable is an auto-update agent
};

struct ContainerPlan {
    std::filesystem::path stubPath;         // the stub executable to copy...
    std::optional<std::string> stubBytes;   // ...or its bytes, used instead when set

    std::vector<LanguageEntry> languages;   // empty: the table without entries
    UpdateInfo update;
    std::optional<DownloadInfo> download;   // present: a third header string is written

    std::vector<PayloadFile> files;         // in record order
    std::optional<std::string> mainFile;    // name of the main file, one of `files`
    std::string mainArgs;                   // its arguments

    bool store = false;                     // store records instead of deflating them
    int level = 9;                          // zlib level 0..9
    uint64_t chunkSize = 0;                 // 0: no split (beyond kMaxRecordContent)
    bool dates = true;                      // false: every date field is 0

    ContainerFlags flags;
    RoleBytes roles;
    std::optional<uint8_t> headerCountByte;  // stored instead of the real header count
    std::optional<uint32_t> checksum;        // stored instead of the computed checksum

    bool writeEndOfData = true;             // false: the end-of-data field stays 0
    uint64_t trailingBytes = 0;             // filler after the end of the data

    // Splitting over disk files (0: one file). Each disk file is a complete container that takes
    // records until the next one would pass this size; a record larger than a disk gets a disk
    // of its own. Disk 1 is the output itself and disk k the output + ".00k"; with
    // `separateLauncher` the output is a launcher without payload (SpanCopyToTemp set) and the
    // disks are the output + ".001" onward. Only disk 1 carries the stub image.
    uint64_t diskSize = 0;
    bool separateLauncher = false;
};

// What a build produced.
struct BuildSummary {
    uint64_t outputSize = 0;
    uint64_t headerOffset = 0;  // = stub size
    uint64_t endOfData = 0;     // 0 when not written
    uint32_t fileRecords = 0;
    uint32_t checksum = 0;
    uint32_t headerCount = 0;   // header strings actually written
    uint32_t disks = 1;         // disk files written (the launcher not counted)
};

// --- byte writers ---------------------------------------------------------------------------
void PutU8(std::string& out, uint8_t value);
void PutU16LE(std::string& out, uint16_t value);
void PutU32LE(std::string& out, uint32_t value);
// Overwrites four bytes at `offset` (which must lie inside `out`).
void SetU32LE(std::string& out, size_t offset, uint32_t value);
uint32_t GetU32LE(const std::string& bytes, size_t offset);

// --- names ----------------------------------------------------------------------------------
// "/" becomes "\": the stored names use the Windows separator.
std::string NormaliseName(std::string name);
// Every regular file below `folder`, named by its relative path, sorted by that name.
std::vector<PayloadFile> CollectFolder(const std::filesystem::path& folder);

// --- the target code page ------------------------------------------------------------------
// The stub reads names and texts in the code page of the system it runs on; the builder gets them
// from the host as UTF-8 and writes them in the setup's target code page (see CodePage.h).

// How the language file is written: UTF-8 (each entry is converted to the code page of its
// "Charset"), or already in the target systems' 8-bit code pages (copied byte for byte).
enum class LanguageEncoding { Utf8, Native };

// The files with their names converted from UTF-8 to `codePage`. A name that code page cannot
// hold, or one whose double-byte character ends in the byte of "\" or "|", is refused, naming the
// file.
std::vector<PayloadFile> EncodePayloadNames(const std::vector<PayloadFile>& files, unsigned codePage);
// The entries with every text converted from UTF-8 to the code page of the entry's "Charset"
// (CodePageOfCharsetText). An entry whose Charset has no known code page keeps pure ASCII texts
// and refuses others. Refusals name `origin` (the language file), the language and the key.
std::vector<LanguageEntry> EncodeLanguages(const std::vector<LanguageEntry>& languages,
                                           const std::string& origin);

// --- header strings -------------------------------------------------------------------------
// Parses the language file format (see ulvbuild --help); `origin` names the text in messages.
std::vector<LanguageEntry> ParseLanguageText(const std::string& text, const std::string& origin);
std::vector<LanguageEntry> LoadLanguageFile(const std::filesystem::path& file);
// The language table: 0x02, then each entry followed by 0x02. An entry is a list whose
// delimiter is a control character found in none of its items.
std::string BuildLanguageTable(const std::vector<LanguageEntry>& languages);
// The token text as it goes into the header: scrambled with a fresh random key and filler (see
// ScrambleToken), so the stub reads it back as the token followed by one NUL byte. An empty
// token stays empty.
std::string StoredToken(const std::string& token);
std::string BuildUpdateList(const UpdateInfo& update);
// Whole-file reads and writes for the small inputs and outputs of the builder.
std::string ReadWholeFile(const std::filesystem::path& file, const std::string& what);
void WriteWholeFile(const std::filesystem::path& file, const std::string& bytes);
std::string BuildDownloadList(const DownloadInfo& download);
// The download options as given; with `setup` (--download-setup) the items left unset are taken
// from the setup file that the web installer will download.
struct DownloadRequest {
    std::string url;
    std::optional<std::string> fileName;
    bool always = false;
    std::optional<std::string> token;            // in clear
    std::optional<std::string> size;
    std::optional<std::filesystem::path> setup;
    bool pin = false;                            // store the setup's SHA-256 (needs `setup`)
};
// The download list of `request`. A setup file gives its base name, its size in bytes and the
// download token its own container carries, in clear, so that the launcher's comparison of the
// two descrambled tokens succeeds. Refused when the file cannot be read, when its token is needed
// and it carries none, or when its size is needed and exceeds what the stub reads.
DownloadInfo ResolveDownload(const DownloadRequest& request);

// --- records --------------------------------------------------------------------------------
// DOS date-time of a broken-down local time: date in the high 16 bits. 0 outside 1980..2107.
uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);
// DOS date-time of a file's modification time, in local time; 0 when it cannot be read.
uint32_t FileDosDateTime(const std::filesystem::path& file);
// "|NAME|DATE|", NAME followed by "*" and the arguments for the main file.
std::string Descriptor(const std::string& name, uint32_t dosDateTime, bool isMain,
                       const std::string& mainArgs);
// One record: the signed length and the body (descriptor, NUL, content), deflated or stored.
std::string EncodeRecord(const std::string& descriptor, const char* content, size_t contentSize,
                         bool store, int level);

// --- trailer --------------------------------------------------------------------------------
struct TrailerFields {
    uint8_t headerCount = 2;
    uint32_t headerOffset = 0;
    uint32_t filesCount = 0;
    uint32_t checksum = kAcceptAnyChecksum;
    std::array<uint32_t, 9> spaceRequired{};
    ContainerFlags flags;
    RoleBytes roles;
};
// Entry 0: the sum of the sizes; entry k: the sum of the sizes each rounded up to a multiple of
// 256 * 2^k bytes. Refused when a sum exceeds 32 bits.
std::array<uint32_t, 9> ComputeSpaceRequired(const std::vector<uint64_t>& sizes);
uint8_t FlagsByte(const ContainerFlags& flags);
// The 74 trailer bytes.
std::string EncodeTrailer(const TrailerFields& fields);

// --- building -------------------------------------------------------------------------------
// Where the container is written: appended bytes, and overwrites of bytes already written
// (the end-of-data field lies in the stub image, and is known only at the end).
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void Write(const char* data, size_t size) = 0;
    virtual void Patch(uint64_t offset, const std::string& bytes) = 0;
    virtual uint64_t Position() const = 0;
    // Reads back up to `size` bytes already written at `offset`; fewer at the end.
    virtual size_t ReadBack(uint64_t offset, uint8_t* buffer, size_t size) = 0;
};

// Checks the whole description (names, main file, header items, options) without reading the
// payload; throws BuildError on the first problem.
void ValidatePlan(const ContainerPlan& plan);
// Writes the stub and the container into `sink`.
BuildSummary WriteContainer(const ContainerPlan& plan, ByteSink& sink);
// The whole output in memory.
std::string BuildContainer(const ContainerPlan& plan, BuildSummary* summary = nullptr);
// Writes the output file (through a temporary file beside it, renamed at the end, so that a
// refused build leaves no partial output), and the further disk files of a split payload.
BuildSummary WriteContainerFile(const ContainerPlan& plan, const std::filesystem::path& output);
// The files a plan writes for `output`, in order (one, or the launcher and its disks).
std::vector<std::filesystem::path> OutputFiles(const ContainerPlan& plan, const std::filesystem::path& output,
                                               size_t disks);

}  // namespace builder
