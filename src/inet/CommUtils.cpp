#include "inet/CommUtils.h"

#include <algorithm>

#include "util/Utils.h"

namespace {

// Only the start of a download is looked at: an error page shows itself in its head, and a
// large setup file is not searched through.
constexpr size_t ErrorPageSampleLength = 1000;
// The rate text is refreshed no more often than this, so that the display does not flicker.
constexpr uint32_t RateRefreshMs = 500;


}  // namespace

TBytesRate::TBytesRate(bool kbDisplay, bool mbDisplay) : kbDisplay_(kbDisplay), mbDisplay_(mbDisplay)
{
    Reset();
}

void TBytesRate::Reset()
{
    ticks_.fill(0);
    bytes_.fill(0);
    rateText_.clear();
    lastUpdate_ = 0;
}

std::string TBytesRate::RateText(int32_t blockBytes, uint32_t tick)
{
    std::rotate(ticks_.begin(), ticks_.begin() + 1, ticks_.end());
    ticks_.back() = tick;
    std::rotate(bytes_.begin(), bytes_.begin() + 1, bytes_.end());
    bytes_.back() = blockBytes;

    // The four intervals between the five ticks, and the four blocks that arrived in them. The
    // tick count wraps around after 49.7 days: unsigned differences stay right across the wrap.
    const uint32_t span = ticks_.back() - ticks_.front();
    int64_t amount = 0;
    for (size_t i = 1; i < bytes_.size(); ++i)
        amount += bytes_[i];

    // A zero oldest tick is a slot not yet filled since the reset.
    if (ticks_.front() != 0 && span != 0 && static_cast<uint32_t>(tick - lastUpdate_) > RateRefreshMs) {
        lastUpdate_ = tick;
        rateText_ = FixedDecimals(static_cast<double>(amount) / (span / 1000.0) / 1024.0, 2);
    }
    return rateText_;
}

std::string TBytesRate::ProgressText(int64_t total, int64_t done, int32_t blockBytes, uint32_t tick)
{
    std::string text;
    if (mbDisplay_)
        text = FormatMB(done) + "/" + FormatMB(total) + " MB";
    else if (kbDisplay_)
        text = FormatKB(done) + "/" + FormatKB(total) + " KB";
    else
        text = IntToStr(done) + "/" + IntToStr(total) + " Bytes";
    const std::string rate = RateText(blockBytes, tick);
    if (!rate.empty())
        text += "   -   " + rate + " KB/Sec";
    return text;
}

bool IsErrorPageText(const std::string& text)
{
    const std::string head = text.substr(0, ErrorPageSampleLength);
    const int titleStart = PosCI("<TITLE", head);
    const int code = PosCI("404", head);
    const int titleEnd = PosCI("</TITLE>", head);
    const int html = PosCI("<HTML>", head);
    const int headTag = PosCI("<HEAD>", head);
    const int title = PosCI("<TITLE>", head);

    // Positions are 0 when absent. Each comparison starts from an occurrence (> 0), so an absent
    // text never counts as lying after one.
    const bool titleCarries404 = titleStart > 0 && code > titleStart && titleEnd > code;
    const bool titledHtmlPage = html > 0 && headTag > html && title > headTag && titleEnd > title;
    return titleCarries404 || titledHtmlPage;
}

std::string ErrorPageMessage(bool errorPage, const std::string& text, const std::string& url,
                             const std::string& fallback, bool serverHint)
{
    if (!errorPage)
        return fallback;
    std::string message = "<B>404 File Not Found...</B><P><P>URL:  " + url + "." +
                          "<P><P>Please make sure the file is available and access is allowed to this file.";
    // IIS answers with such a page for a file type it has no MIME type for (.exe among them),
    // even when the file is there.
    if (serverHint && PosCI("IIS", text) > 0)
        message += "<P><P>If you are using an IIS webserver you must define appropriate MIME-Types.";
    return message;
}
