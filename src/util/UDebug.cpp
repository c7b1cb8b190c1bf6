#include <windows.h>

#include "util/UDebug.h"

#include "util/Handles.h"
#include "util/UDebugFormat.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

bool g_logSwitch = false;
std::string g_logPrefix = "   ";

// The redirected standard output of the trace lines. The buffer is small on purpose: every piece
// must fit into a global atom (255 characters) on its way to the viewer.
class TraceChannel {
public:
    static constexpr size_t BufferSize = 128;

    TraceChannel() : message_(RegisterWindowMessageA(".U_DebugMsg.")) {}

    void Write(const std::string& text)
    {
        const Lock lock(lock_);
        for (const char c : text) {
            buffer_[used_++] = c;
            if (used_ == BufferSize)
                HandOver();
        }
    }

    void EndLine()
    {
        const Lock lock(lock_);
        for (const char c : {'\r', '\n'}) {
            buffer_[used_++] = c;
            if (used_ == BufferSize)
                HandOver();
        }
        HandOver();
    }

private:
    // The system's slim lock rather than std::mutex, whose POSIX thread layer would come into
    // every stub with it.
    class Lock {
    public:
        explicit Lock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
        ~Lock() { ReleaseSRWLockExclusive(&lock_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        SRWLOCK& lock_;
    };

    // Called with the lock held. Without a viewer the text is simply dropped.
    void HandOver()
    {
        if (used_ == 0)
            return;
        const std::string piece(buffer_, used_);
        used_ = 0;
        const HWND viewer = FindWindowA(".UDebug.", nullptr);
        if (!viewer || message_ == 0)
            return;
        // A piece starting with "#" and digits would be taken for an integer atom; such a piece
        // is rare in trace text and still arrives, only as the viewer reads that atom's name.
        UniqueGlobalAtom atom(GlobalAddAtomA(piece.c_str()));
        if (!atom)
            return;
        // The viewer reads the text while it handles the message, so the atom lives until the
        // send returns. A viewer that hangs must not hang the program: give up after a while.
        DWORD_PTR result = 0;
        SendMessageTimeoutA(viewer, message_, 1, static_cast<LPARAM>(atom.Get()), SMTO_ABORTIFHUNG | SMTO_BLOCK,
                            5000, &result);
    }

    SRWLOCK lock_ = SRWLOCK_INIT;
    UINT message_;
    char buffer_[BufferSize] = {};
    size_t used_ = 0;
};

TraceChannel& Channel()
{
    static TraceChannel channel;
    return channel;
}

}  // namespace

void TraceWrite(const std::string& text)
{
    Channel().Write(text);
}

void TraceLine(const std::string& text)
{
    Channel().Write(text);
    Channel().EndLine();
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
