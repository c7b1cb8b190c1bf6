#include <gtest/gtest.h>

#include "stub/StubDispatch.h"

namespace {

TEST(StubDispatch, RoleTable)
{
    const struct {
        bool isAgent;
        std::string own, agent;
        bool spanCopy;
        int64_t level;
        StubRole role;
    } cases[] = {
        {true, "agent.exe", "agent.exe", false, 1, StubRole::PlainAgent},
        {true, " Agent.EXE ", "agent.exe", false, 1, StubRole::PlainAgent},
        {true, "x_Agent.EXE", "agent.exe", false, 1, StubRole::TransientAgent},
        {true, "X_agent.exe", " agent.exe ", true, 1, StubRole::TransientAgent},
        // An agent stored under another name runs as a launcher.
        {true, "renamed.exe", "agent.exe", false, 1, StubRole::Launcher},
        {false, "agent.exe", "agent.exe", false, 1, StubRole::Launcher},
        {false, "setup.exe", "", true, 1, StubRole::SpanCopyStart},
        // The temp-folder copy runs the setup itself even though the flag is set.
        {false, "Y_setup.exe", "", true, 2, StubRole::Launcher},
        {false, "setup.exe", "", false, 2, StubRole::Launcher},
        {false, "setup.exe", "", true, 3, StubRole::Launcher},
    };
    for (const auto& c : cases) {
        StubRoleInputs in;
        in.isAgent = c.isAgent;
        in.ownFileName = c.own;
        in.agentExeName = c.agent;
        in.spanCopyToTemp = c.spanCopy;
        in.spanCdLvl = c.level;
        EXPECT_EQ(ChooseStubRole(in), c.role) << c.own << " / " << c.agent;
    }
}

TEST(StubDispatch, ClassNames)
{
    EXPECT_EQ(StubClassNameFor(true, "C:\\p\\Agent.exe", "Agent.exe"), ".AutoUpdate.Agent");
    EXPECT_EQ(StubClassNameFor(true, "C:\\p\\X_Agent.exe", "X_Agent.exe"), ".AutoUpdate.X_Agent");
    EXPECT_EQ(StubClassNameFor(false, "C:\\p\\setup.exe", "setup.exe"), "C:\\p\\setup.exe");
    EXPECT_EQ(TransientClassNameFor("Agent.exe"), ".AutoUpdate.X_Agent");
    EXPECT_EQ(TransientClassNameFor("my.agent.exe"), ".AutoUpdate.X_my.agent");
    EXPECT_EQ(TransientClassNameFor("agent"), ".AutoUpdate.X_agent");
}

TEST(StubDispatch, SpanCopyArguments)
{
    EXPECT_EQ(SpanCopyArguments("", "C:\\d\\setup.exe"),
              "/SpanCdLvl=2 /SpanDiskFName1=\"C:\\d\\setup.exe.001\" /OriginExe=\"C:\\d\\setup.exe\"");
    EXPECT_EQ(SpanCopyArguments("/hide", "C:\\d\\setup.exe"),
              "/hide /SpanCdLvl=2 /SpanDiskFName1=\"C:\\d\\setup.exe.001\" /OriginExe=\"C:\\d\\setup.exe\"");
}

}  // namespace
