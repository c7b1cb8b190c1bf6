#include "inet/InetHTTP.h"

#include <array>

#include "inet/CommUtils.h"
#include "inet/UProgBar.h"
#include "util/Files.h"
#include "util/SystemLibrary.h"
#include "util/UDebug.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

bool g_downloadAbort = false;
DWORD g_downloadTimeoutMs = DownloadTimeoutMs;
// How often a transfer lets waiting messages through: often enough that the window answers at
// once and a close request stops the transfer after the block it arrived in.
constexpr uint32_t kDispatchIntervalMs = 10;

// --- the binding ---------------------------------------------------------------------------

enum BoundFunction : size_t {
    FnGetConnectedState,
    FnCloseHandle,
    FnOpen,
    FnOpenUrl,
    FnQueryInfo,
    FnReadFile,
    FnSetOption,
    FnLastResponseInfo,
    BoundFunctionCount
};

constexpr std::array<const char*, BoundFunctionCount> BoundNames = {
    "InternetGetConnectedState", "InternetCloseHandle", "InternetOpenA",      "InternetOpenUrlA",
    "HttpQueryInfoA",            "InternetReadFile",    "InternetSetOptionA", "InternetGetLastResponseInfoA",
};

struct Binding {
    UniqueModule library;
    bool libraryTried = false;  // a missing library is looked for once per binding, not per call
    std::array<FARPROC, BoundFunctionCount> procs{};
    std::array<bool, BoundFunctionCount> looked{};
};

Binding& TheBinding()
{
    static Binding binding;
    return binding;
}

template <class Function>
Function Bound(BoundFunction which)
{
    Binding& b = TheBinding();
    if (!b.libraryTried) {
        b.libraryTried = true;
        b.library.Reset(LoadSystemLibrary("wininet.dll"));
    }
    if (!b.library)
        return nullptr;
    if (!b.looked[which]) {
        b.looked[which] = true;
        b.procs[which] = GetProcAddress(b.library.Get(), BoundNames[which]);
    }
    return ProcAddressAs<Function>(b.procs[which]);
}

// --- transfer helpers ------------------------------------------------------------------------

// The part of the address after its last separator, for the messages the user reads.
std::string DisplayName(const std::string& url)
{
    const std::string path = ReplaceChar(url, '/', '\\');
    const size_t cut = path.find_last_of("\\:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// What the user is told when the connection was refused because of a secure server's certificate,
// or when the server did not answer in time; empty for every other failure (those keep the plain
// message).
std::string OpenFailureDetail(DWORD code)
{
    switch (code) {
    case ERROR_INTERNET_TIMEOUT:
        return "the server did not answer in time";
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        return "the server's certificate is not valid for this address";
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        return "the server's certificate has expired or is not yet valid";
    case ERROR_INTERNET_INVALID_CA:
        return "the server's certificate is not issued by a trusted authority";
    case ERROR_INTERNET_SEC_CERT_REVOKED:
        return "the server's certificate has been revoked";
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case 12175:  // ERROR_INTERNET_SECURE_FAILURE: the secure channel could not be set up
        return "the server's certificate was refused";
    default:
        return std::string();
    }
}

// The detail of a failed read: the system's text, else the server's.
std::string ReadFailureDetail()
{
    std::string detail = LastErrorText();
    if (detail.empty())
        detail = LastResponseText();
    return detail.empty() ? std::string() : " (" + detail + ")";
}

// Where the body goes: a file kept open for the whole transfer (created on the first block, so a
// body that never starts leaves no file), or memory.
class BodySink {
public:
    explicit BodySink(std::string temporaryFile, std::string& content)
        : temporaryFile_(std::move(temporaryFile)), content_(content)
    {
    }
    bool ToFile() const { return !temporaryFile_.empty(); }
    bool Append(const char* data, DWORD length)
    {
        if (!ToFile()) {
            content_.append(data, length);
            return true;
        }
        if (!file_) {
            file_.Reset(CreateFileA(temporaryFile_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file_ || SeekFile(file_.Get(), 2, 0) < 0)
                return false;
        }
        DWORD written = 0;
        return WriteFile(file_.Get(), data, length, &written, nullptr) && written == length;
    }
    void Close() { file_.Reset(); }

private:
    std::string temporaryFile_;
    std::string& content_;
    UniqueFile file_;
};

}  // namespace

// --- bound entry points ----------------------------------------------------------------------

namespace WinINet {
BOOL InternetGetConnectedState(LPDWORD flags, DWORD reserved)
{
    const auto f = Bound<BOOL(WINAPI*)(LPDWORD, DWORD)>(FnGetConnectedState);
    return f ? f(flags, reserved) : FALSE;
}
BOOL InternetCloseHandle(HINTERNET handle)
{
    const auto f = Bound<BOOL(WINAPI*)(HINTERNET)>(FnCloseHandle);
    return f ? f(handle) : FALSE;
}
HINTERNET InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass, DWORD flags)
{
    const auto f = Bound<HINTERNET(WINAPI*)(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD)>(FnOpen);
    return f ? f(agent, accessType, proxy, proxyBypass, flags) : nullptr;
}
HINTERNET InternetOpenUrlA(HINTERNET root, LPCSTR url, LPCSTR headers, DWORD headersLength, DWORD flags,
                           DWORD_PTR context)
{
    const auto f = Bound<HINTERNET(WINAPI*)(HINTERNET, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR)>(FnOpenUrl);
    return f ? f(root, url, headers, headersLength, flags, context) : nullptr;
}
BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength, LPDWORD index)
{
    const auto f = Bound<BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD)>(FnQueryInfo);
    return f ? f(request, infoLevel, buffer, bufferLength, index) : FALSE;
}
BOOL InternetReadFile(HINTERNET request, LPVOID buffer, DWORD toRead, LPDWORD read)
{
    const auto f = Bound<BOOL(WINAPI*)(HINTERNET, LPVOID, DWORD, LPDWORD)>(FnReadFile);
    return f ? f(request, buffer, toRead, read) : FALSE;
}
BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD bufferLength)
{
    const auto f = Bound<BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, DWORD)>(FnSetOption);
    return f ? f(handle, option, buffer, bufferLength) : FALSE;
}
BOOL InternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD bufferLength)
{
    const auto f = Bound<BOOL(WINAPI*)(LPDWORD, LPSTR, LPDWORD)>(FnLastResponseInfo);
    return f ? f(error, buffer, bufferLength) : FALSE;
}
}  // namespace WinINet

void ReleaseWinINet()
{
    Binding& b = TheBinding();
    b.procs = {};
    b.looked = {};
    b.library.Reset();
    b.libraryTried = false;
}

// --- operations ------------------------------------------------------------------------------

void SetDownloadTimeout(DWORD milliseconds) { g_downloadTimeoutMs = milliseconds; }

bool DownloadAbortFlag() { return g_downloadAbort; }
void SetDownloadAbortFlag(bool on) { g_downloadAbort = on; }

bool InternetConnected(std::string& error)
{
    error.clear();
    DWORD flags = 0;
    SetLastError(0);
    if (WinINet::InternetGetConnectedState(&flags, 0))
        return true;
    error = LastErrorText();
    return false;
}

bool InternetConnected()
{
    std::string ignored;
    return InternetConnected(ignored);
}

int32_t HTTP_GetFileSize(const std::string& url)
{
    // A first request that is thrown away: some servers and proxies answer the very first request
    // of a session without the length.
    {
        const UniqueInternetHandle root(
            WinINet::InternetOpenA(SizeQueryUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, "", nullptr, 0));
        if (root)
            UniqueInternetHandle(WinINet::InternetOpenUrlA(root.Get(), url.c_str(), nullptr, 0, 0, 0));
    }
    const UniqueInternetHandle root(
        WinINet::InternetOpenA(SizeQueryUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, "", nullptr, 0));
    if (!root)
        return -1;
    const UniqueInternetHandle request(WinINet::InternetOpenUrlA(root.Get(), url.c_str(), nullptr, 0, 0, 0));
    if (!request)
        return -1;
    const auto size = static_cast<int32_t>(ContentLength(request.Get()));
    TraceLine("HTTP_GetFileSize=" + IntToStr(size) + "  " + url);
    return size;
}

std::string DownloadAddress(const std::string& url)
{
    // A secure address is opened as it is (with its certificate checked): "http://" in front of
    // "https://..." would make an address no server answers.
    if (PosCI("http://", url) > 0 || PosCI("https://", url) > 0)
        return url;
    return "http://" + url;
}

UniqueInternetHandle OpenDownloadUrl(HINTERNET root, const std::string& url)
{
    const std::string address = DownloadAddress(url);
    return UniqueInternetHandle(
        WinINet::InternetOpenUrlA(root, address.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0));
}

void SetInternetTimeouts(HINTERNET root, DWORD milliseconds)
{
    for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                               INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                               INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT,
                               INTERNET_OPTION_DATA_SEND_TIMEOUT}) {
        DWORD value = milliseconds;
        WinINet::InternetSetOptionA(root, option, &value, sizeof value);
    }
}

uint32_t ContentLength(HINTERNET request)
{
    DWORD value = 0xFFFFFFFF;
    DWORD length = sizeof value;
    WinINet::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &value, &length, nullptr);
    return value;
}

uint32_t StatusCode(HINTERNET request)
{
    DWORD value = 0;
    DWORD length = sizeof value;
    if (!WinINet::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &length, nullptr))
        return 0;
    return value;
}

uint32_t LastModifiedStamp(HINTERNET request)
{
    SYSTEMTIME when{};
    DWORD length = sizeof when;
    if (!WinINet::HttpQueryInfoA(request, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &when, &length,
                                 nullptr))
        return 0;
    FILETIME asFileTime{};
    WORD date = 0, time = 0;
    if (!SystemTimeToFileTime(&when, &asFileTime) || !FileTimeToDosDateTime(&asFileTime, &date, &time))
        return 0;
    return (uint32_t{date} << 16) | time;
}

std::string LastResponseText()
{
    char buffer[1024] = {};
    DWORD code = 0;
    DWORD length = sizeof buffer;
    if (!WinINet::InternetGetLastResponseInfoA(&code, buffer, &length))
        return std::string();
    return std::string(buffer, length < sizeof buffer ? length : sizeof buffer - 1).c_str();
}

std::string DownloadTooLargeText(const std::string& name, uint64_t limit)
{
    return name + " --- File too large: more than " + IntToStr(static_cast<int64_t>(limit)) + " bytes";
}

std::string TemporaryDownloadName(const std::string& localFile, uint32_t size, uint32_t stamp)
{
    return localFile + "." + IntToStr(static_cast<uint32_t>(size + stamp));
}

uint32_t DownloadBlockSize(uint32_t size)
{
    const uint32_t block = size / 10;
    return block < 1 ? 1 : (block > DownloadBufferSize ? DownloadBufferSize : block);
}

void HTTP_DownloadFile_Incremental(HWND progressWindow, const std::string& url, const std::string& localFile,
                                   std::string& error, TProgBar* bar, std::string& content, uint64_t limit)
{
    const std::string displayName = DisplayName(url);
    error.clear();
    content.clear();
    uint64_t received = 0;

    const UniqueInternetHandle root(
        WinINet::InternetOpenA(DownloadUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, "", nullptr, 0));
    if (!root) {
        error = "Unable to initialize \"WinINet.dll\"";
    } else {
        SetInternetTimeouts(root.Get(), g_downloadTimeoutMs);
        const UniqueInternetHandle request = OpenDownloadUrl(root.Get(), url);
        if (!request) {
            error = "Unable to open Internet Connection: " + url;
            const std::string problem = OpenFailureDetail(GetLastError());
            if (!problem.empty())
                error += " (" + problem + ")";
        } else {
            const uint32_t size = ContentLength(request.Get());
            const uint32_t stamp = LastModifiedStamp(request.Get());
            const bool sizeKnown = size != 0xFFFFFFFF;
            if (StatusCode(request.Get()) == 0) {
                // A connection that ends before any answer is no empty file: nothing was said.
                error = "Unable to open Internet Connection: " + url + " (the server did not answer)";
            } else if (size == 0) {
                error = url + " --- File Not Found !";
            } else if (limit > 0 && sizeKnown && size > limit) {
                error = DownloadTooLargeText(displayName, limit);
            } else {
                if (reinterpret_cast<UINT_PTR>(progressWindow) > 10)
                    ShowWindow(progressWindow, SW_SHOW);
                std::string temporaryFile;
                if (!localFile.empty()) {
                    temporaryFile = TemporaryDownloadName(localFile, size, stamp);
                    // No earlier partial download survives, whatever version of the file it was,
                    // and no older file of the local name can be taken for the new one (the
                    // system's mask matches the bare name too; said here so it does not depend
                    // on that).
                    DeleteFiles(localFile + ".*", false);
                    DeleteFileA(localFile.c_str());
                }
                const uint32_t block = DownloadBlockSize(size);
                if (bar)
                    bar->ProgressStart(1, (size + block - 1) / block + 1);
                TBytesRate rate(size > 102400, size > 10485760);
                if (bar)
                    bar->ProgressCaption(displayName);

                BodySink sink(temporaryFile, content);
                bool tooLarge = false;
                std::array<char, DownloadBufferSize> buffer;
                DWORD read = 0;
                do {
                    // Messages first, so that a close request stops the transfer before the next
                    // block; never a pause, which would cost a scheduler tick per block.
                    DispatchPendingMessagesEvery(kDispatchIntervalMs);
                    read = 0;
                    const bool ok = WinINet::InternetReadFile(request.Get(), buffer.data(), block, &read) != FALSE;
                    if (ok) {
                        received += read;
                        if (limit > 0 && received > limit) {
                            error = DownloadTooLargeText(displayName, limit);
                            tooLarge = true;
                            read = 0;
                        } else if (read > 0 && !sink.Append(buffer.data(), read)) {
                            error = displayName + " --- Error writing file " + temporaryFile + ReadFailureDetail();
                            read = 0;
                        }
                    } else {
                        error = displayName + " --- Error downloading file" + ReadFailureDetail();
                        read = 0;
                    }
                    // The rate window takes every block; the text is only made for a reader.
                    std::string text;
                    if (bar && bar->WantsText())
                        text = rate.ProgressText(size, static_cast<int64_t>(received), static_cast<int32_t>(read),
                                                 GetTickCount());
                    else
                        rate.RateText(static_cast<int32_t>(read), GetTickCount());
                    if (ok && read > 0 && bar)
                        bar->ProgressStep(text);
                } while (read > 0 && !DownloadAbortFlag());
                sink.Close();
                // A body beyond its limit is not worth resuming: it goes at once, whatever it is.
                if (tooLarge && !temporaryFile.empty())
                    DeleteFileA(temporaryFile.c_str());

                if (DownloadAbortFlag() && !tooLarge)
                    error = "Download Aborted";
                // A body that ends before its announced length was cut off (a dropped connection
                // ends the read like the end of the data does): never a finished file.
                if (error.empty() && sizeKnown && received != size)
                    error = displayName + " --- Download incomplete: " + IntToStr(static_cast<int64_t>(received)) +
                            " of " + IntToStr(size) + " bytes arrived";
                if (error.empty() && !temporaryFile.empty()) {
                    // Only a complete body replaces the local file.
                    DeleteFileA(localFile.c_str());
                    if (!MoveFileA(temporaryFile.c_str(), localFile.c_str()))
                        error = displayName + " --- Unable to save the file as " + localFile + " (" +
                                LastErrorText() + ")";
                }
            }
        }
    }
    if (!error.empty()) {
        content.clear();
        TracePid(" HTTP_DownloadFile_Incremental: " + error);
    }
}
