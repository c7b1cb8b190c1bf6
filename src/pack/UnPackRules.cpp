#include "pack/UnPackRules.h"

#include <memory>

#include "pack/PackX.h"
#include "util/PathText.h"
#include "util/USUB.h"
#include "util/Utils.h"

std::string DiskBaseName(const std::string& firstDiskFile)
{
    if (firstDiskFile.size() >= 4 && firstDiskFile.compare(firstDiskFile.size() - 4, 4, ".001") == 0)
        return firstDiskFile.substr(0, firstDiskFile.size() - 4);
    return firstDiskFile;
}

std::string DiskFileName(const std::string& base, int disk)
{
    return base + "." + ZeroPad(disk, 3);
}

FileDescriptor ParseDescriptor(const std::string& descriptor)
{
    FileDescriptor result;
    // Read as a list with another first character as its delimiter, such a descriptor would
    // name whatever file its bytes happen to spell.
    if (descriptor.empty() || descriptor.front() != '|')
        return result;
    if (descriptor.find('*') != std::string::npos)
        result.mainText = descriptor;
    std::string item0 = SUB::Item(descriptor, 0, "");
    const int64_t date = StrToInt64Def(SUB::Item(descriptor, 1, ""), 0);
    result.dosDate = date > 0 && date <= 0xFFFFFFFFLL && DosDateTimeValid(static_cast<uint32_t>(date))
                         ? static_cast<uint32_t>(date)
                         : 0;
    const size_t star = item0.find('*');
    if (star != std::string::npos) {
        result.mainText = item0;
        item0.erase(star);
    }
    result.name = item0;
    return result;
}

bool DosDateTimeValid(uint32_t dosDateTime)
{
    const uint32_t date = dosDateTime >> 16;
    const uint32_t time = dosDateTime & 0xFFFF;
    const uint32_t year = 1980 + (date >> 9);
    const uint32_t month = (date >> 5) & 0x0F;
    const uint32_t day = date & 0x1F;
    const uint32_t hours = time >> 11;
    const uint32_t minutes = (time >> 5) & 0x3F;
    const uint32_t seconds = (time & 0x1F) * 2;
    if (month < 1 || month > 12 || day < 1 || hours > 23 || minutes > 59 || seconds > 59)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    static const uint32_t days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return day <= days[month - 1] + (month == 2 && leap ? 1 : 0);
}

uint64_t DeclaredContentSize(const ContainerTrailer& trailer)
{
    // ReadTrailer keeps the trailer's length in TrailerLength; the entry ends at byte 32, and
    // the length field takes the last four bytes of what was stored.
    constexpr uint32_t entryEnd = 28 + 4;
    if (trailer.TrailerLength < entryEnd + 4)
        return UINT64_MAX;
    return trailer.SpaceRequired[0];
}

bool SameSetup(const TGFileInfo& first, const TGFileInfo& disk)
{
    return first.LanguageTable() == disk.LanguageTable() && first.UpdateList() == disk.UpdateList() &&
           first.DownloadList() == disk.DownloadList() && first.Trailer().HeaderCount == disk.Trailer().HeaderCount &&
           first.Trailer().SpaceRequired == disk.Trailer().SpaceRequired;
}

std::string AgentFileName(const std::string& agentName)
{
    return FileNamePart(agentName);
}

bool AgentCopyWanted(const std::string& agentName, const std::string& containerFile)
{
    return !AgentFileName(agentName).empty() &&
           (EndsWith(".exe", containerFile, true) || EndsWith(".exe.001", containerFile, true));
}

std::string ExtractErrorDetailsText(const std::string& systemText, uint64_t dataSize, int64_t fileSize,
                                    double bytesFree)
{
    return systemText + "<P>" + "  Data Size: <T>" + std::to_string(dataSize) + " Bytes<P>" + "  File Size:  <T>" +
           std::to_string(fileSize) + " Bytes<P>" + "  Bytes Free: <T>" + FixedDecimals(bytesFree, 0) + " Bytes";
}

RecordInflater::RecordInflater(size_t pieceSize) : piece_(pieceSize, '\0')
{
    const int code = inflateInit(&stream_);
    if (code != Z_OK)
        Fail(code);
}

RecordInflater::~RecordInflater()
{
    inflateEnd(&stream_);
}

void RecordInflater::Fail(int code)
{
    const std::string message = stream_.msg ? stream_.msg : zError(code);
    throw EZLibError(message);
}

void RecordInflater::Feed(const uint8_t* data, size_t size, const ByteSinkFn& out)
{
    if (ended_)
        return;  // bytes after the end of the stream belong to no file
    stream_.next_in = const_cast<Bytef*>(data);
    stream_.avail_in = static_cast<uInt>(size);
    while (stream_.avail_in > 0 || stream_.avail_out == 0) {
        stream_.next_out = reinterpret_cast<Bytef*>(piece_.data());
        stream_.avail_out = static_cast<uInt>(piece_.size());
        const int code = inflate(&stream_, Z_NO_FLUSH);
        const size_t produced = piece_.size() - stream_.avail_out;
        if (produced > 0)
            out(piece_.data(), produced);
        if (code == Z_STREAM_END) {
            ended_ = true;
            return;
        }
        if (code == Z_BUF_ERROR && stream_.avail_in == 0)
            return;  // wants more input
        if (code != Z_OK)
            Fail(code);
    }
}

void RecordInflater::Finish()
{
    if (!ended_)
        Fail(Z_BUF_ERROR);  // the record ended in the middle of its stream
}

RecordBodySplitter::RecordBodySplitter(std::function<void(const std::string&)> onDescriptor, ByteSinkFn onContent,
                                       uint64_t contentLimit)
    : onDescriptor_(std::move(onDescriptor)), onContent_(std::move(onContent)), contentLimit_(contentLimit)
{
}

void RecordBodySplitter::Feed(const char* data, size_t size)
{
    if (state_ == State::Descriptor) {
        size_t nul = 0;
        while (nul < size && data[nul] != '\0')
            ++nul;
        descriptor_.append(data, nul);
        if (descriptor_.size() > MaxDescriptor) {
            state_ = State::Dropped;
            return;
        }
        if (nul == size)
            return;
        state_ = State::Content;
        onDescriptor_(descriptor_);
        data += nul + 1;
        size -= nul + 1;
    }
    if (state_ == State::Content && size > 0) {
        size_t taken = size;
        if (size > contentLimit_ - contentSize_) {
            taken = static_cast<size_t>(contentLimit_ - contentSize_);
            state_ = State::Overflowed;
        }
        contentSize_ += taken;
        if (taken > 0)
            onContent_(data, taken);
    }
}

RecordWalk WalkRecords(const RecordWalkCallbacks& callbacks, int64_t start, int64_t recordsEnd, int64_t dataEnd,
                       int headerCount, int64_t& headerEnd)
{
    headerEnd = 0;
    int64_t position = start;
    int recordNumber = 0;
    do {
        if (callbacks.beforeRecord)
            callbacks.beforeRecord();
        uint8_t lengthRaw[4] = {};
        if (position < 0 || position + 4 > recordsEnd || !callbacks.readAt(position, lengthRaw, 4))
            return RecordWalk::Damaged;
        const auto length = static_cast<int32_t>(static_cast<uint32_t>(lengthRaw[0]) |
                                                 static_cast<uint32_t>(lengthRaw[1]) << 8 |
                                                 static_cast<uint32_t>(lengthRaw[2]) << 16 |
                                                 static_cast<uint32_t>(lengthRaw[3]) << 24);
        const int64_t bodyLength = length < 0 ? -static_cast<int64_t>(length) : length;
        if (position + 4 + bodyLength > recordsEnd)
            return RecordWalk::Damaged;
        position += 4 + bodyLength;
        ++recordNumber;
        if (recordNumber == headerCount)
            headerEnd = position;
        if (recordNumber > headerCount && callbacks.fileRecord &&
            !callbacks.fileRecord(position - bodyLength, bodyLength, length > 0))
            return RecordWalk::Stopped;
    } while (dataEnd - position > 74);
    return RecordWalk::Done;
}

bool StreamRecordBody(const BodyReaderFn& read, int64_t bodyLength, bool packed, RecordBodySplitter& splitter,
                      size_t pieceSize)
{
    std::unique_ptr<RecordInflater> inflater;
    if (packed)
        inflater = std::make_unique<RecordInflater>(pieceSize);
    std::string piece(pieceSize, '\0');
    int64_t left = bodyLength;
    while (left > 0) {
        const size_t n = static_cast<size_t>(left < static_cast<int64_t>(pieceSize) ? left : static_cast<int64_t>(pieceSize));
        if (read(piece.data(), n) != n)
            throw EZLibError("unexpected end of file");
        left -= static_cast<int64_t>(n);
        if (inflater)
            inflater->Feed(reinterpret_cast<const uint8_t*>(piece.data()), n,
                           [&splitter](const char* data, size_t size) { splitter.Feed(data, size); });
        else
            splitter.Feed(piece.data(), n);
        // Once the content is beyond what the payload declares, the rest is neither read nor
        // inflated: a few megabytes of zeros can inflate to gigabytes. One piece of input
        // inflates to at most about a thousand times its size, so the overflow costs that at most.
        if (splitter.Overflowed())
            return false;
    }
    if (inflater)
        inflater->Finish();
    return true;
}
