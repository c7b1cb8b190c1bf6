#pragma once
// The portable rules of payload unpacking: disk file names, record descriptors, the streaming
// inflate of a record and the split of its body into descriptor and content. The Win32 side
// (UnPack.h) reads the disk files, writes the files and talks to the user.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <utility>

struct ContainerTrailer;
class TGFileInfo;

// A payload record that does not inflate; carries zlib's message. The only error that leaves
// the unpacking for its caller. It keeps its text itself: the standard library's runtime_error
// would bring a second, reference-counted string implementation into every stub.
class EZLibError : public std::exception {
public:
    explicit EZLibError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// The first disk file's name without a final ".001"; disk k is that base, ".", k in three digits.
std::string DiskBaseName(const std::string& firstDiskFile);
std::string DiskFileName(const std::string& base, int disk);

// A record's descriptor: the list '|NAME|DOSDATETIME|', NAME with "*" and the main file's
// arguments for the file that the launcher starts. A descriptor that is no "|" list names no
// file (an empty name, which no file may have) and no main file; a date that names no real
// moment is no date.
struct FileDescriptor {
    std::string name;      // relative to the destination folder, "*" and arguments cut off
    uint32_t dosDate = 0;  // 0: leave the file's date
    std::string mainText;  // set for the main file: item 0 with its "*" and arguments
};
FileDescriptor ParseDescriptor(const std::string& descriptor);

// A DOS date-time (date in the high 16 bits, time in the low 16 bits) that names a real moment:
// a month 1 to 12, a day that month has in that year, hours below 24, minutes below 60 and
// seconds below 60.
bool DosDateTimeValid(uint32_t dosDateTime);

// The bytes of file content a container declares: the sum of its payload files' sizes (the
// first SpaceRequired entry of its trailer). An unpacking that meets more content than that is
// reading a damaged container and stops, so that a damaged or hostile record cannot fill the
// disk. No limit (UINT64_MAX) for a trailer of an older layout too short to hold the entry.
uint64_t DeclaredContentSize(const ContainerTrailer& trailer);

// The disk files of one setup all carry its header strings and the sizes of its whole payload;
// a disk file with other ones belongs to another setup (another product, another build).
bool SameSetup(const TGFileInfo& first, const TGFileInfo& disk);

// The agent copy is made when an agent name is given and the container's name ends in ".exe"
// or ".exe.001" (letter case ignored).
bool AgentCopyWanted(const std::string& agentName, const std::string& containerFile);
// The agent name reduced to its file name.
std::string AgentFileName(const std::string& agentName);

// The detail text of a failed write, in markup.
std::string ExtractErrorDetailsText(const std::string& systemText, uint64_t dataSize, int64_t fileSize,
                                    double bytesFree);

using ByteSinkFn = std::function<void(const char* data, size_t size)>;
class RecordBodySplitter;
// Reads up to n bytes of a record body in order; returns the count read (0: no more).
using BodyReaderFn = std::function<size_t(char* buffer, size_t n)>;

// The record walk of one disk file: records from `start` on, each a signed 32-bit length and a
// body (positive: zlib, negative: stored), while more than 74 bytes remain before `dataEnd`.
// The first `headerCount` records are the header strings. Every record must end by
// `recordsEnd` (the trailer's start); one that does not makes the file Damaged, so that a bad
// length is neither waited for nor taken for a complete payload. Stopped: a file record's
// callback said not to go on.
enum class RecordWalk { Done, Damaged, Stopped };
struct RecordWalkCallbacks {
    // Reads n bytes at a position; false when they are not all there.
    std::function<bool(int64_t position, uint8_t* buffer, size_t n)> readAt;
    // A file record: its body starts at `bodyStart`, `bodyLength` bytes, deflated when `packed`.
    // False stops the walk.
    std::function<bool(int64_t bodyStart, int64_t bodyLength, bool packed)> fileRecord;
    // Before each record: a chance to handle window messages.
    std::function<void()> beforeRecord;
};
// `headerEnd` receives the position after the last header string (0 when never reached).
RecordWalk WalkRecords(const RecordWalkCallbacks& callbacks, int64_t start, int64_t recordsEnd, int64_t dataEnd,
                       int headerCount, int64_t& headerEnd);

// Streams one record body through the inflater (when packed) and the descriptor split. Throws
// EZLibError for a body that does not inflate, or that ends before `bodyLength` bytes. False
// when the content went beyond the splitter's limit: the rest of the body is not read.
bool StreamRecordBody(const BodyReaderFn& read, int64_t bodyLength, bool packed, RecordBodySplitter& splitter,
                      size_t pieceSize = 65536);

// Inflates one zlib record body fed in pieces, handing the output on in pieces of at most
// `pieceSize` bytes, so a record of any size needs only two small buffers. Throws EZLibError.
class RecordInflater {
public:
    explicit RecordInflater(size_t pieceSize = 65536);
    ~RecordInflater();
    RecordInflater(const RecordInflater&) = delete;
    RecordInflater& operator=(const RecordInflater&) = delete;

    void Feed(const uint8_t* data, size_t size, const ByteSinkFn& out);
    // All input is in: the stream must have ended.
    void Finish();
    uint64_t TotalOut() const { return stream_.total_out; }

private:
    [[noreturn]] void Fail(int code);
    z_stream stream_{};
    std::string piece_;
    bool ended_ = false;
};

// Splits a record's plain body, fed in pieces, at its first NUL: the text before it is the
// descriptor, everything after it the content. A body without a NUL, or whose descriptor is
// longer than any file name can be, has no descriptor and its content is dropped. Content
// beyond `contentLimit` bytes is not handed on: the splitter has overflowed.
class RecordBodySplitter {
public:
    static constexpr size_t MaxDescriptor = 65536;

    // `onDescriptor` runs once, when the descriptor is complete; `onContent` for every piece of
    // content after it, up to `contentLimit` bytes in all.
    RecordBodySplitter(std::function<void(const std::string&)> onDescriptor, ByteSinkFn onContent,
                       uint64_t contentLimit = UINT64_MAX);
    void Feed(const char* data, size_t size);
    bool HasDescriptor() const { return state_ == State::Content || state_ == State::Overflowed; }
    // Content bytes handed on (never more than the limit).
    uint64_t ContentSize() const { return contentSize_; }
    bool Overflowed() const { return state_ == State::Overflowed; }

private:
    enum class State { Descriptor, Content, Dropped, Overflowed };
    std::function<void(const std::string&)> onDescriptor_;
    ByteSinkFn onContent_;
    uint64_t contentLimit_;
    State state_ = State::Descriptor;
    std::string descriptor_;
    uint64_t contentSize_ = 0;
};
