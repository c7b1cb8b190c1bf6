#include <windows.h>

#include "pack/UnPack.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "pack/ContainerChecksum.h"
#include "pack/PackX.h"
#include "pack/RecordName.h"
#include "ui/UMsgBox.h"
#include "util/BinFile.h"
#include "util/Files.h"
#include "util/Handles.h"
#include "util/UDebug.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

constexpr size_t kPiece = 65536;

// Failed writes of the whole process: only the first one is shown, so that a full disk gives
// one message instead of one per file.
int g_failedWrites = 0;

void ShowUnpackError(const std::string& text)
{
    ShowError(0, text, "", "", 0);
}

// Appends one record's content to its target file, remembering the first failure.
class TargetWriter {
public:
    explicit TargetWriter(const std::string& target)
        : target_(target),
          file_(CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
        LARGE_INTEGER zero{};
        if (!file_ || !SetFilePointerEx(file_.Get(), zero, nullptr, FILE_END))
            Fail();
    }

    void Write(const char* data, size_t size)
    {
        written_ += size;
        if (failed_)
            return;
        DWORD done = 0;
        if (!WriteFile(file_.Get(), data, static_cast<DWORD>(size), &done, nullptr) || done != size)
            Fail();
    }

    // Closes the file, dating it when everything was written. True when it was.
    bool Close(uint32_t dosDate)
    {
        if (!failed_ && dosDate != 0)
            SetFileDosDate(file_.Get(), dosDate);
        file_.Reset();
        return !failed_;
    }

    const std::string& ErrorText() const { return errorText_; }
    uint64_t Written() const { return written_; }

private:
    void Fail()
    {
        if (!failed_)
            errorText_ = LastErrorText();  // right away, before another call changes the code
        failed_ = true;
    }

    std::string target_;
    UniqueFile file_;
    bool failed_ = false;
    std::string errorText_;
    uint64_t written_ = 0;
};

void ReportFailedWrite(const std::string& target, const std::string& details)
{
    if (++g_failedWrites == 1)
        ShowUnpackError(target + "<P><P>Unable to save Extracted File!<P><P>" + details);
}

// One file record: streams its body through the inflater (when packed) and the descriptor split
// into the target file. `mainFile` is set when the record marks the main file. `contentLeft` is
// what the payload may still deliver; false when the record went beyond it (then only what fits
// has been written).
bool UnpackRecord(BinFile& file, int64_t bodyLength, bool packed, const std::string& destFolder,
                  const ProgressFn& progress, std::string& mainFile, uint64_t& contentLeft)
{
    std::unique_ptr<TargetWriter> writer;
    std::string target;
    std::string refused;
    FileDescriptor descriptor;
    RecordBodySplitter splitter(
        [&](const std::string& text) {
            if (text.empty())
                return;  // an empty descriptor marks no file
            descriptor = ParseDescriptor(text);
            if (!descriptor.mainText.empty())
                mainFile = descriptor.mainText;
            target = destFolder + "\\" + descriptor.name;
            refused = RecordNameProblem(descriptor.name);
            if (!refused.empty())
                return;  // never written: the name would land outside the folder or on a device
            if (GetFileAttributesA(target.c_str()) == INVALID_FILE_ATTRIBUTES) {
                progress(1, 0, 0, 0);
                // Names may hold folders; they are made inside the destination only.
                const size_t cut = target.find_last_of("\\/");
                ForceDirectories(target.substr(0, cut));
            }
            writer = std::make_unique<TargetWriter>(target);
        },
        [&](const char* data, size_t size) {
            if (writer)
                writer->Write(data, size);
        },
        contentLeft);

    const bool withinDeclared = StreamRecordBody([&file](char* buffer, size_t n) { return ReadBlock(file, buffer, n); },
                                                 bodyLength, packed, splitter, kPiece);
    contentLeft -= splitter.ContentSize();
    if (!withinDeclared) {
        if (writer)
            writer->Close(0);
        return false;
    }

    if (!refused.empty()) {
        ReportFailedWrite(target, "The file name is not allowed: " + refused + ".");
        return true;
    }
    if (!writer)
        return true;
    if (!writer->Close(descriptor.dosDate))
        ReportFailedWrite(target, ExtractErrorDetailsText(writer->ErrorText(), writer->Written(),
                                                          FileSizeByName(target), DiskFreeBytes(target)));
    return true;
}

// The executable image and header strings of disk 1, marked as a payload-free agent.
void WriteAgentCopy(BinFile& file, const std::string& containerFile, uint64_t headerEnd, const std::string& destFolder,
                    const std::string& agentName)
{
    ContainerTrailer trailer;
    if (headerEnd == 0 || !ReadTrailer("", &file, trailer) || !RecordNameProblem(agentName).empty())
        return;
    std::string image(static_cast<size_t>(headerEnd), '\0');
    if (!file.ReadAt(0, image.data(), image.size()))
        return;
    if (image.size() >= static_cast<size_t>(EndOfDataOffset) + 8)
        PutLE32(reinterpret_cast<uint8_t*>(&image[static_cast<size_t>(EndOfDataOffset) + 4]), 0);
    trailer.ThisIs_AutoUpdateProg = 1;
    trailer.TrailerLength = TrailerSize;
    const auto raw = EncodeTrailer(trailer);
    image.append(reinterpret_cast<const char*>(raw.data()), raw.size());
    const std::string path = destFolder + "\\" + agentName;
    WriteTextFile(path, image, FileDosDate(containerFile), false);
    TracePid(" New AU-Agent: " + path);
}

enum class DiskOutcome { Done, BadChecksum, Damaged };

DiskOutcome UnpackDisk(const std::string& current, int disk, const std::string& destFolder,
                       const std::string& agentExeName, bool& checksumOk, const ProgressFn& progress,
                       ContainerTrailer& trailer, std::string& mainFile, uint64_t& contentLeft)
{
    int64_t trailerStart = 0;
    BinFile file(current);
    const bool located = ReadTrailer("", &file, trailer, &trailerStart);
    if (disk == 1)
        TraceLine("FileInfo.FilesCount=" + IntToStr(trailer.FilesCount));
    // A disk file without a trailer (cut short, or no setup file at all) holds nothing that
    // could be checked or read.
    if (!located)
        return DiskOutcome::Damaged;

    checksumOk = ChecksumAccepted(ContainerChecksum(current, trailer.TrailerLength), trailer.Checksum);
    if (!checksumOk)
        return DiskOutcome::BadChecksum;

    int64_t end = file.Size();
    if (IsExeFile("", &file)) {
        const uint64_t eod = ReadEndOfData(file);
        if (eod > 0)
            end = static_cast<int64_t>(eod);
    }
    TraceLine("FileLen=" + IntToStr(end));
    // The disk file of a setup that the chain needs: without its payload the setup is incomplete.
    if (trailer.Magic != ContainerMagic)
        return DiskOutcome::Damaged;

    int64_t position = trailer.HeaderOffset;
    if (disk == 1) {
        progress(0, trailer.FilesCount, 0, 1);
        contentLeft = DeclaredContentSize(trailer);
    }
    if (!ForceDirectories(destFolder)) {
        ShowUnpackError(destFolder + "<P><P>Unable to create Directory!<P><P>" + LastErrorText());
        // This message says why every file will fail: no second one for the first of them.
        ++g_failedWrites;
    }

    RecordWalkCallbacks walk;
    walk.readAt = [&file](int64_t at, uint8_t* buffer, size_t n) { return file.ReadAt(at, buffer, n); };
    walk.beforeRecord = [] { DispatchPendingMessages(); };
    walk.fileRecord = [&](int64_t bodyStart, int64_t bodyLength, bool packed) {
        file.Seek(bodyStart);
        return UnpackRecord(file, bodyLength, packed, destFolder, progress, mainFile, contentLeft);
    };
    int64_t headerEnd = 0;
    if (WalkRecords(walk, position, trailerStart, end, trailer.HeaderCount, headerEnd) != RecordWalk::Done)
        return DiskOutcome::Damaged;

    if (disk == 1 && AgentCopyWanted(agentExeName, current))
        WriteAgentCopy(file, current, static_cast<uint64_t>(headerEnd), destFolder, AgentFileName(agentExeName));
    return DiskOutcome::Done;
}

// The file asked for as the next disk is there, and is not a disk of another setup. A file
// without a readable container is no other setup's: the unpacking finds it damaged.
bool DiskPresent(const std::string& path, const TGFileInfo& first)
{
    if (!FileReadable(path))
        return false;
    const TGFileInfo disk(path);
    if (disk.HasMagic() && !SameSetup(first, disk)) {
        TraceLine("Foreign disk file: " + path);
        return false;
    }
    return true;
}

}  // namespace

size_t ReadBlock(BinFile& file, char* buffer, size_t n)
{
    size_t done = 0;
    while (done < n) {
        const size_t piece = std::min(n - done, kPiece);
        const size_t got = file.Read(buffer + done, piece);
        done += got;
        DispatchPendingMessages();
        if (got < piece)
            break;
    }
    return done;
}

std::string ExtractErrorDetails(const std::string& fileName, uint64_t dataSize)
{
    return ExtractErrorDetailsText(LastErrorText(), dataSize, FileSizeByName(fileName), DiskFreeBytes(fileName));
}

bool UnpackPayload(const std::string& containerFile, const std::string& destFolder, const std::string& agentExeName,
                   bool& checksumOk, const ProgressFn& progress, const std::string& diskPrompt,
                   const std::string& diskCaption, const std::string& diskButtons, int charset, bool forcePrompt,
                   std::string& mainFile)
{
    const ULONGLONG started = GetTickCount64();
    const std::string base = DiskBaseName(containerFile);
    int disk = 1;
    bool carryOn = true;
    bool whole = false;
    const int failedBefore = g_failedWrites;
    uint64_t contentLeft = UINT64_MAX;
    mainFile.clear();
    checksumOk = false;
    progress(0, 0, 0, 1);

    // Every further disk must carry the header strings of the first.
    const TGFileInfo first(containerFile);
    std::string current = containerFile;
    ContainerTrailer trailer;
    for (;;) {
        if (!FileReadable(current))
            break;  // a missing first disk file (a later one was waited for at the prompt)
        const DiskOutcome outcome =
            UnpackDisk(current, disk, destFolder, agentExeName, checksumOk, progress, trailer, mainFile, contentLeft);
        if (outcome == DiskOutcome::BadChecksum)
            break;
        if (outcome == DiskOutcome::Damaged) {
            ShowUnpackError(current + "<P><P>Unable to read the Setup File: it is damaged or incomplete!");
            carryOn = false;
            break;
        }
        if (!(trailer.Flags & FlagNextDiskFollows)) {
            whole = true;
            break;
        }
        AutoPlayCancelMessage(true);
        ++disk;
        current = DiskFileName(base, disk);
        // Another setup's disk is no answer to the prompt: it is asked for again, as a missing one.
        if (forcePrompt || !DiskPresent(current, first)) {
            EjectCD(current);
            const std::string prompt = ReplaceText(diskPrompt, "<DISK_NUM>", IntToStr(disk));
            do {
                const bool ok = AskOkCancel(0, prompt, diskCaption, diskButtons, charset);
                WaitPumping(0, 500);
                if (!ok) {
                    carryOn = false;
                    break;
                }
            } while (!DiskPresent(current, first));
        }
        progress(1, 0, 0, 0);
        if (!carryOn)
            break;
    }

    // A file that could not be written leaves the setup incomplete as much as a missing disk:
    // nothing may be started on it.
    if (g_failedWrites != failedBefore)
        whole = false;
    if (!whole)
        mainFile.clear();
    TraceLine("UnCompressTime: " + IntToStr(static_cast<int64_t>(GetTickCount64() - started)) + " MS");
    TraceLine("");
    WaitPumping(0, 500);
    return whole;
}
