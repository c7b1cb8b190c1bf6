#pragma once
// The agent's two settings files, key by key: the .original file (the installed product and the
// agent's own timing) and the INFO file (the newest publication), both beside the agent, both
// read afresh at every access so that a value written by one step (or by the setup engine) is
// what the next step sees. Missing files, sections and keys give the defaults; failed writes
// change nothing else. Also the override slots and the agent commands that touch the files.
#include <cstdint>
#include <string>

#include "autoupdate/StubGlobRules.h"

// The current local time as the agent's time stamp (local seconds).
int64_t LocalSeconds();

// --- .original, section "OriginalSetup" -------------------------------------------------------
int64_t ProbeSecondsInterval();  // 0: once more, -1: never
int64_t ProbeSecondsLast();
int64_t ReAskSecondsInterval();
int64_t ReAskSecondsLast();
int32_t VersionOriginal();
int32_t StampOriginal();
std::string OriginalProgramName();
void WriteProbeSecondsInterval(int64_t seconds);
void WriteReAskSecondsInterval(int64_t seconds);
// Both also write their readable mirror ("__ProbeSecondsLast", "__ReAskSecondsLast").
void WriteProbeSecondsLast(int64_t localSeconds);
void WriteReAskSecondsLast(int64_t localSeconds);
void WriteVersionOriginal(int32_t version);
void WriteStampOriginal(int32_t stamp);
// Section "Directories".
std::string OriginalDirectory(const std::string& key);  // "TargetDir", "SharedDir", "AuxiliaryDir"

// --- .original, the agent's texts and fonts ------------------------------------------------------
// A text of section "AutoUpdate" (markup), `def` when missing or empty.
std::string AutoUpdateText(const std::string& key, const std::string& def);
// Section "MsgBox": the button captions, a title ("Error", "Confirm", "Attention"; the key is the
// default), the character set, font face and size of every box, label and dialog.
std::string MsgBoxButtons();
std::string MsgBoxTitle(const std::string& key);
int32_t MsgBoxCharSet();
std::string MsgBoxFontName();
int32_t MsgBoxFontSize();

// --- INFO, section "NewSetup" ----------------------------------------------------------------------
std::string DownloadURL_UPDATE();
std::string NameOfUpdateFile();
int32_t SizeOfUpdateFile();
// The update file's SHA-256 as published (64 hexadecimal digits); empty when the publisher named
// none, and the file is then trusted on its token alone.
std::string SHA256OfUpdateFile();
// The flags that have an override slot answer through it.
bool RequestConfirmationBeforeDownload();
bool RequestConfirmationBeforeDownloadForce();
bool RequestConfirmationBeforeInstall();
bool RequestConfirmationBeforeInstallForce();
bool BackgroundUpdate();
bool RestartProcess();
bool InformFinish();
bool RemoveStartUpShortcut();
bool RemoveCheckForNewUpdateShortcut();
std::string ShutDownMethod();
std::string RunningProcess();
std::string InfoProgramName();
int32_t VersionNew();
int32_t StampNew();
std::string ValidVersions();
// --- INFO, sections "General" and "AutoInform" ---------------------------------------------------
// "AutoInform" is exactly 1: the publication is an information page, not an update.
bool IsAutoInform();
std::string DownloadURL_INFORM();
std::string NameOfInformFile();
int32_t SizeOfInformFile();
std::string SHA256OfInformFile();  // as SHA256OfUpdateFile, for the inform file
int32_t AutoInformW();
int32_t AutoInformH();

// --- overrides and commands ----------------------------------------------------------------------
// The process's override slots (all unset at start).
SettingOverrides& Overrides();
// Ask the user before every automatic check (override slot 0 holds 1).
bool AskBeforeEveryCheck();
// Runs agent command 4, 5, 8 to 15 or 20 to 25 and returns its result (reads: the low 32 bits of
// the value); false for any other code.
bool SettingsCommand(int32_t code, int32_t value, int32_t& result);
