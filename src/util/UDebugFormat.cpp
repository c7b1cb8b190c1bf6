#include "util/UDebugFormat.h"

#include "util/Utils.h"

std::string AgentLogFileNameFor(const std::string& exePath)
{
    const size_t cut = exePath.find_last_of("\\:");
    const std::string folder = cut == std::string::npos ? "" : exePath.substr(0, cut + 1);
    std::string name = cut == std::string::npos ? exePath : exePath.substr(cut + 1);
    if (name.rfind("X_", 0) != 0)
        name = "X_" + name;
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return folder + name + ".log";
}

std::string FormatLogLine(const std::string& timeStamp, uint32_t threadId, const std::string& prefix,
                          const std::string& message)
{
    return timeStamp + " " + PadLeft(IntToStr(threadId), 5, ' ') + prefix + message + "\r\n";
}
