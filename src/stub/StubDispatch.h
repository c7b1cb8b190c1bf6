#pragma once
// The choice of role at start-up, as plain functions of what the program knows about itself:
// the container's role bytes, its own file name and the "/SpanCdLvl=" switch.
#include <cstdint>
#include <string>

struct StubRoleInputs {
    bool isAgent = false;           // the container's ThisIs_AutoUpdateProg
    std::string ownFileName;        // the program file's name without its folder
    std::string agentExeName;       // the container's AgentExeName
    bool spanCopyToTemp = false;    // the container's SpanCopyToTemp flag
    int64_t spanCdLvl = 1;          // "/SpanCdLvl=": missing or no number counts as 1
};

enum class StubRole {
    PlainAgent,      // makes and starts the transient copy, forwards control switches
    TransientAgent,  // "X_" + agent name: runs the update cycle
    SpanCopyStart,   // multi-disk launcher that first runs a copy of itself from the temp folder
    Launcher,        // setup launcher, or that temp-folder copy
};

bool IsPlainAgent(const StubRoleInputs& in);
bool IsTransientAgent(const StubRoleInputs& in);
bool SpanCopyWanted(const StubRoleInputs& in);
bool IsSpanCopyLevel(int64_t spanCdLvl);
// The first role whose condition holds, in the order plain agent, transient agent, span copy,
// launcher.
StubRole ChooseStubRole(const StubRoleInputs& in);

// The file name without its last extension: 'Agent.exe' gives 'Agent'.
std::string WithoutLastExtension(const std::string& fileName);
// The window class of this run: ".AutoUpdate." + own name without extension for an agent, the
// own path for every other role (so one launcher path runs once at a time).
std::string StubClassNameFor(bool isAgent, const std::string& ownPath, const std::string& ownFileName);
// The transient copy's window class: ".AutoUpdate.X_" + agent name without its last extension.
std::string TransientClassNameFor(const std::string& agentExeName);
// The arguments of the temp-folder copy of a multi-disk launcher.
std::string SpanCopyArguments(const std::string& commandTail, const std::string& ownPath);
