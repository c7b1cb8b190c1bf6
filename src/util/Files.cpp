#include <windows.h>
#include <winioctl.h>

#include "util/Files.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "util/Handles.h"
#include "util/SystemLibrary.h"
#include "util/UDebug.h"
#include "util/UtilsWin.h"

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The largest piece handed to one ReadFile or WriteFile, whose lengths are 32-bit.
constexpr uint64_t MaxIoPiece = 0x40000000;

// Writes the whole text at the file's position and gives the number of bytes written. A text up
// to 1048576 bytes goes in one write. A larger one goes in chunks: one write of many megabytes
// can fail on a network share for want of system resources, since the system locks the whole
// buffer in memory for it.
uint64_t WriteWholeText(HANDLE file, const std::string& text)
{
    const uint64_t length = text.size();
    const uint64_t chunk = length > ChunkedWriteThreshold ? WriteChunkSize(length) : length;
    uint64_t done = 0;
    while (done < length) {
        const DWORD n = static_cast<DWORD>(std::min({chunk, length - done, MaxIoPiece}));
        DWORD written = 0;
        if (!WriteFile(file, text.data() + done, n, &written, nullptr) || written == 0)
            break;
        done += written;
    }
    return done;
}

// Opens `path` for adding at its end, creating it when missing. Append-only access makes the
// system put every write at the file's current end, even when another process (the agent and its
// transient copy share their files) has appended since this handle was opened.
UniqueFile OpenForAppend(const std::string& path)
{
    return UniqueFile(CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, ShareAll,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string FolderPart(const std::string& path)
{
    const size_t cut = path.find_last_of("\\:");
    return cut == std::string::npos ? "" : path.substr(0, cut + 1);
}

bool IsDirectoryLink(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string ShortPath(const std::string& path)
{
    char buf[MAX_PATH + 1] = {};
    const DWORD n = GetShortPathNameA(path.c_str(), buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : path;
}

// The extended free-space query (volumes over 2 GB, quotas), looked up once per process; the
// older query stays as the fall-back of a system without it. The tri-state starts undecided and
// is settled on the first call of DiskFreeBytes. The library stays loaded, so that the address
// remains valid for the life of the process.
using DiskFreeSpaceExQuery = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
enum ExtendedFreeSpace : uint8_t { FreeSpaceExAbsent = 0, FreeSpaceExPresent = 1, FreeSpaceExUndecided = 255 };
std::atomic<uint8_t> g_extendedFreeSpace{FreeSpaceExUndecided};
std::atomic<DiskFreeSpaceExQuery> g_diskFreeSpaceEx{nullptr};

DiskFreeSpaceExQuery ExtendedFreeSpaceQuery()
{
    if (g_extendedFreeSpace.load() == FreeSpaceExUndecided) {
        const auto query = ProcAddressAs<DiskFreeSpaceExQuery>(LoadProc("kernel32.dll", "GetDiskFreeSpaceExA"));
        g_diskFreeSpaceEx.store(query);
        g_extendedFreeSpace.store(query ? FreeSpaceExPresent : FreeSpaceExAbsent);
    }
    return g_extendedFreeSpace.load() == FreeSpaceExPresent ? g_diskFreeSpaceEx.load() : nullptr;
}

const char* RootArgument(const std::string& root)
{
    // No text asks about the current drive.
    return root.empty() ? nullptr : root.c_str();
}

}  // namespace

bool SetFileDosDate(HANDLE file, uint32_t dosDate)
{
    FILETIME local{}, utc{};
    if (!DosDateTimeToFileTime(HIWORD(dosDate), LOWORD(dosDate), &local) || !LocalFileTimeToFileTime(&local, &utc))
        return false;
    return SetFileTime(file, nullptr, nullptr, &utc) != FALSE;
}

uint32_t FileDosDate(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    FILETIME local{};
    WORD date = 0, time = 0;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        !FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToDosDateTime(&local, &date, &time))
        return 0;
    return (uint32_t{date} << 16) | time;
}

int64_t SeekFile(HANDLE file, int origin, int64_t distance)
{
    static_assert(FILE_BEGIN == 0 && FILE_CURRENT == 1 && FILE_END == 2);
    if (origin < 0 || origin > 2)
        return -1;
    LARGE_INTEGER move{}, position{};
    move.QuadPart = distance;
    if (!SetFilePointerEx(file, move, &position, static_cast<DWORD>(origin)))
        return -1;
    return position.QuadPart;
}

bool FileExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::string& path)
{
    if (path.empty())
        return false;
    const DWORD attributes = GetFileAttributesA(SetTrailingBackslash(path, false).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int64_t FileSizeByName(const std::string& path)
{
    WIN32_FIND_DATAA fd{};
    UniqueFindHandle find(FindFirstFileA(path.c_str(), &fd));
    if (!find)
        return 0;
    return static_cast<int64_t>((static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow);
}

int64_t FileSizeByHandle(HANDLE file)
{
    LARGE_INTEGER size{};
    return GetFileSizeEx(file, &size) ? size.QuadPart : -1;
}

std::string ReadFilePart(const std::string& path, int64_t maximum, int64_t offset)
{
    UniqueFile file(
        CreateFileA(path.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return "";
    const int64_t n = ReadPartLength(FileSizeByHandle(file.Get()), maximum, offset);
    std::string text;
    if (n <= 0 || static_cast<uint64_t>(n) > text.max_size() || SeekFile(file.Get(), 0, offset) != offset)
        return "";
    // A part too large for this process's memory is a failed read like any other.
    try {
        text.resize(static_cast<size_t>(n));
    } catch (const std::bad_alloc&) {
        return "";
    }
    uint64_t done = 0;
    while (done < text.size()) {
        const DWORD want = static_cast<DWORD>(std::min<uint64_t>(text.size() - done, MaxIoPiece));
        DWORD got = 0;
        if (!ReadFile(file.Get(), text.data() + done, want, &got, nullptr) || got == 0)
            break;
        done += got;
    }
    // Half a part (the file shrank, or a read failed) would pass for the whole one.
    return done == text.size() ? text : "";
}

bool WriteTextFile(const std::string& path, const std::string& text, uint32_t dosDate, bool append)
{
    UniqueFile file = append ? OpenForAppend(path)
                             : UniqueFile(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    if (append && SeekFile(file.Get(), 2, 0) < 0)
        return false;
    const bool complete = WriteWholeText(file.Get(), text) == text.size();
    if (complete && dosDate != 0)
        SetFileDosDate(file.Get(), dosDate);
    return complete;
}

bool AppendTextFile(const std::string& path, const std::string& text, uint32_t dosDate)
{
    UniqueFile file = OpenForAppend(path);
    if (!file)
        return false;
    if (SeekFile(file.Get(), 2, 0) < 0)
        return false;
    const bool complete = WriteWholeText(file.Get(), text) == text.size();
    if (dosDate != 0)
        SetFileDosDate(file.Get(), dosDate);
    return complete;
}

double DiskFreeBytes(const std::string& path)
{
    if (const DiskFreeSpaceExQuery query = ExtendedFreeSpaceQuery()) {
        // The folder of the path first: it may lie on a volume mounted below the drive root.
        for (const bool rootOnly : {false, true}) {
            ULARGE_INTEGER available{};
            if (query(RootArgument(FreeSpaceRoot(path, rootOnly)), &available, nullptr, nullptr))
                return static_cast<double>(available.QuadPart);
        }
        return -1;
    }
    const std::string root = FreeSpaceRoot(path, true);
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!GetDiskFreeSpaceA(RootArgument(root), &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
        return -1;
    return static_cast<double>(uint64_t{sectorsPerCluster} * bytesPerSector) * freeClusters;
}

bool ForceDirectories(const std::string& folder)
{
    const std::string path = SetTrailingBackslash(folder, false);
    if (path.empty())
        return false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const size_t cut = path.find_last_of('\\');
    // Stop at a root ("C:", "\\server\share") whose parent cannot be made.
    if (cut != std::string::npos && cut > 2)
        ForceDirectories(path.substr(0, cut));
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool DeleteFiles(const std::string& mask, bool clearAttributes)
{
    const std::string prefix = FolderPart(mask);
    WIN32_FIND_DATAA fd{};
    UniqueFindHandle find(FindFirstFileA(mask.c_str(), &fd));
    if (!find)
        return false;
    bool matched = false;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        matched = true;
        const std::string path = prefix + fd.cFileName;
        // Setting attributes by name goes through a file link to its target, which may lie
        // anywhere: a link is deleted as it is.
        if (clearAttributes && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    } while (FindNextFileA(find.Get(), &fd));
    return matched;
}

bool DeleteFolderTree(const std::string& folder, bool clearAttributes)
{
    if (folder.empty())
        return false;
    const std::string base = SetTrailingBackslash(folder, false);
    const DWORD before = GetFileAttributesA(base.c_str());
    const bool existed = before != INVALID_FILE_ATTRIBUTES && (before & FILE_ATTRIBUTE_DIRECTORY);
    if (existed && IsDirectoryLink(before)) {
        // The folder itself is a link (a work folder name planted in the shared temporary area,
        // say): what it points to lies outside, so only the link goes.
        RemoveDirectoryA(base.c_str());
        return GetFileAttributesA(base.c_str()) == INVALID_FILE_ATTRIBUTES;
    }
    DeleteFiles(base + "\\*.*", clearAttributes);

    WIN32_FIND_DATAA fd{};
    {
        UniqueFindHandle find(FindFirstFileA((base + "\\*.*").c_str(), &fd));
        if (find) {
            do {
                const std::string name = fd.cFileName;
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name == "." || name == "..")
                    continue;
                // A link to a folder elsewhere is removed as a link, never followed.
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                    RemoveDirectoryA((base + "\\" + name).c_str());
                    continue;
                }
                DeleteFolderTree(base + "\\" + name, clearAttributes);
            } while (FindNextFileA(find.Get(), &fd));
        }
    }
    RemoveDirectoryA(base.c_str());
    return existed && GetFileAttributesA(base.c_str()) == INVALID_FILE_ATTRIBUTES;
}

void DeleteMySelf(bool removeFolder, bool shortNames)
{
    const std::string temp = TempFolder(false);
    // Without a temporary folder the batch would land in whatever folder is current.
    if (temp.empty())
        return;
    const std::string batchLong = TempFolder(true) + "_DEL_ME_.BAT";
    std::string batch = batchLong;
    std::string exe = ExePath();
    std::string folder = ExeFolder(false);
    std::string quote = "\"";
    if (shortNames) {
        // Only an existing file has a short name.
        WriteTextFile(batchLong, "ABC\r\n", 0, false);
        batch = ShortPath(batchLong);
        exe = ShortPath(exe);
        folder = ShortPath(folder);
        quote.clear();
        DeleteFileA(batchLong.c_str());
    }
    // The batch must not keep the program's folder busy as its current folder, or the folder
    // could not be removed.
    SetCurrentDirectoryA(temp.c_str());
    if (!WriteTextFile(batchLong, SelfDeleteBatchText(batch, exe, folder, quote, removeFolder), 0, false))
        return;
    // Quoted: unquoted, a blank in the temporary path (a user name with a blank) would make the
    // system try to run the first word of the path as a program.
    WinExec(("\"" + batchLong + "\"").c_str(), SW_HIDE);
}

bool EjectCD(const std::string& path)
{
    try {
        const std::string device = DriveDevicePath(path);  // "\\.\X:"
        if (device.empty())
            return false;
        const std::string root = device.substr(4) + "\\";    // "X:\"
        if (GetDriveTypeA(root.c_str()) != DRIVE_CDROM)
            return false;
        UniqueFile drive(CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
        TraceLine(EjectTraceLine(2, device, reinterpret_cast<uintptr_t>(drive.Get())));
        if (!drive) {
            // Users without write access to the device may still eject it.
            drive.Reset(CreateFileA(device.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
            TraceLine(EjectTraceLine(3, device, reinterpret_cast<uintptr_t>(drive.Get())));
        }
        if (!drive)
            return false;
        DWORD returned = 0;
        return DeviceIoControl(drive.Get(), IOCTL_STORAGE_EJECT_MEDIA, nullptr, 0, nullptr, 0, &returned, nullptr) !=
               FALSE;
    } catch (...) {
        // Nothing of the eject may escape into the caller (a trace line that cannot be built).
        return false;
    }
}
