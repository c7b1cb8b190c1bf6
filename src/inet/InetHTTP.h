#pragma once
// HTTP through the system's Internet library (WinINet): a connection test, a size query and the
// incremental download of one address into a file or into memory, with progress and a way to
// stop it. The library is bound on first use, from the system folder only, so the program still
// starts (and its other roles still work) where the library is missing. Failures never raise:
// downloads report an error text, empty meaning success.
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

#include "util/Handles.h"

class TProgBar;

constexpr char DownloadUserAgent[] = "HTTP_Connect_3";
constexpr char SizeQueryUserAgent[] = "HTTP_Connect_2";
constexpr DWORD DownloadTimeoutMs = 180000;
constexpr uint32_t DownloadBufferSize = 8192;

// --- the bound entry points -------------------------------------------------------------------
// Each loads "WinINet.dll" on its first call (once for all of them) and looks its function up
// once; without the library or the function it returns the function's failure value (FALSE, or
// no handle) and calls nothing.
namespace WinINet {
BOOL InternetGetConnectedState(LPDWORD flags, DWORD reserved);
BOOL InternetCloseHandle(HINTERNET handle);
HINTERNET InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass, DWORD flags);
HINTERNET InternetOpenUrlA(HINTERNET root, LPCSTR url, LPCSTR headers, DWORD headersLength, DWORD flags,
                           DWORD_PTR context);
BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength, LPDWORD index);
BOOL InternetReadFile(HINTERNET request, LPVOID buffer, DWORD toRead, LPDWORD read);
BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD bufferLength);
BOOL InternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD bufferLength);
}  // namespace WinINet

struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { WinINet::InternetCloseHandle(h); }
};
using UniqueInternetHandle = UniqueHandle<InternetHandleTraits>;

// Unloads the library and forgets every bound address; the next call binds afresh. Called once,
// when the run ends.
void ReleaseWinINet();

// --- the operations ----------------------------------------------------------------------------
// Set to stop a running transfer after its current block (a close request, the end of the run).
// Cleared by the caller before each download, never by the transfer.
bool DownloadAbortFlag();
void SetDownloadAbortFlag(bool on);

// The system says a connection to the Internet is configured. `error`: empty when connected,
// otherwise the system's text for the failure.
bool InternetConnected(std::string& error);
bool InternetConnected();

// The Content-Length that the server reports for `url` (opened as given, the cache may answer);
// -1 when it reports none or the address cannot be opened. Writes the trace line
// "HTTP_GetFileSize=N  URL" whenever the address could be opened.
int32_t HTTP_GetFileSize(const std::string& url);

// Fetches `url` in blocks of at most 8192 bytes, always from the server. With a `localFile` the
// body goes to a temporary file beside it (named after the reported size and date, so a changed
// file on the server never continues an old part) that takes the local name only once the whole
// body has arrived; an empty `localFile` delivers the body in `content`. `progressWindow` is shown
// while the transfer runs; `bar` (may be null) is started, stepped and told the file's name.
// Waiting messages are dispatched before every block, so a close request (DownloadAbortFlag) ends
// the transfer after its current block. When the transfer starts, the previous file of the local
// name and every earlier partial download of it (local + ".*") are removed, so that nothing old
// can be taken for the new file. `error` is empty on success; on any failure `content` is empty,
// no file has the local name, and a partial body stays under its temporary name. A body shorter
// than its Content-Length is a failure; a body without Content-Length is complete when the server
// ends it. A `limit` above 0 caps the body: a larger announced length fails before the first block,
// and a body that grows past the limit stops there and leaves nothing behind (no partial file
// either), so an endless or oversized body never fills memory or the disk.
void HTTP_DownloadFile_Incremental(HWND progressWindow, const std::string& url, const std::string& localFile,
                                   std::string& error, TProgBar* bar, std::string& content, uint64_t limit = 0);

// --- helpers of the transfer, exposed for the tools that measure it --------------------------------
// The address to open: as given when it names the "http://" or "https://" scheme, otherwise with
// "http://" put in front.
std::string DownloadAddress(const std::string& url);
// Opens DownloadAddress(url) with a fresh reload from the server; no handle on failure.
UniqueInternetHandle OpenDownloadUrl(HINTERNET root, const std::string& url);
// The time-out of every later download's connect, send and receive steps; DownloadTimeoutMs
// unless a tool that measures the transfer sets another.
void SetDownloadTimeout(DWORD milliseconds);
// Sets every connect, send and receive time-out of `root` to `milliseconds`.
void SetInternetTimeouts(HINTERNET root, DWORD milliseconds);
// The numeric Content-Length, 4294967295 when the server sent none.
uint32_t ContentLength(HINTERNET request);
// The HTTP status of the answer; 0 when there was none (the server closed without answering).
uint32_t StatusCode(HINTERNET request);
// Last-Modified as a DOS date-time (as sent, no time-zone change); 0 when missing or unreadable.
uint32_t LastModifiedStamp(HINTERNET request);
// The server's last response text; empty when there is none.
std::string LastResponseText();
// The failure of a file (`name`) beyond the `limit` its caller allowed, from a server or a folder.
std::string DownloadTooLargeText(const std::string& name, uint64_t limit);
// The temporary name of a download to disk: local file + "." + (size + stamp) as unsigned 32-bit.
std::string TemporaryDownloadName(const std::string& localFile, uint32_t size, uint32_t stamp);
// Block size for a file of `size` bytes: a tenth of it, within 1..8192.
uint32_t DownloadBlockSize(uint32_t size);
