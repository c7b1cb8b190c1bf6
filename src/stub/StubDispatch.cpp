#include "stub/StubDispatch.h"

#include "util/Utils.h"

bool IsPlainAgent(const StubRoleInputs& in)
{
    return in.isAgent && SameTrimmedText(in.ownFileName, in.agentExeName);
}

bool IsTransientAgent(const StubRoleInputs& in)
{
    return in.isAgent && SameTrimmedText(in.ownFileName, "X_" + Trim(in.agentExeName));
}

bool SpanCopyWanted(const StubRoleInputs& in)
{
    return in.spanCopyToTemp && in.spanCdLvl == 1;
}

bool IsSpanCopyLevel(int64_t spanCdLvl)
{
    return spanCdLvl == 2;
}

StubRole ChooseStubRole(const StubRoleInputs& in)
{
    if (IsPlainAgent(in))
        return StubRole::PlainAgent;
    if (IsTransientAgent(in))
        return StubRole::TransientAgent;
    if (SpanCopyWanted(in))
        return StubRole::SpanCopyStart;
    return StubRole::Launcher;
}

std::string WithoutLastExtension(const std::string& fileName)
{
    const size_t dot = fileName.rfind('.');
    const size_t sep = fileName.find_last_of("\\:");
    if (dot == std::string::npos || (sep != std::string::npos && dot < sep))
        return fileName;
    return fileName.substr(0, dot);
}

std::string StubClassNameFor(bool isAgent, const std::string& ownPath, const std::string& ownFileName)
{
    return isAgent ? ".AutoUpdate." + WithoutLastExtension(ownFileName) : ownPath;
}

std::string TransientClassNameFor(const std::string& agentExeName)
{
    return ".AutoUpdate.X_" + WithoutLastExtension(agentExeName);
}

std::string SpanCopyArguments(const std::string& commandTail, const std::string& ownPath)
{
    return Trim(commandTail + " /SpanCdLvl=2 /SpanDiskFName1=\"" + ownPath + ".001\" /OriginExe=\"" + ownPath + "\"");
}
