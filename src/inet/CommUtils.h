#pragma once
// What a download shows and how its result is judged: the transfer-rate and progress texts of a
// running transfer, and the test that recognises a server's HTML error page delivered in place of
// the expected file. Portable: the clock is an input, files are read by the Win32 edge
// (CommUtilsWin.cpp).
#include <array>
#include <cstdint>
#include <string>

// The running byte count of one transfer as a progress text such as
// '3.4/12.0 MB   -   215.37 KB/Sec'. The rate is measured over a sliding window of the last five
// blocks and refreshed at most every 500 ms, without allocating per block.
class TBytesRate {
public:
    // Megabyte display takes precedence over kilobyte display; neither gives bytes.
    TBytesRate(bool kbDisplay, bool mbDisplay);
    // Forgets every sample and the rate text.
    void Reset();
    // Records a block of `blockBytes` that arrived at `tick` (milliseconds since system start)
    // and returns the rate in KB/s with two decimals ('215.37'); empty until five blocks were
    // recorded since the reset, the previous text within 500 ms of the last refresh.
    std::string RateText(int32_t blockBytes, uint32_t tick);
    // "done/total MB" (or KB, or Bytes), followed by "   -   RATE KB/Sec" once a rate exists.
    std::string ProgressText(int64_t total, int64_t done, int32_t blockBytes, uint32_t tick);

private:
    std::array<uint32_t, 5> ticks_{};
    std::array<int32_t, 5> bytes_{};
    std::string rateText_;
    uint32_t lastUpdate_ = 0;
    bool kbDisplay_;
    bool mbDisplay_;
};

// The first 1000 characters of `text` look like an HTML error page: a title that carries "404",
// or any page whose "<HTML>", "<HEAD>", "<TITLE>" and "</TITLE>" come in this order (letter case
// ignored). Setups, INFO files and information pages never look like that.
bool IsErrorPageText(const std::string& text);
// The markup message for an error page at `url` (with the IIS hint when `serverHint` is set and
// `text` mentions "IIS"), or `fallback` unchanged when `errorPage` is false.
std::string ErrorPageMessage(bool errorPage, const std::string& text, const std::string& url,
                             const std::string& fallback, bool serverHint);

// --- Win32 edge ----------------------------------------------------------------------------
// IsErrorPageText of the file's first 1000 bytes when `fileName` names an existing file, of
// `text` otherwise.
bool IsErrorPage(const std::string& fileName, const std::string& text);
// ErrorPageMessage(IsErrorPage(fileName, text), text, ...): the hint looks at `text`, never at
// the file's content.
std::string ErrorPageText(const std::string& fileName, const std::string& text, const std::string& url,
                          const std::string& fallback, bool serverHint);
