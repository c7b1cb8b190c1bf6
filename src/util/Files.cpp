#include <windows.h>

#include "util/Files.h"

#include <algorithm>

#include "util/Handles.h"
#include "util/UtilsWin.h"

namespace {

bool SetFileDosDate(HANDLE file, uint32_t dosDate)
{
    FILETIME local{}, utc{};
    if (!DosDateTimeToFileTime(HIWORD(dosDate), LOWORD(dosDate), &local) || !LocalFileTimeToFileTime(&local, &utc))
        return false;
    return SetFileTime(file, nullptr, nullptr, &utc) != FALSE;
}

size_t WriteChunkSizeFor(size_t length)
{
    const size_t q = length / 10;
    if (q <= 1024)
        return std::min<size_t>(1024, length);
    return std::min<size_t>(q, 1048576);
}

std::string FolderPart(const std::string& path)
{
    const size_t cut = path.find_last_of("\\:");
    return cut == std::string::npos ? "" : path.substr(0, cut + 1);
}

}  // namespace

bool WriteTextFile(const std::string& path, const std::string& text, uint32_t dosDate, bool append)
{
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE,
                                append ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : 0, nullptr,
                                append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    if (append)
        SetFilePointer(file.Get(), 0, nullptr, FILE_END);

    size_t done = 0;
    if (text.size() > 1048576) {
        const size_t chunk = WriteChunkSizeFor(text.size());
        while (done < text.size()) {
            const DWORD n = static_cast<DWORD>(std::min(chunk, text.size() - done));
            DWORD written = 0;
            if (!WriteFile(file.Get(), text.data() + done, n, &written, nullptr) || written == 0)
                break;
            done += written;
        }
    } else if (!text.empty()) {
        DWORD written = 0;
        if (WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
            done = written;
    }
    const bool complete = done == text.size();
    if (complete && dosDate != 0)
        SetFileDosDate(file.Get(), dosDate);
    return complete;
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
    std::string prefix = FolderPart(mask);
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
        if (clearAttributes)
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

std::string SelfDeleteBatchText(const std::string& batch, const std::string& exe, const std::string& folder,
                                const std::string& quote, bool removeFolder)
{
    std::string text = ":START\r\n";
    text += "DEL " + quote + exe + quote + "\r\n";
    text += "IF exist " + quote + exe + quote + " GOTO START\r\n";
    if (removeFolder)
        text += "RD " + quote + folder + quote + "\r\n";
    text += "DEL " + quote + batch + quote + "\r\n";
    return text;
}

namespace {

std::string ShortPath(const std::string& path)
{
    char buf[MAX_PATH + 1] = {};
    const DWORD n = GetShortPathNameA(path.c_str(), buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : path;
}

}  // namespace

void DeleteMySelf(bool removeFolder, bool shortNames)
{
    const std::string batchLong = TempFolder(true) + "_DEL_ME_.BAT";
    std::string batch = batchLong;
    std::string exe = ExePath();
    std::string folder = ExeFolder(false);
    std::string quote = "\"";
    if (shortNames) {
        WriteTextFile(batch, "ABC\r\n", 0, false);
        batch = ShortPath(batch);
        exe = ShortPath(exe);
        folder = ShortPath(folder);
        quote.clear();
        DeleteFileA(batchLong.c_str());
    }
    SetCurrentDirectoryA(TempFolder(false).c_str());
    WriteTextFile(batchLong, SelfDeleteBatchText(batch, exe, folder, quote, removeFolder), 0, false);
    WinExec(batchLong.c_str(), SW_HIDE);
}
