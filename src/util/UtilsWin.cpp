#include <windows.h>

#include "util/UtilsWin.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "util/CommandLine.h"
#include "util/Handles.h"
#include "util/PathText.h"
#include "util/SystemLibrary.h"
#include "util/UDebug.h"
#include "util/Utils.h"

namespace {

bool IsLeadByte(unsigned char c)
{
    return IsDBCSLeadByte(c) != FALSE;
}

// version.dll and gdi32.dll are bound at run time (LoadProc) instead of being imported. Every
// program that links these helpers (console tools and test programs too) then links without
// them, and version.dll, which is not one of the system's known DLLs, always comes from the
// system folder, never from a planted copy in the folder of a downloaded setup.
template <class Function>
Function SystemFunction(const char* library, const char* function)
{
    return ProcAddressAs<Function>(LoadProc(library, function));
}

}  // namespace

// --- INI files -------------------------------------------------------------------------------

namespace {
constexpr DWORD IniBufferSize = 10241;   // 10240 characters and the NUL
}  // namespace

std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& def)
{
    // No section, no lookup: the file is not even opened.
    if (section.empty())
        return def;
    try {
        std::string buf(IniBufferSize, '\0');
        const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buf.data(),
                                                 IniBufferSize, file.c_str());
        // An empty value gives the default, exactly as a missing key does; the settings readers
        // rely on it.
        return n > 0 ? buf.substr(0, std::min(n, IniBufferSize - 1)) : def;
    } catch (...) {
        TraceLine("EXCEPTION --- Utils.ReadIniString()  " + LastErrorText());
        return def;
    }
}

int64_t ReadIniInt(const std::string& file, const std::string& section, const std::string& key, int64_t def)
{
    return StrToInt64Def(ReadIniString(file, section, key, IntToStr(def)), def);
}

bool WriteIniString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value)
{
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) != FALSE;
}

bool WriteIniInt(const std::string& file, const std::string& section, const std::string& key, int64_t value)
{
    return WriteIniString(file, section, key, IntToStr(value));
}

// --- registry --------------------------------------------------------------------------------

bool RegistryView64 = false;

namespace {

HKEY RootKey(RegistryRootId root)
{
    switch (root) {
    case RegistryRootId::ClassesRoot:
        return HKEY_CLASSES_ROOT;
    case RegistryRootId::CurrentUser:
        return HKEY_CURRENT_USER;
    case RegistryRootId::LocalMachine:
        return HKEY_LOCAL_MACHINE;
    case RegistryRootId::Users:
        return HKEY_USERS;
    case RegistryRootId::CurrentConfig:
        return HKEY_CURRENT_CONFIG;
    case RegistryRootId::DynData:
        return HKEY_DYN_DATA;
    }
    return HKEY_CURRENT_USER;
}

constexpr DWORD RegistryBufferSize = 10241;

}  // namespace

HKEY RegistryRoot(const std::string& name)
{
    return RootKey(RegistryRootOf(name));
}

HKEY SplitRegistryPath(const std::string& path, std::string& subkey)
{
    RegistryLocation location = SplitRegistryPathOf(path);
    subkey = std::move(location.subkey);
    return RootKey(location.root);
}

std::string ReadRegistryString(const std::string& keyPath, const std::string& valueName, const std::string& def,
                               bool view64)
{
    std::string subkey;
    const HKEY root = SplitRegistryPath(keyPath, subkey);
    HKEY opened = nullptr;
    const REGSAM access = KEY_READ | (view64 ? KEY_WOW64_64KEY : 0);
    if (RegOpenKeyExA(root, subkey.c_str(), 0, access, &opened) != ERROR_SUCCESS)
        return def;
    const UniqueRegKey key(opened);
    std::string data(RegistryBufferSize, '\0');
    DWORD type = 0;
    DWORD size = RegistryBufferSize;
    // Larger data fails the query (ERROR_MORE_DATA) and gives the default, as a missing value.
    if (RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size) != ERROR_SUCCESS)
        return def;
    data.resize(std::min(size, RegistryBufferSize));
    return RegistryDataText(type, data);
}

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
    return SetTrailingBackslashOf(path, add, IsLeadByte);
}

std::string StripTrailingBackslash(const std::string& path)
{
    return StripTrailingBackslashOf(path, IsLeadByte);
}

std::string CollapseBackslashes(const std::string& path, bool strip)
{
    return CollapseBackslashesOf(path, strip, IsLeadByte);
}

std::string ExeFolder(bool trailingBackslash)
{
    const std::string path = ExePath();
    const size_t cut = path.find_last_of("\\:");
    return SetTrailingBackslash(cut == std::string::npos ? "" : path.substr(0, cut + 1), trailingBackslash);
}

namespace {

// The text of a folder query that fills a buffer of MAX_PATH + 1 characters; a result of 0 is a
// failure, one of the buffer's size or more is the size it would have needed.
std::string FolderText(const char* buf, size_t n, size_t size, bool trailingBackslash)
{
    return SetTrailingBackslash(n > 0 && n < size ? std::string(buf, n) : std::string(), trailingBackslash);
}

}  // namespace

std::string WindowsFolder(bool trailingBackslash)
{
    char buf[MAX_PATH + 1] = {};
    return FolderText(buf, GetWindowsDirectoryA(buf, sizeof buf), sizeof buf, trailingBackslash);
}

std::string SystemFolder(bool trailingBackslash)
{
    char buf[MAX_PATH + 1] = {};
    return FolderText(buf, GetSystemDirectoryA(buf, sizeof buf), sizeof buf, trailingBackslash);
}

std::string TempFolder(bool trailingBackslash)
{
    char buf[MAX_PATH + 1] = {};
    return FolderText(buf, GetTempPathA(sizeof buf, buf), sizeof buf, trailingBackslash);
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

std::string CommandLineValue(const std::string& keyText, const std::string& def)
{
    return CommandLineValueIn(GetCommandLineA(), keyText, def);
}

std::string FileVersionText(const std::string& fileName)
{
    static const auto getSize =
        SystemFunction<decltype(&GetFileVersionInfoSizeA)>("version.dll", "GetFileVersionInfoSizeA");
    static const auto getInfo = SystemFunction<decltype(&GetFileVersionInfoA)>("version.dll", "GetFileVersionInfoA");
    static const auto queryValue = SystemFunction<decltype(&VerQueryValueA)>("version.dll", "VerQueryValueA");
    if (!getSize || !getInfo || !queryValue)
        return "";
    const std::string name = fileName.empty() ? ExePath() : fileName;
    DWORD ignored = 0;
    const DWORD size = getSize(name.c_str(), &ignored);
    if (size == 0)
        return "";
    std::vector<char> data(size);
    if (!getInfo(name.c_str(), 0, size, data.data()))
        return "";
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!queryValue(data.data(), "\\", reinterpret_cast<void**>(&info), &len) || !info ||
        len < sizeof(VS_FIXEDFILEINFO))
        return "";
    return IntToStr(HIWORD(info->dwFileVersionMS)) + "." + IntToStr(LOWORD(info->dwFileVersionMS)) + "." +
           IntToStr(HIWORD(info->dwFileVersionLS)) + "." + IntToStr(LOWORD(info->dwFileVersionLS));
}

bool IsWindowsNT()
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::string WindowsVersionKey()
{
    return WindowsVersionKeyOf(IsWindowsNT());
}

std::string RegisteredOwnerName()
{
    return Trim(ReadRegistryString(WindowsVersionKey(), "RegisteredOwner", UserName()));
}

std::string RegisteredOrganizationName()
{
    return Trim(ReadRegistryString(WindowsVersionKey(), "RegisteredOrganization", ""));
}

std::string UserName()
{
    char buf[256] = {};
    DWORD size = sizeof buf;
    if (!GetUserNameA(buf, &size))
        return "";
    return Trim(std::string(buf, strnlen(buf, sizeof buf)));
}

std::string ComputerName()
{
    char buf[256] = {};
    DWORD size = sizeof buf;
    if (!GetComputerNameA(buf, &size))
        return "";
    return Trim(std::string(buf, strnlen(buf, sizeof buf)));
}

std::string UserDomain()
{
    const std::string user = UserName();
    // The first lookup only learns the sizes the second one needs.
    DWORD sidSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use{};
    LookupAccountNameA(nullptr, user.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
    std::vector<BYTE> sid(std::max<DWORD>(sidSize, 1));
    std::vector<char> domain(static_cast<size_t>(domainSize) + 1);
    sidSize = static_cast<DWORD>(sid.size());
    domainSize = static_cast<DWORD>(domain.size());
    if (!LookupAccountNameA(nullptr, user.c_str(), sid.data(), &sidSize, domain.data(), &domainSize, &use))
        return "";
    return Trim(std::string(domain.data(), strnlen(domain.data(), domain.size())));
}

std::string WindowText(HWND window)
{
    if (window == nullptr)
        return "";
    char buf[1024] = {};
    const int n = GetWindowTextA(window, buf, sizeof buf);
    return std::string(buf, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof buf) - 1)));
}

std::string LastErrorText()
{
    const DWORD code = GetLastError();
    // A roomy buffer: the system fails rather than cut a text that does not fit, and the cut to
    // 255 characters is made here.
    char buf[4096] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                   buf, sizeof buf, nullptr);
    std::string text;
    if (n == 0) {
        text = "No system text for error " + std::to_string(code);
    } else {
        text.assign(buf, std::min<size_t>(n, 255));
        while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.'))
            text.pop_back();
    }
    // Callers write the text into a trace line and may still want the code.
    SetLastError(code);
    return text;
}

int PointsToPixels(int points)
{
    // Read once: a change of the screen's resolution during the run is not followed.
    static const int pixelsPerInch = [] {
        static const auto getDeviceCaps = SystemFunction<decltype(&GetDeviceCaps)>("gdi32.dll", "GetDeviceCaps");
        const HDC screen = GetDC(nullptr);
        if (screen == nullptr || !getDeviceCaps)
            return 0;
        const ScopeExit release([screen] { ReleaseDC(nullptr, screen); });
        return getDeviceCaps(screen, LOGPIXELSY);
    }();
    return MulDiv(points, pixelsPerInch, 72);
}

bool ShellRun(const std::string& file, const std::string& parameters, int showCommand)
{
    const HINSTANCE result =
        ShellExecuteA(GetDesktopWindow(), nullptr, file.c_str(), parameters.c_str(), nullptr, showCommand);
    // Not a real module handle: values up to 32 are error codes.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

bool DeveloperMode()
{
    // Evaluated once: a change of the environment during the run is not seen.
    static const bool on = [] {
        char buf[8] = {};
        const DWORD n = GetEnvironmentVariableA("DVX", buf, sizeof buf);
        return n == 3 && std::strcmp(buf, "994") == 0;
    }();
    return on;
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

void DispatchPendingMessages()
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
}

void DispatchPendingMessagesEvery(uint32_t intervalMs)
{
    static ULONGLONG last = 0;
    const ULONGLONG now = GetTickCount64();  // read from memory the system updates: no call out
    if (now - last < intervalMs)
        return;
    last = now;
    DispatchPendingMessages();
}

void PumpMessages(uint32_t milliseconds)
{
    DispatchPendingMessages();
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
