// ulvhttp: runs the stub's HTTP operations on their own and prints what they reported.
//   ulvhttp get URL TARGET [--window] [--close-after MS] [--latency] [--limit BYTES] [--timeout MS]
//       HTTP_DownloadFile_Incremental to the file TARGET, or into memory for "-". Prints
//       "start=POS,MAX", "caption=NAME", "steps=N", "lasttext=TEXT", "error=TEXT", "bytes=N"
//       (the content's length in memory, the local file's size on disk, -1 when it is missing),
//       "content=HEX" (memory, up to 64 KB), "block_gap_max_ms=N" (the longest time between two
//       blocks), "elapsed_ms=N", "peak_private_bytes=N" and
//       "peak_working_set=N". --window shows the probe's window as the progress window;
//       --close-after sends the window a close request after MS ms (the first close request
//       stops a transfer, as the stub window's does); --latency has a second thread send the
//       window a message every 5 ms from the start of the body to the end of the transfer and
//       prints "latency_max_ms=X
//       latency_median_ms=Y latency_samples=N". --limit caps the body, --timeout sets the
//       transfer's time-outs (instead of the 3 minutes of the stub).
//   ulvhttp plain URL TARGET   the download benchmark's yardstick: a plain 8 KiB InternetReadFile
//       loop into a file; prints "error=", "bytes=", "elapsed_ms=", "block_gap_max_ms=" and the
//       memory figures.
//   ulvhttp size URL           prints "size=N" (HTTP_GetFileSize)
//   ulvhttp connected          prints "connected=TRUE|FALSE" and "error=TEXT"
// Exits with 0 when the operation reported no error, 1 otherwise, 2 for a bad command line.
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "inet/InetHTTP.h"
#include "inet/UProgBar.h"
#include "util/Files.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

constexpr UINT kPing = WM_APP + 1;
constexpr UINT_PTR kCloseTimer = 1;

LRESULT CALLBACK ProbeWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kPing:
        return 1;
    case WM_TIMER:
        if (wParam == kCloseTimer) {
            KillTimer(window, kCloseTimer);
            PostMessageA(window, WM_CLOSE, 0, 0);
        }
        return 0;
    case WM_CLOSE:
        // As the stub window: a first close request only stops the running transfer.
        if (!DownloadAbortFlag()) {
            SetDownloadAbortFlag(true);
            return 0;
        }
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateProbeWindow()
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = ProbeWndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "UlvHttpProbe";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "UlvHttpProbe", "ulvhttp", WS_OVERLAPPEDWINDOW, 100, 100, 400, 120, nullptr, nullptr,
                           wc.hInstance, nullptr);
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

void PrintMemory()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    std::printf("peak_private_bytes=%llu\npeak_working_set=%llu\n",
                static_cast<unsigned long long>(counters.PeakPagefileUsage),
                static_cast<unsigned long long>(counters.PeakWorkingSetSize));
}

// Sends the window a message every 5 ms and keeps how long each took to be answered: the
// window's thread answers only while it dispatches messages, so this is how long the user waits.
class LatencyProbe {
public:
    explicit LatencyProbe(HWND window) : window_(window), thread_([this] { Run(); }) {}
    ~LatencyProbe() { Stop(); }
    void RequestStop() { done_ = true; }
    bool Finished() const { return finished_; }
    void Stop()
    {
        done_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    void Print()
    {
        Stop();
        std::vector<double> sorted = samples_;
        std::sort(sorted.begin(), sorted.end());
        const double max = sorted.empty() ? 0 : sorted.back();
        const double median = sorted.empty() ? 0 : sorted[sorted.size() / 2];
        std::printf("latency_max_ms=%.2f\nlatency_median_ms=%.2f\nlatency_samples=%zu\n", max, median, sorted.size());
    }

private:
    void Run()
    {
        while (!done_) {
            const int64_t start = MillisecondClock();
            DWORD_PTR answer = 0;
            SendMessageTimeoutA(window_, kPing, 0, 0, SMTO_NORMAL, 5000, &answer);
            if (!done_)
                samples_.push_back(static_cast<double>(MillisecondClock() - start));
            Sleep(5);
        }
        finished_ = true;
    }
    HWND window_;
    std::atomic<bool> done_{false};
    std::atomic<bool> finished_{false};
    std::vector<double> samples_;
    std::thread thread_;
};

int Get(const std::string& url, const std::string& target, bool showWindow, int closeAfter, bool latency,
        uint64_t limit)
{
    const HWND window = CreateProbeWindow();
    if (closeAfter >= 0)
        SetTimer(window, kCloseTimer, static_cast<UINT>(closeAfter), nullptr);
    TProgBar bar([](int, int64_t, int64_t, int64_t) {});
    int steps = 0;
    std::string lastText;
    int64_t lastStep = 0, maxStepGap = 0;  // the longest time between two blocks
    LatencyProbe* probe = nullptr;
    bar.OnText = [&](TProgBar&, int kind, int64_t number, const std::string& text, int64_t number2) {
        // The probe measures the transfer itself: it starts when the body starts to arrive, after
        // the library was loaded and the connection opened.
        if (kind == 1 && latency && !probe)
            probe = new LatencyProbe(window);
        if (kind == 1)
            std::printf("start=%lld,%lld\n", static_cast<long long>(number), static_cast<long long>(number2));
        else if (kind == 5)
            std::printf("caption=%s\n", text.c_str());
        else if (kind == 2) {
            ++steps;
            lastText = text;
            const int64_t now = MillisecondClock();
            if (lastStep != 0 && now - lastStep > maxStepGap)
                maxStepGap = now - lastStep;
            lastStep = now;
        }
    };
    const std::string local = target == "-" ? std::string() : target;
    std::string error;
    std::string content;
    SetDownloadAbortFlag(false);
    const int64_t started = MillisecondClock();
    HTTP_DownloadFile_Incremental(showWindow ? window : nullptr, url, local, error, &bar, content, limit);
    const int64_t elapsed = MillisecondClock() - started;
    if (probe) {
        // The latency thread may be waiting for an answer: keep answering until it has stopped.
        probe->RequestStop();
        while (!probe->Finished()) {
            DispatchPendingMessages();
            Sleep(1);
        }
    }
    std::printf("steps=%d\nlasttext=%s\nerror=%s\nblock_gap_max_ms=%lld\n", steps, lastText.c_str(), error.c_str(),
                static_cast<long long>(maxStepGap));
    if (local.empty()) {
        std::printf("bytes=%zu\n", content.size());
        if (content.size() <= 65536)
            std::printf("content=%s\n", Hex(content).c_str());
    } else {
        const DWORD attributes = GetFileAttributesA(local.c_str());
        std::printf("bytes=%lld\n", attributes == INVALID_FILE_ATTRIBUTES
                                        ? -1LL
                                        : static_cast<long long>(FileSizeByName(local)));
    }
    std::printf("elapsed_ms=%lld\n", static_cast<long long>(elapsed));
    PrintMemory();
    if (probe) {
        probe->Print();
        delete probe;
    }
    DestroyWindow(window);
    std::fflush(stdout);
    return error.empty() ? 0 : 1;
}

int Plain(const std::string& url, const std::string& target)
{
    const int64_t started = MillisecondClock();
    std::string error;
    unsigned long long total = 0;
    int64_t maxGap = 0;  // the longest time between two blocks
    const HINTERNET root = ::InternetOpenA("plain", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    const HINTERNET request =
        root ? ::InternetOpenUrlA(root, url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0) : nullptr;
    const HANDLE file =
        CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!request || file == INVALID_HANDLE_VALUE) {
        error = "cannot open";
    } else {
        static char buffer[8192];
        DWORD read = 0;
        int64_t last = MillisecondClock();
        while (::InternetReadFile(request, buffer, sizeof buffer, &read) && read > 0) {
            DWORD written = 0;
            WriteFile(file, buffer, read, &written, nullptr);
            total += read;
            const int64_t now = MillisecondClock();
            maxGap = now - last > maxGap ? now - last : maxGap;
            last = now;
        }
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (request)
        ::InternetCloseHandle(request);
    if (root)
        ::InternetCloseHandle(root);
    std::printf("error=%s\nbytes=%llu\nelapsed_ms=%lld\nblock_gap_max_ms=%lld\n", error.c_str(), total,
                static_cast<long long>(MillisecondClock() - started), static_cast<long long>(maxGap));
    PrintMemory();
    std::fflush(stdout);
    return error.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "get" && argc >= 4) {
        bool showWindow = false, latency = false;
        int closeAfter = -1;
        uint64_t limit = 0;
        for (int i = 4; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--window")
                showWindow = true;
            else if (arg == "--latency")
                latency = true;
            else if (arg == "--close-after" && i + 1 < argc)
                closeAfter = static_cast<int>(StrToInt64Def(argv[++i], 0));
            else if (arg == "--limit" && i + 1 < argc)
                limit = static_cast<uint64_t>(StrToInt64Def(argv[++i], 0));
            else if (arg == "--timeout" && i + 1 < argc)
                SetDownloadTimeout(static_cast<DWORD>(StrToInt64Def(argv[++i], 0)));
        }
        return Get(argv[2], argv[3], showWindow, closeAfter, latency, limit);
    }
    if (command == "plain" && argc >= 4)
        return Plain(argv[2], argv[3]);
    if (command == "size" && argc >= 3) {
        std::printf("size=%d\n", HTTP_GetFileSize(argv[2]));
        return 0;
    }
    if (command == "connected") {
        std::string error;
        const bool connected = InternetConnected(error);
        std::printf("connected=%s\nerror=%s\n", BoolText(connected).c_str(), error.c_str());
        return connected ? 0 : 1;
    }
    std::fprintf(stderr, "usage: ulvhttp get URL TARGET [--window] [--close-after MS] [--latency] [--limit BYTES]"
                         " [--timeout MS]\n"
                         "       ulvhttp plain URL TARGET | size URL | connected\n");
    return 2;
}
