#include <windows.h>

#include "util/UtilsWin.h"

#include <vector>

#include "util/CommandLine.h"
#include "util/Utils.h"

std::string ExePath()
{
    // GetModuleFileName truncates silently: grow until the name fits.
    std::vector<char> buf(MAX_PATH + 1);
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0)
            return "";
        if (n < buf.size() - 1)
            return std::string(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

std::string SetTrailingBackslash(const std::string& path, bool add)
{
    std::string p = path;
    // A backslash that is the second byte of a double-byte character is no separator.
    if (p.size() >= 3 && p.back() == '\\' &&
        !IsDBCSLeadByte(static_cast<BYTE>(p[p.size() - 2])))
        p.pop_back();
    if (add)
        p += '\\';
    return p;
}

std::string ExeFolder(bool trailingBackslash)
{
    const std::string path = ExePath();
    const size_t cut = path.find_last_of("\\:");
    return SetTrailingBackslash(cut == std::string::npos ? "" : path.substr(0, cut + 1), trailingBackslash);
}

std::string TempFolder(bool trailingBackslash)
{
    char buf[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(sizeof buf, buf);
    return SetTrailingBackslash(n > 0 && n < sizeof buf ? std::string(buf, n) : std::string(), trailingBackslash);
}

std::string CommandTail()
{
    return CommandTailOf(GetCommandLineA(), ExePath());
}

std::string SwitchValue(const std::string& sw)
{
    return SwitchValueIn(CommandTail(), sw);
}

bool SwitchPresent(const std::string& sw)
{
    return SwitchPresentIn(CommandTail(), sw);
}

int64_t SwitchInt(const std::string& sw, int64_t def)
{
    return SwitchIntIn(CommandTail(), sw, def);
}

std::string CommandLineValue(const std::string& spec, const std::string& def)
{
    return CommandLineValueIn(GetCommandLineA(), spec, def);
}

std::string FileVersionText(const std::string& fileName)
{
    const std::string name = fileName.empty() ? ExePath() : fileName;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(name.c_str(), &ignored);
    if (size == 0)
        return "";
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(name.c_str(), 0, size, data.data()))
        return "";
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &len) || !info ||
        len < sizeof(VS_FIXEDFILEINFO))
        return "";
    return IntToStr(HIWORD(info->dwFileVersionMS)) + "." + IntToStr(LOWORD(info->dwFileVersionMS)) + "." +
           IntToStr(HIWORD(info->dwFileVersionLS)) + "." + IntToStr(LOWORD(info->dwFileVersionLS));
}

double NowDateTime()
{
    SYSTEMTIME st{};
    GetLocalTime(&st);
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    const uint64_t ticks = (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;  // 100 ns since 1601
    // 1601-01-01 is 109205 days before 1899-12-30.
    return static_cast<double>(ticks) / 864000000000.0 - 109205.0;
}

namespace {

char LocaleChar(LCTYPE what, char fallback)
{
    char buf[8] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, what, buf, sizeof buf) > 1)
        return buf[0];
    return fallback;
}

}  // namespace

char LocaleDateSeparator()
{
    return LocaleChar(LOCALE_SDATE, '/');
}

char LocaleTimeSeparator()
{
    return LocaleChar(LOCALE_STIME, ':');
}

void CentreInWorkArea(int width, int height, int& left, int& top)
{
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    left = area.left + (area.right - area.left - width) / 2;
    top = area.top + (area.bottom - area.top - height) / 2;
}

namespace {
UINT g_autoPlayMessage = 0;
}  // namespace

unsigned AutoPlayCancelMessage(bool registerIt)
{
    g_autoPlayMessage = registerIt ? RegisterWindowMessageA("QueryCancelAutoPlay") : 0;
    return g_autoPlayMessage;
}

unsigned AutoPlayCancelMessage()
{
    return g_autoPlayMessage;
}

int64_t MillisecondClock()
{
    // The factor is fixed for the run; the counter avoids the coarse tick count so that short
    // waits end close to their deadline.
    static const long double factor = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return f.QuadPart > 0 ? 1000.0L / static_cast<long double>(f.QuadPart) : 0.0L;
    }();
    LARGE_INTEGER c{};
    QueryPerformanceCounter(&c);
    return static_cast<int64_t>(static_cast<long double>(c.QuadPart) * factor + 0.5L);
}

void PumpMessages(uint32_t milliseconds)
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT && msg.hwnd == nullptr) {
            // A thread's quit belongs to the loop that owns the thread, not to a wait inside it:
            // hand it back and stop here, so that the caller's own loop still ends.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    Sleep(milliseconds);
}

void WaitPumping(int64_t step, int64_t duration)
{
    if (step == 0)
        step = Clamp64(duration / 10, 1, 25);
    const int64_t deadline = MillisecondClock() + duration;
    do {
        PumpMessages(static_cast<uint32_t>(Clamp64(step, 0, 0x7FFFFFFF)));
    } while (MillisecondClock() < deadline);
}
