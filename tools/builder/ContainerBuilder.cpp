#include "builder/ContainerBuilder.h"

#include "builder/CodePage.h"
#include "builder/FileDigest.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <string_view>
#include <system_error>

#include "pack/ContainerChecksum.h"
#include "pack/PackToken.h"
#include "pack/PackX.h"
#include "pack/RecordName.h"
#include "util/HashText.h"
#include "util/Utils.h"

namespace builder {

namespace fs = std::filesystem;

namespace {

// Shows a name or text in a one-line message: control characters become \xNN.
std::string Printable(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127) {
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string Quoted(const std::string& text)
{
    return "'" + Printable(text) + "'";
}

std::string PathText(const fs::path& path)
{
    return Quoted(HostText(path));
}

}  // namespace

// --- byte writers ---------------------------------------------------------------------------

void PutU8(std::string& out, uint8_t value)
{
    out += static_cast<char>(value);
}

void PutU16LE(std::string& out, uint16_t value)
{
    PutU8(out, static_cast<uint8_t>(value & 0xFF));
    PutU8(out, static_cast<uint8_t>(value >> 8));
}

void PutU32LE(std::string& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        PutU8(out, static_cast<uint8_t>((value >> shift) & 0xFF));
}

void SetU32LE(std::string& out, size_t offset, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        out.at(offset + i) = static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint32_t GetU32LE(const std::string& bytes, size_t offset)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes.at(offset + i))) << (8 * i);
    return value;
}

// --- names ----------------------------------------------------------------------------------

std::string NormaliseName(std::string name)
{
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}




std::vector<PayloadFile> CollectFolder(const fs::path& folder)
{
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        throw BuildError("files folder not found: " + PathText(folder));
    std::vector<PayloadFile> files;
    fs::recursive_directory_iterator it(folder, ec);
    if (ec)
        throw BuildError("cannot read the folder " + PathText(folder) + ": " + ec.message());
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        if (ec)
            break;
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        std::string name;
        for (const auto& part : it->path().lexically_relative(folder)) {
            if (!name.empty())
                name += '\\';
            name += HostText(part);
        }
        files.push_back({it->path(), name});
    }
    if (ec)
        throw BuildError("cannot read the folder " + PathText(folder) + ": " + ec.message());
    std::sort(files.begin(), files.end(),
              [](const PayloadFile& a, const PayloadFile& b) { return a.name < b.name; });
    return files;
}

// --- the target code page ------------------------------------------------------------------

std::vector<PayloadFile> EncodePayloadNames(const std::vector<PayloadFile>& files, unsigned codePage)
{
    std::vector<PayloadFile> encoded;
    encoded.reserve(files.size());
    for (const auto& file : files) {
        // The stub cuts a name into folders at every backslash byte and a descriptor at every "|".
        encoded.push_back({file.source, ToCodePage(file.name, codePage,
                                                   "payload file name " + Quoted(file.name) + " (" +
                                                       PathText(file.source) + ")",
                                                   "\\|")});
    }
    return encoded;
}

std::vector<LanguageEntry> EncodeLanguages(const std::vector<LanguageEntry>& languages,
                                           const std::string& origin)
{
    std::vector<LanguageEntry> encoded;
    for (const auto& language : languages) {
        std::string charset = "0";
        for (const auto& [key, value] : language.items)
            if (SameText(key, "Charset"))
                charset = value;
        const unsigned codePage = CodePageOfCharsetText(charset);
        const std::string where = "language file " + Quoted(origin) + " [" + language.name + "]";
        const auto convert = [&](const std::string& text, const std::string& what, std::string_view reserved) {
            if (codePage != 0)
                return ToCodePage(text, codePage, what + " (Charset=" + charset + ")", reserved);
            size_t bad = 0;
            if (!IsUtf8(text, &bad))
                throw BuildError(what + ": the text is not UTF-8 from offset " + std::to_string(bad));
            if (std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
                throw BuildError(what + ": Charset=" + charset +
                                 " names no code page the builder knows, so only ASCII text can be written");
            return text;
        };
        LanguageEntry entry{convert(language.name, where, {}), {}};
        for (const auto& [key, value] : language.items) {
            // The button captions are themselves a "|" list.
            const std::string_view reserved = SameText(key, "BtnText") ? "|" : "";
            entry.items.emplace_back(convert(key, where + " key " + Quoted(key), {}),
                                     convert(value, where + " key " + Quoted(key), reserved));
        }
        encoded.push_back(std::move(entry));
    }
    return encoded;
}

// --- header strings -------------------------------------------------------------------------

namespace {

std::string TrimBlanks(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::vector<LanguageEntry> ParseLanguageText(const std::string& input, const std::string& origin)
{
    std::string text = input;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    std::vector<LanguageEntry> entries;
    size_t pos = 0;
    int lineNumber = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos)
            eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string where = origin + " line " + std::to_string(lineNumber) + ": ";
        const std::string trimmed = TrimBlanks(line);
        if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#')
            continue;
        if (trimmed.front() == '[') {
            if (trimmed.back() != ']')
                throw BuildError(where + "section header without ']'");
            const std::string name = TrimBlanks(trimmed.substr(1, trimmed.size() - 2));
            if (name.empty())
                throw BuildError(where + "empty language name");
            if (name.find('=') != std::string::npos)
                throw BuildError(where + "language name " + Quoted(name) + " contains '='");
            for (const auto& entry : entries)
                if (SameText(entry.name, name))
                    throw BuildError(where + "language " + Quoted(name) + " appears twice");
            entries.push_back({name, {}});
            continue;
        }
        const size_t eq = trimmed.find('=');
        if (eq == std::string::npos)
            throw BuildError(where + "expected key=value, found " + Quoted(trimmed));
        if (entries.empty())
            throw BuildError(where + "key=value before the first [Language] section");
        const std::string key = TrimBlanks(trimmed.substr(0, eq));
        std::string value = TrimBlanks(trimmed.substr(eq + 1));
        if (key.empty())
            throw BuildError(where + "empty key");
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        auto& items = entries.back().items;
        for (const auto& item : items)
            if (SameText(item.first, key))
                throw BuildError(where + "key " + Quoted(key) + " appears twice in [" +
                                 entries.back().name + "]");
        items.emplace_back(key, value);
    }
    return entries;
}

std::string ReadWholeFile(const fs::path& file, const std::string& what)
{
    std::error_code ec;
    if (!fs::is_regular_file(file, ec))
        throw BuildError(what + " not found: " + PathText(file));
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw BuildError("cannot open " + what + " " + PathText(file));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw BuildError("cannot read " + what + " " + PathText(file));
    return bytes;
}

void WriteWholeFile(const fs::path& file, const std::string& bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw BuildError("cannot write " + PathText(file));
}

namespace {

void CheckHeaderString(const std::string& text, const std::string& what)
{
    if (text.size() > kMaxFieldLength)
        throw BuildError(what + " is longer than 2147483647 bytes");
}

// Items of the "|"-delimited header lists may not hold the delimiter.
void CheckListItem(const std::string& text, const std::string& option)
{
    if (text.find('|') != std::string::npos)
        throw BuildError(option + " must not contain '|': " + Quoted(text));
}

}  // namespace

std::vector<LanguageEntry> LoadLanguageFile(const fs::path& file)
{
    return ParseLanguageText(ReadWholeFile(file, "language file"), HostText(file));
}

std::string BuildLanguageTable(const std::vector<LanguageEntry>& languages)
{
    std::string table(1, kLanguageTableDelimiter);
    for (const auto& language : languages) {
        std::vector<std::string> items{language.name};
        for (const auto& [key, value] : language.items)
            items.push_back(key + "=" + value);
        std::set<char> used;
        for (const auto& item : items) {
            if (item.find(kLanguageTableDelimiter) != std::string::npos)
                throw BuildError("language " + Quoted(language.name) +
                                 ": the character 0x02 is reserved for the language table: " +
                                 Quoted(item));
            used.insert(item.begin(), item.end());
        }
        // The entry's delimiter: the first control character (after NUL, other than the
        // table's own) that none of its items holds. Printable characters are all fair game
        // in texts, so only control characters are candidates.
        char delimiter = 0;
        for (int c = 1; c < 32 && delimiter == 0; ++c)
            if (c != kLanguageTableDelimiter && used.count(static_cast<char>(c)) == 0)
                delimiter = static_cast<char>(c);
        if (delimiter == 0)
            throw BuildError("language " + Quoted(language.name) +
                             ": its texts use every control character, none is left as delimiter");
        std::string entry(1, delimiter);
        for (const auto& item : items)
            entry += item + delimiter;
        table += entry + kLanguageTableDelimiter;
    }
    CheckHeaderString(table, "the language table");
    return table;
}

std::string StoredToken(const std::string& token)
{
    if (token.empty())
        return token;
    static std::mt19937 generator(std::random_device{}());
    return ScrambleToken(token, [] { return static_cast<uint32_t>(generator()); });
}

std::string BuildUpdateList(const UpdateInfo& update)
{
    CheckListItem(update.url, "--update-url");
    CheckListItem(update.infoFile, "--info-file");
    CheckListItem(update.agentExe, "--agent-exe");
    CheckListItem(update.token, "--update-token");
    const std::string token = StoredToken(update.token);
    const std::string list = "|" + update.url + "|" + update.infoFile + "|" + update.agentExe +
                             "|" + token + "|" + (update.hidden ? "1" : "") + "|";
    CheckHeaderString(list, "the update list");
    return list;
}

std::string BuildDownloadList(const DownloadInfo& download)
{
    CheckListItem(download.url, "--download-url");
    CheckListItem(download.fileName, "--download-file");
    CheckListItem(download.token, "--download-token");
    const std::string token = StoredToken(download.token);
    if (!download.size.empty()) {
        // The stub reads the size as a 32-bit signed number.
        int64_t size = -1;
        if (download.size.find_first_not_of("0123456789") != std::string::npos ||
            !TryParseInt64(download.size, size) || size > INT32_MAX)
            throw BuildError("--download-size must be a decimal byte count up to 2147483647: " +
                             Quoted(download.size));
    }
    // The digest is a sixth item that older stubs never read; an unpinned list keeps its five.
    if (!download.sha256.empty() && PublishedSha256(download.sha256) != download.sha256)
        throw BuildError("the download's SHA-256 must be 64 lower-case hexadecimal digits: " + Quoted(download.sha256));
    const std::string list = "|" + download.url + "|" + download.fileName + "|" +
                             (download.always ? "1" : "") + "|" + token + "|" + download.size + "|" +
                             (download.sha256.empty() ? "" : download.sha256 + "|");
    CheckHeaderString(list, "the download list");
    return list;
}

DownloadInfo ResolveDownload(const DownloadRequest& request)
{
    DownloadInfo download;
    download.url = request.url;
    download.always = request.always;
    download.fileName = request.fileName.value_or("");
    download.token = request.token.value_or("");
    download.size = request.size.value_or("");
    if (!request.setup)
        return download;

    const fs::path& setup = *request.setup;
    std::error_code ec;
    if (!fs::is_regular_file(setup, ec))
        throw BuildError("download setup not found: " + PathText(setup));
    // Its size alone would not show that the file can be read.
    if (!std::ifstream(setup, std::ios::binary))
        throw BuildError("cannot open download setup " + PathText(setup));
    const uintmax_t size = fs::file_size(setup, ec);
    if (ec)
        throw BuildError("cannot read the size of download setup " + PathText(setup));

    if (!request.fileName)
        download.fileName = setup.filename().string();
    if (!request.size) {
        // The stub reads the size as a signed 32-bit number.
        if (size > kMaxFieldLength)
            throw BuildError("download setup " + PathText(setup) + " has " + std::to_string(size) +
                             " bytes; the stub takes at most 2147483647");
        download.size = std::to_string(size);
    }
    if (!request.token) {
        const TGFileInfo info(setup.string());
        if (info.DownloadToken(false).empty())
            throw BuildError("download setup " + PathText(setup) +
                             " carries no download token; build it with --download-token");
        // Every scramble reads back as the token followed by one NUL (see ScrambleToken); the
        // token is stored again in clear and scrambled with a fresh key like any other.
        std::string token = info.DownloadToken(true);
        if (token.empty() || token.back() != '\0')
            throw BuildError("the download token of download setup " + PathText(setup) + " cannot be read");
        token.pop_back();
        download.token = token;
    }
    if (request.pin)
        download.sha256 = FileSha256(setup);
    return download;
}

// --- records --------------------------------------------------------------------------------

uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1980 || year > 2107 || month < 1 || month > 12 || day < 1 || day > 31 ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 61)
        return 0;
    const auto date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
    const auto time = static_cast<uint32_t>((hour << 11) | (minute << 5) | (std::min(second, 59) / 2));
    return (date << 16) | time;
}

uint32_t FileDosDateTime(const fs::path& file)
{
    std::error_code ec;
    const auto stamp = fs::last_write_time(file, ec);
    if (ec)
        return 0;
    const auto system = std::chrono::file_clock::to_sys(stamp);
    const std::time_t seconds = std::chrono::system_clock::to_time_t(
        std::chrono::floor<std::chrono::seconds>(system));
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &seconds) != 0)
        return 0;
#else
    if (localtime_r(&seconds, &local) == nullptr)
        return 0;
#endif
    return DosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min, local.tm_sec);
}

std::string Descriptor(const std::string& name, uint32_t dosDateTime, bool isMain,
                       const std::string& mainArgs)
{
    std::string item0 = name;
    if (isMain)
        item0 += "*" + mainArgs;
    return "|" + item0 + "|" + std::to_string(dosDateTime) + "|";
}

namespace {

// Owns a deflate stream; deflateEnd runs whatever happens.
class DeflateStream {
public:
    explicit DeflateStream(int level)
    {
        const int rc = deflateInit(&stream_, level);
        if (rc != Z_OK)
            throw BuildError(std::string("zlib failed to start deflating: ") + zError(rc));
    }
    ~DeflateStream() { deflateEnd(&stream_); }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    uLong Bound(uLong sourceLength) { return deflateBound(&stream_, sourceLength); }

    // Deflates `size` bytes into `out` from `produced` on, growing `out` when it fills up.
    void Feed(const char* data, size_t size, bool finish, std::string& out, size_t& produced)
    {
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        stream_.avail_in = static_cast<uInt>(size);
        for (;;) {
            if (produced == out.size())
                out.resize(out.size() + out.size() / 8 + 65536);
            stream_.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
            stream_.avail_out = static_cast<uInt>(out.size() - produced);
            const int rc = deflate(&stream_, finish ? Z_FINISH : Z_NO_FLUSH);
            produced = out.size() - stream_.avail_out;
            if (rc == Z_STREAM_END)
                return;
            if (rc != Z_OK)
                throw BuildError(std::string("zlib failed to deflate a record: ") +
                                 (stream_.msg ? stream_.msg : zError(rc)));
            if (!finish && stream_.avail_in == 0)
                return;
        }
    }

private:
    z_stream stream_{};
};

}  // namespace

std::string EncodeRecord(const std::string& descriptor, const char* content, size_t contentSize,
                         bool store, int level)
{
    const uint64_t bodySize = uint64_t{descriptor.size()} + 1 + contentSize;
    if (bodySize > kMaxFieldLength)
        throw BuildError("a record of " + std::to_string(bodySize) + " bytes is too long");
    const std::string head = descriptor + '\0';

    std::string record;
    if (store) {
        record.reserve(4 + static_cast<size_t>(bodySize));
        PutU32LE(record, static_cast<uint32_t>(-static_cast<int64_t>(bodySize)));
        record += head;
        record.append(content, contentSize);
        return record;
    }
    // The descriptor and the content are fed as two pieces of one zlib stream, so the content
    // is never copied next to its descriptor first.
    DeflateStream stream(level);
    record.assign(4 + stream.Bound(static_cast<uLong>(bodySize)), '\0');
    size_t produced = 4;
    stream.Feed(head.data(), head.size(), false, record, produced);
    stream.Feed(content, contentSize, true, record, produced);
    const size_t packedLength = produced - 4;
    if (packedLength > kMaxFieldLength)
        throw BuildError("a deflated record of " + std::to_string(packedLength) +
                         " bytes is too long");
    record.resize(produced);
    SetU32LE(record, 0, static_cast<uint32_t>(packedLength));
    return record;
}

// --- trailer --------------------------------------------------------------------------------

std::array<uint32_t, 9> ComputeSpaceRequired(const std::vector<uint64_t>& sizes)
{
    std::array<uint32_t, 9> result{};
    for (size_t k = 0; k < result.size(); ++k) {
        const uint64_t cluster = k == 0 ? 1 : (uint64_t{256} << k);
        uint64_t total = 0;
        for (const uint64_t size : sizes) {
            if (size > UINT32_MAX)
                throw BuildError("the payload needs more than 4294967295 bytes of space");
            total += (size + cluster - 1) / cluster * cluster;
            if (total > UINT32_MAX)
                throw BuildError("the payload needs more than 4294967295 bytes of space" +
                                 std::string(k == 0 ? "" : " on volumes with clusters of " +
                                                               std::to_string(cluster) + " bytes"));
        }
        result[k] = static_cast<uint32_t>(total);
    }
    return result;
}

uint8_t FlagsByte(const ContainerFlags& flags)
{
    return static_cast<uint8_t>((flags.showTempDriveInfo ? 0x01 : 0) |
                                (flags.nextDiskFollows ? 0x02 : 0) |
                                (flags.spanCopyToTemp ? 0x04 : 0) |
                                (flags.showExtractProgress ? 0x08 : 0) |
                                (flags.agentLogFile ? 0x10 : 0));
}

std::string EncodeTrailer(const TrailerFields& fields)
{
    std::string out;
    PutU8(out, 1);                         //  0 reserved, written as 1
    PutU8(out, fields.headerCount);        //  1
    PutU16LE(out, 0);                      //  2 reserved
    PutU32LE(out, fields.headerOffset);    //  4
    PutU32LE(out, fields.filesCount);      //  8
    PutU32LE(out, kMagic);                 // 12
    PutU32LE(out, fields.checksum);        // 16
    PutU32LE(out, 0);                      // 20 reserved (8 bytes)
    PutU32LE(out, 0);
    for (const uint32_t space : fields.spaceRequired)  // 28, nine entries
        PutU32LE(out, space);
    PutU8(out, 0);                         // 64 reserved
    PutU8(out, FlagsByte(fields.flags));   // 65
    PutU8(out, fields.roles.internetSetup ? 1 : 0);    // 66
    PutU8(out, fields.roles.confirmDownload ? 1 : 0);  // 67
    PutU8(out, fields.roles.installAgent ? 1 : 0);     // 68
    PutU8(out, fields.roles.autoUpdateAgent ? 1 : 0);  // 69
    PutU32LE(out, kTrailerLength);         // 70
    return out;
}

// --- building -------------------------------------------------------------------------------

namespace {

bool IsExecutableImage(const std::string& stub)
{
    return stub.size() >= kMinStubSize && stub[0] == 'M' && stub[1] == 'Z' && stub[256] == 'P' &&
           stub[257] == 'E';
}

std::string EndOfDataBytes(uint64_t endOfData)
{
    std::string bytes;
    PutU32LE(bytes, static_cast<uint32_t>(endOfData >> 32));        // high word first
    PutU32LE(bytes, static_cast<uint32_t>(endOfData & 0xFFFFFFFF));
    return bytes;
}

const PayloadFile* FindMain(const ContainerPlan& plan)
{
    if (!plan.mainFile)
        return nullptr;
    const std::string wanted = NormaliseName(*plan.mainFile);
    for (const auto& file : plan.files)
        if (SameText(file.name, wanted))
            return &file;
    return nullptr;
}

std::string LoadStub(const ContainerPlan& plan)
{
    std::string stub = plan.stubBytes ? *plan.stubBytes : ReadWholeFile(plan.stubPath, "stub");
    const std::string what = plan.stubBytes ? std::string("the stub") : "stub " + PathText(plan.stubPath);
    if (stub.size() < kMinStubSize)
        throw BuildError(what + " has " + std::to_string(stub.size()) +
                         " bytes; a stub executable has at least 258");
    if (stub.size() > UINT32_MAX)
        throw BuildError(what + " is larger than 4294967295 bytes");
    return stub;
}

// The value of the trailer's checksum field, computed as the stub will check it: the 32-bit
// words of the written container up to just before the trailer, from offset 512 when the
// end-of-data field is set (the field itself is left out). Everything the sum covers is written
// by now; the trailer about to follow only closes it. A container over 50 MB is never compared,
// which the stored value 1234 says plainly.
uint32_t ChecksumField(const ContainerPlan& plan, ByteSink& written, uint64_t endOfData, bool executable)
{
    if (plan.checksum)
        return *plan.checksum;
    const uint64_t trailerStart = written.Position();
    if (trailerStart + kTrailerLength + plan.trailingBytes > static_cast<uint64_t>(ChecksumSizeLimit))
        return kAcceptAnyChecksum;
    const int64_t start = executable && (endOfData & 0xFFFFFFFF) != 0 ? 512 : 0;
    const ChecksumReader read = [&written](int64_t position, uint8_t* buffer, size_t n) {
        return written.ReadBack(static_cast<uint64_t>(position), buffer, n);
    };
    return ChecksumOfRegion(read, start, static_cast<int64_t>(trailerStart) - start);
}

// Reads a payload file piece by piece, so that a large file is never held in memory whole.
class PieceReader {
public:
    PieceReader(const PayloadFile& file, uint64_t expectedSize)
        : file_(file), remaining_(expectedSize), in_(file.source, std::ios::binary)
    {
        if (!in_)
            throw BuildError("cannot open payload file " + PathText(file.source));
    }

    uint64_t Remaining() const { return remaining_; }

    void Read(std::string& piece, size_t size)
    {
        piece.resize(size);
        in_.read(piece.data(), static_cast<std::streamsize>(size));
        if (static_cast<size_t>(in_.gcount()) != size)
            throw BuildError("payload file " + PathText(file_.source) +
                             " became shorter while it was read");
        remaining_ -= size;
    }

private:
    const PayloadFile& file_;
    uint64_t remaining_;
    std::ifstream in_;
};

class MemorySink : public ByteSink {
public:
    void Write(const char* data, size_t size) override { bytes_.append(data, size); }
    void Patch(uint64_t offset, const std::string& bytes) override
    {
        bytes_.replace(static_cast<size_t>(offset), bytes.size(), bytes);
    }
    uint64_t Position() const override { return bytes_.size(); }
    size_t ReadBack(uint64_t offset, uint8_t* buffer, size_t size) override
    {
        if (offset >= bytes_.size())
            return 0;
        const size_t n = std::min<size_t>(size, bytes_.size() - static_cast<size_t>(offset));
        std::copy_n(bytes_.data() + offset, n, reinterpret_cast<char*>(buffer));
        return n;
    }
    std::string Take() { return std::move(bytes_); }

private:
    std::string bytes_;
};

class FileSink : public ByteSink {
public:
    explicit FileSink(const fs::path& path)
        : path_(path), out_(path, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc)
    {
        if (!out_)
            throw BuildError("cannot create " + PathText(path));
    }
    void Write(const char* data, size_t size) override
    {
        out_.write(data, static_cast<std::streamsize>(size));
        Check();
        position_ += size;
    }
    void Patch(uint64_t offset, const std::string& bytes) override
    {
        out_.seekp(static_cast<std::streamoff>(offset));
        out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out_.seekp(static_cast<std::streamoff>(position_));
        Check();
    }
    uint64_t Position() const override { return position_; }
    size_t ReadBack(uint64_t offset, uint8_t* buffer, size_t size) override
    {
        if (offset >= position_)
            return 0;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(size, position_ - offset));
        out_.flush();
        out_.seekg(static_cast<std::streamoff>(offset));
        out_.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(n));
        const size_t got = static_cast<size_t>(out_.gcount());
        out_.clear();
        out_.seekp(static_cast<std::streamoff>(position_));
        Check();
        return got;
    }
    void Close()
    {
        out_.close();
        Check();
    }

private:
    void Check()
    {
        if (!out_)
            throw BuildError("cannot write " + PathText(path_));
    }
    fs::path path_;
    std::fstream out_;
    uint64_t position_ = 0;
};

// Removes a temporary output file unless the build got to the point of renaming it.
class TempFileGuard {
public:
    explicit TempFileGuard(fs::path path) : path_(std::move(path)) {}
    ~TempFileGuard()
    {
        if (!path_.empty()) {
            std::error_code ec;
            fs::remove(path_, ec);
        }
    }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    void Release() { path_.clear(); }

private:
    fs::path path_;
};

}  // namespace

void ValidatePlan(const ContainerPlan& plan)
{
    if (plan.level < 0 || plan.level > 9)
        throw BuildError("the compression level must be 0 to 9, not " + std::to_string(plan.level));
    if (plan.trailingBytes > 0 && !plan.writeEndOfData)
        throw BuildError("trailing bytes need the end-of-data field; drop --no-end-of-data");
    if (plan.files.size() > UINT32_MAX)
        throw BuildError("too many payload files");

    std::set<std::string> seen;
    for (const auto& file : plan.files) {
        if (file.name != NormaliseName(file.name))
            throw BuildError("payload file name " + Quoted(file.name) + " must use '\\' as separator");
        const std::string problem = RecordNameProblem(file.name);
        if (!problem.empty())
            throw BuildError("payload file name " + Quoted(file.name) + " refused: " + problem);
        // Windows file names ignore letter case: two such records would land in one file.
        if (!seen.insert(UpperCase(file.name)).second)
            throw BuildError("payload file name " + Quoted(file.name) + " appears twice");
    }
    if (plan.mainFile) {
        if (!FindMain(plan))
            throw BuildError("main file " + Quoted(*plan.mainFile) + " is not among the payload files");
        if (plan.mainArgs.find_first_of(std::string("|\0", 2)) != std::string::npos)
            throw BuildError("--main-args must not contain '|': " + Quoted(plan.mainArgs));
    } else if (!plan.mainArgs.empty()) {
        throw BuildError("main file arguments given without a main file");
    }
    if (plan.download) {
        BuildDownloadList(*plan.download);
    }
    BuildUpdateList(plan.update);
    BuildLanguageTable(plan.languages);
}

namespace {

// Sizes are taken once, before writing, so that the space table and the records agree.
std::vector<uint64_t> PayloadSizes(const ContainerPlan& plan)
{
    std::vector<uint64_t> sizes;
    for (const auto& file : plan.files) {
        std::error_code ec;
        if (!fs::is_regular_file(file.source, ec))
            throw BuildError("payload file not found: " + PathText(file.source));
        const uint64_t size = fs::file_size(file.source, ec);
        if (ec)
            throw BuildError("cannot read the size of " + PathText(file.source) + ": " + ec.message());
        if (size > kMaxFieldLength)
            throw BuildError("payload file " + PathText(file.source) +
                             " is larger than 2147483647 bytes");
        sizes.push_back(size);
    }
    return sizes;
}

void WriteHeaderStrings(const std::vector<std::string>& headers, ByteSink& sink)
{
    for (const auto& header : headers) {
        std::string count;
        PutU32LE(count, static_cast<uint32_t>(header.size()));
        sink.Write(count.data(), count.size());
        sink.Write(header.data(), header.size());
    }
}

// Writes the records of every payload file and returns their number. Each file is read in
// pieces of at most the piece size, one record per piece, all with the same descriptor: the
// stub appends a record to the file it names when that file exists already. A setup spread
// over several disk files would cut this sequence between records, each disk file being a
// container of its own.
uint64_t RecordPieceLimit(const ContainerPlan& plan)
{
    return plan.chunkSize > 0 ? std::min(kMaxRecordContent, plan.chunkSize) : kMaxRecordContent;
}

// The number of file records the payload makes: one per piece, and one for an empty file.
uint32_t CountRecords(const ContainerPlan& plan, const std::vector<uint64_t>& sizes)
{
    const uint64_t limit = RecordPieceLimit(plan);
    uint64_t records = 0;
    for (const uint64_t size : sizes)
        records += size == 0 ? 1 : (size + limit - 1) / limit;
    if (records > UINT32_MAX)
        throw BuildError("too many file records");
    return static_cast<uint32_t>(records);
}

// Hands every encoded record to `take`, file by file, piece by piece.
void ForEachRecord(const ContainerPlan& plan, const std::vector<uint64_t>& sizes,
                   const std::function<void(const std::string&)>& take)
{
    const PayloadFile* mainFile = FindMain(plan);
    const uint64_t pieceLimit = RecordPieceLimit(plan);
    std::string piece;
    for (size_t i = 0; i < plan.files.size(); ++i) {
        const PayloadFile& file = plan.files[i];
        const uint32_t stamp = plan.dates ? FileDosDateTime(file.source) : 0;
        const std::string descriptor = Descriptor(file.name, stamp, &file == mainFile, plan.mainArgs);
        PieceReader reader(file, sizes[i]);
        // An empty file still gets its one record, which creates it.
        do {
            reader.Read(piece, static_cast<size_t>(std::min(reader.Remaining(), pieceLimit)));
            take(EncodeRecord(descriptor, piece.data(), piece.size(), plan.store, plan.level));
        } while (reader.Remaining() > 0);
    }
}

// Stands in for a certificate table added after the build. The pattern avoids zeros so that a
// reader ignoring the end-of-data field would not find a plausible trailer length.
void WriteFiller(uint64_t size, ByteSink& sink)
{
    std::string filler;
    for (uint64_t left = size; left > 0;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, 65536));
        filler.assign(n, '\xA5');
        sink.Write(filler.data(), filler.size());
        left -= n;
    }
}

}  // namespace

namespace {

// What every container of a build shares: the stub, the header strings and the trailer fields
// that describe the whole payload.
struct ContainerParts {
    std::string stub;
    bool executable = false;
    std::vector<std::string> headers;
    std::vector<uint64_t> sizes;
    TrailerFields trailer;
};

ContainerParts PrepareContainer(const ContainerPlan& plan)
{
    ValidatePlan(plan);
    ContainerParts parts;
    parts.stub = LoadStub(plan);
    parts.executable = IsExecutableImage(parts.stub);
    if (parts.executable) {
        // A nonzero field means the stub already carries a container (or uses these bytes
        // for something else): appending a second one would hide or damage it.
        if (parts.stub.compare(kEndOfDataHighOffset, 8, std::string(8, '\0')) != 0)
            throw BuildError("the stub's end-of-data field (bytes 248-255) is not zero; is it an "
                             "already built setup?");
    } else if (plan.trailingBytes > 0) {
        throw BuildError("trailing bytes need the end-of-data field, which only an executable "
                         "stub (MZ at 0, PE at 256) has");
    }
    parts.headers = {BuildLanguageTable(plan.languages), BuildUpdateList(plan.update)};
    if (plan.download)
        parts.headers.push_back(BuildDownloadList(*plan.download));
    parts.sizes = PayloadSizes(plan);
    parts.trailer.spaceRequired = ComputeSpaceRequired(parts.sizes);
    parts.trailer.headerCount = plan.headerCountByte.value_or(static_cast<uint8_t>(parts.headers.size()));
    parts.trailer.flags = plan.flags;
    parts.trailer.roles = plan.roles;
    parts.trailer.filesCount = CountRecords(plan, parts.sizes);
    return parts;
}

// Starts one container: the stub image (when it has one) and the header strings.
void BeginContainer(const ContainerParts& parts, bool withStub, ByteSink& sink)
{
    if (withStub)
        sink.Write(parts.stub.data(), parts.stub.size());
    WriteHeaderStrings(parts.headers, sink);
}

// Closes one container: the end-of-data field, the checksum over what was written, the trailer
// and the filler after it.
BuildSummary FinishContainer(const ContainerPlan& plan, const ContainerParts& parts, bool withStub,
                             TrailerFields trailer, ByteSink& sink)
{
    BuildSummary summary;
    summary.headerOffset = withStub ? parts.stub.size() : 0;
    summary.headerCount = static_cast<uint32_t>(parts.headers.size());
    summary.fileRecords = trailer.filesCount;
    trailer.headerOffset = static_cast<uint32_t>(summary.headerOffset);
    const bool executable = withStub && parts.executable;
    // The field is written even when it stays 0, which tells the stub that the trailer ends
    // the file. It goes in before the checksum, which covers the stub image.
    if (executable) {
        const uint64_t endOfData = plan.writeEndOfData ? sink.Position() + kTrailerLength : 0;
        sink.Patch(kEndOfDataHighOffset, EndOfDataBytes(endOfData));
        summary.endOfData = endOfData;
    }
    trailer.checksum = ChecksumField(plan, sink, summary.endOfData, executable);
    summary.checksum = trailer.checksum;
    const std::string trailerBytes = EncodeTrailer(trailer);
    sink.Write(trailerBytes.data(), trailerBytes.size());
    if (executable)
        WriteFiller(plan.trailingBytes, sink);
    summary.outputSize = sink.Position();
    return summary;
}

// A file written through a temporary name beside it, renamed when complete.
class OutputFile {
public:
    explicit OutputFile(fs::path path) : path_(std::move(path)), temp_(path_.string() + ".part"), guard_(temp_),
                                         sink_(temp_) {}
    ByteSink& Sink() { return sink_; }
    void Commit()
    {
        sink_.Close();
        std::error_code ec;
        fs::rename(temp_, path_, ec);
        if (ec)
            throw BuildError("cannot rename " + PathText(temp_) + " to " + PathText(path_) + ": " + ec.message());
        guard_.Release();
    }

private:
    fs::path path_;
    fs::path temp_;
    TempFileGuard guard_;
    FileSink sink_;
};

void CheckOutputPath(const ContainerPlan& plan, const fs::path& output)
{
    std::error_code ec;
    if (output.empty())
        throw BuildError("no output file given");
    if (fs::is_directory(output, ec))
        throw BuildError("output " + PathText(output) + " is a folder");
    const fs::path folder = output.parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec))
        throw BuildError("output folder not found: " + PathText(folder));
    if (!plan.stubBytes && fs::exists(output, ec) && fs::equivalent(output, plan.stubPath, ec))
        throw BuildError("output " + PathText(output) + " is the stub itself");
    for (const auto& file : plan.files)
        if (fs::exists(output, ec) && fs::equivalent(output, file.source, ec))
            throw BuildError("output " + PathText(output) + " is one of the payload files");
}

// A payload split over disk files: records go to the current disk until the next one would
// pass the disk size; each disk is finished (NextDiskFollows set) when the next one starts.
BuildSummary WriteSpannedFiles(const ContainerPlan& plan, const fs::path& output)
{
    const ContainerParts parts = PrepareContainer(plan);
    BuildSummary first;
    uint32_t disks = 0;
    if (plan.separateLauncher) {
        // The launcher runs from the first disk and copies itself to the temporary folder before
        // unpacking, so that the disk can be changed; it carries no payload itself.
        OutputFile launcher(output);
        BeginContainer(parts, true, launcher.Sink());
        TrailerFields trailer = parts.trailer;
        trailer.flags.spanCopyToTemp = true;
        trailer.flags.nextDiskFollows = false;
        trailer.filesCount = 0;
        first = FinishContainer(plan, parts, true, trailer, launcher.Sink());
        launcher.Commit();
    }

    std::unique_ptr<OutputFile> disk;
    uint64_t recordsOnDisk = 0;
    const auto diskPath = [&](uint32_t number) {
        return OutputFiles(plan, output, number).back();
    };
    const auto startDisk = [&] {
        ++disks;
        disk = std::make_unique<OutputFile>(diskPath(disks));
        BeginContainer(parts, disks == 1, disk->Sink());
        recordsOnDisk = 0;
    };
    const auto finishDisk = [&](bool more) {
        TrailerFields trailer = parts.trailer;
        trailer.flags.nextDiskFollows = more;
        const BuildSummary summary = FinishContainer(plan, parts, disks == 1, trailer, disk->Sink());
        if (disks == 1 && !plan.separateLauncher)
            first = summary;
        disk->Commit();
        disk.reset();
    };
    startDisk();
    ForEachRecord(plan, parts.sizes, [&](const std::string& record) {
        if (recordsOnDisk > 0 && disk->Sink().Position() + record.size() + kTrailerLength > plan.diskSize) {
            finishDisk(true);
            startDisk();
        }
        disk->Sink().Write(record.data(), record.size());
        ++recordsOnDisk;
    });
    finishDisk(false);
    first.disks = disks;
    first.fileRecords = parts.trailer.filesCount;
    return first;
}

}  // namespace

BuildSummary WriteContainer(const ContainerPlan& plan, ByteSink& sink)
{
    if (plan.diskSize > 0)
        throw BuildError("a payload split over disk files is written with WriteContainerFile");
    const ContainerParts parts = PrepareContainer(plan);
    BeginContainer(parts, true, sink);
    ForEachRecord(plan, parts.sizes, [&sink](const std::string& record) { sink.Write(record.data(), record.size()); });
    return FinishContainer(plan, parts, true, parts.trailer, sink);
}

std::vector<fs::path> OutputFiles(const ContainerPlan& plan, const fs::path& output, size_t disks)
{
    std::vector<fs::path> files;
    if (plan.diskSize == 0)
        return {output};
    if (plan.separateLauncher)
        files.push_back(output);
    for (size_t k = 1; k <= disks; ++k) {
        if (k == 1 && !plan.separateLauncher) {
            files.push_back(output);
            continue;
        }
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%03u", static_cast<unsigned>(k));
        files.push_back(output.string() + suffix);
    }
    return files;
}

std::string BuildContainer(const ContainerPlan& plan, BuildSummary* summary)
{
    MemorySink sink;
    const BuildSummary result = WriteContainer(plan, sink);
    if (summary)
        *summary = result;
    return sink.Take();
}

BuildSummary WriteContainerFile(const ContainerPlan& plan, const fs::path& output)
{
    CheckOutputPath(plan, output);
    if (plan.diskSize > 0)
        return WriteSpannedFiles(plan, output);
    OutputFile file(output);
    const BuildSummary summary = WriteContainer(plan, file.Sink());
    file.Commit();
    return summary;
}

}  // namespace builder
