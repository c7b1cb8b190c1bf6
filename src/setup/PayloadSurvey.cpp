#include "setup/PayloadSurvey.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "pack/PackX.h"
#include "pack/UnPackRules.h"
#include "util/BinFile.h"

namespace {

constexpr size_t kPiece = 65536;

// Reads the start of one record body until its descriptor is complete; true when the descriptor
// marks the main file. A body that does not inflate throws EZLibError.
bool DescriptorMarksMain(BinFile& file, int64_t bodyStart, int64_t bodyLength, bool packed)
{
    bool seen = false;
    bool main = false;
    uint64_t plain = 0;
    RecordBodySplitter splitter(
        [&](const std::string& text) {
            seen = true;
            main = !text.empty() && !ParseDescriptor(text).mainText.empty();
        },
        [](const char*, size_t) {});
    const auto feedPlain = [&](const char* data, size_t size) {
        plain += size;
        if (!seen)
            splitter.Feed(data, size);
    };
    std::unique_ptr<RecordInflater> inflater;
    if (packed)
        inflater = std::make_unique<RecordInflater>(kPiece);
    std::vector<char> piece(kPiece);
    int64_t position = bodyStart;
    const int64_t end = bodyStart + bodyLength;
    // A descriptor longer than the splitter takes is dropped there, so reading stops after it.
    while (position < end && !seen && plain <= RecordBodySplitter::MaxDescriptor + 1) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(end - position, static_cast<int64_t>(kPiece)));
        if (!file.ReadAt(position, piece.data(), n))
            return false;
        position += static_cast<int64_t>(n);
        if (inflater)
            inflater->Feed(reinterpret_cast<const uint8_t*>(piece.data()), n, feedPlain);
        else
            feedPlain(piece.data(), n);
    }
    return main;
}

// One disk file: false when it is not a container or a record reaches beyond its records' end
// (the walk the unpacking makes, with its limits). `nextFollows` tells whether the chain goes on.
bool SurveyDisk(const std::string& path, PayloadSurvey& survey, bool& nextFollows)
{
    nextFollows = false;
    BinFile file(path);
    ContainerTrailer trailer;
    int64_t trailerStart = 0;
    if (!file.IsOpen() || !ReadTrailer("", &file, trailer, &trailerStart) || trailer.Magic != ContainerMagic)
        return false;
    int64_t end = file.Size();
    if (IsExeFile("", &file)) {
        const uint64_t eod = ReadEndOfData(file);
        if (eod > 0)
            end = static_cast<int64_t>(eod);
    }
    RecordWalkCallbacks walk;
    walk.readAt = [&file](int64_t position, uint8_t* buffer, size_t n) { return file.ReadAt(position, buffer, n); };
    walk.fileRecord = [&](int64_t bodyStart, int64_t bodyLength, bool packed) {
        if (!survey.hasMainFile && bodyLength > 0)
            survey.hasMainFile = DescriptorMarksMain(file, bodyStart, bodyLength, packed);
    };
    int64_t headerEnd = 0;
    if (WalkRecords(walk, trailer.HeaderOffset, trailerStart, end, trailer.HeaderCount, headerEnd) ==
        RecordWalk::Damaged)
        return false;
    nextFollows = (trailer.Flags & FlagNextDiskFollows) != 0;
    return true;
}

}  // namespace

PayloadSurvey SurveyPayload(const std::string& containerFile)
{
    PayloadSurvey survey;
    const std::string base = DiskBaseName(containerFile);
    std::string current = containerFile;
    // A chain longer than three-digit disk numbers can name is no sound chain either.
    for (int disk = 1; disk <= 999; ++disk) {
        bool nextFollows = false;
        try {
            if (!FileReadable(current) || !SurveyDisk(current, survey, nextFollows))
                return survey;
        } catch (const EZLibError&) {
            return survey;
        }
        if (!nextFollows) {
            survey.complete = true;
            return survey;
        }
        current = DiskFileName(base, disk + 1);
    }
    return survey;
}

bool UnpackingFellShort(const PayloadSurvey& survey)
{
    return !survey.complete || survey.hasMainFile;
}
