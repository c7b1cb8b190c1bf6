#include <windows.h>

#include "util/UDebug.h"

#include <mutex>

#include "util/Handles.h"
#include "util/UDebugFormat.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

std::mutex g_traceLock;
bool g_logSwitch = false;
std::string g_logPrefix = "   ";

void WriteToStdout(const std::string& text)
{
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return;  // no listener: the text goes nowhere
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

void TraceLine(const std::string& text)
{
    std::lock_guard<std::mutex> lock(g_traceLock);
    WriteToStdout(text + "\r\n");
}

void TracePid(const std::string& text)
{
    TraceLine(IntToStr(GetCurrentProcessId()) + text);
}

void SetAgentLogSwitch(bool on)
{
    g_logSwitch = on;
}

void SetLogPrefix(const std::string& prefix)
{
    g_logPrefix = prefix;
}

std::string LogFileName()
{
    static const std::string name = AgentLogFileNameFor(ExePath());
    return name;
}

void LogLine(const std::string& message)
{
    if (!g_logSwitch)
        return;
    const std::string stamp = LogTimeStamp(NowDateTime(), LocaleDateSeparator(), LocaleTimeSeparator());
    const std::string line = FormatLogLine(stamp, GetCurrentThreadId(), g_logPrefix, message);
    // The plain agent and its transient copy may append at the same time: share everything,
    // write each line with one call, and never let a failure reach the caller.
    UniqueFile file(CreateFileA(LogFileName().c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    DWORD written = 0;
    WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
