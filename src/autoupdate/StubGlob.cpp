#include "autoupdate/StubGlob.h"

#include "setup/StubSetup.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

constexpr char OriginalSetup[] = "OriginalSetup";
constexpr char NewSetup[] = "NewSetup";
constexpr char DefaultButtons[] = "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|";

std::string Text(const std::string& file, const std::string& section, const std::string& key,
                 const std::string& def = std::string())
{
    return ReadIniString(file, section, key, def);
}
int64_t Integer(const std::string& file, const std::string& section, const std::string& key, int64_t def)
{
    return IntegerValue(ReadIniString(file, section, key, IntToStr(def)), def);
}
int32_t Integer32(const std::string& file, const std::string& section, const std::string& key, int32_t def)
{
    return Low32(Integer(file, section, key, def));
}
bool Flag(const std::string& file, const std::string& section, const std::string& key)
{
    return FlagValue(ReadIniString(file, section, key, "0"));
}
bool InfoFlag(const std::string& key, size_t slot)
{
    return Overrides().Flag(slot, Flag(InfoFilePath(), NewSetup, key));
}

void WriteInteger(const std::string& key, int64_t value)
{
    WriteIniString(OriginalFilePath(), OriginalSetup, key, IntToStr(value));
}
void WriteStamp(const std::string& key, int64_t localSeconds)
{
    WriteInteger(key, localSeconds);
    WriteIniString(OriginalFilePath(), OriginalSetup, "__" + key, MirrorText(localSeconds));
}

}  // namespace

int64_t LocalSeconds()
{
    return LocalSecondsFromDateTime(NowDateTime());
}

int64_t ProbeSecondsInterval() { return Integer(OriginalFilePath(), OriginalSetup, "ProbeSecondsInterval", 0); }
int64_t ProbeSecondsLast() { return Integer(OriginalFilePath(), OriginalSetup, "ProbeSecondsLast", 0); }
int64_t ReAskSecondsInterval() { return Integer(OriginalFilePath(), OriginalSetup, "ReAskSecondsInterval", 0); }
int64_t ReAskSecondsLast() { return Integer(OriginalFilePath(), OriginalSetup, "ReAskSecondsLast", 0); }
int32_t VersionOriginal() { return Integer32(OriginalFilePath(), OriginalSetup, "VersionOriginal", 0); }
int32_t StampOriginal() { return Integer32(OriginalFilePath(), OriginalSetup, "Stamp", 0); }
std::string OriginalProgramName() { return Text(OriginalFilePath(), OriginalSetup, "ProgramName"); }
void WriteProbeSecondsInterval(int64_t seconds) { WriteInteger("ProbeSecondsInterval", seconds); }
void WriteReAskSecondsInterval(int64_t seconds) { WriteInteger("ReAskSecondsInterval", seconds); }
void WriteProbeSecondsLast(int64_t localSeconds) { WriteStamp("ProbeSecondsLast", localSeconds); }
void WriteReAskSecondsLast(int64_t localSeconds) { WriteStamp("ReAskSecondsLast", localSeconds); }
void WriteVersionOriginal(int32_t version) { WriteInteger("VersionOriginal", version); }
void WriteStampOriginal(int32_t stamp) { WriteInteger("Stamp", stamp); }
std::string OriginalDirectory(const std::string& key) { return Text(OriginalFilePath(), "Directories", key); }

std::string AutoUpdateText(const std::string& key, const std::string& def)
{
    return Text(OriginalFilePath(), "AutoUpdate", key, def);
}
std::string MsgBoxButtons() { return Text(OriginalFilePath(), "MsgBox", "BtnText", DefaultButtons); }
std::string MsgBoxTitle(const std::string& key) { return Text(OriginalFilePath(), "MsgBox", key, key); }
int32_t MsgBoxCharSet() { return Integer32(OriginalFilePath(), "MsgBox", "CharSet", 0); }
std::string MsgBoxFontName() { return Text(OriginalFilePath(), "MsgBox", "FontName", "Tahoma"); }
int32_t MsgBoxFontSize() { return Integer32(OriginalFilePath(), "MsgBox", "FontSize", 8); }

std::string DownloadURL_UPDATE() { return Text(InfoFilePath(), NewSetup, "DownloadURL_UPDATE"); }
std::string NameOfUpdateFile() { return Text(InfoFilePath(), NewSetup, "NameOfUpdateFile"); }
int32_t SizeOfUpdateFile() { return Integer32(InfoFilePath(), NewSetup, "SizeOfUpdateFile", 0); }
std::string SHA256OfUpdateFile() { return Text(InfoFilePath(), NewSetup, "SHA256OfUpdateFile"); }
bool RequestConfirmationBeforeDownload() { return InfoFlag("RequestConfirmationBeforeDownload", SlotConfirmDownload); }
bool RequestConfirmationBeforeDownloadForce()
{
    return InfoFlag("RequestConfirmationBeforeDownloadForce", SlotConfirmDownloadForce);
}
bool RequestConfirmationBeforeInstall() { return InfoFlag("RequestConfirmationBeforeInstall", SlotConfirmInstall); }
bool RequestConfirmationBeforeInstallForce()
{
    return InfoFlag("RequestConfirmationBeforeInstallForce", SlotConfirmInstallForce);
}
bool BackgroundUpdate() { return InfoFlag("BackgroundUpdate", SlotBackgroundUpdate); }
bool RestartProcess() { return InfoFlag("RestartProcess", SlotRestartProcess); }
bool InformFinish() { return InfoFlag("InformFinish", SlotInformFinish); }
bool RemoveStartUpShortcut() { return Flag(InfoFilePath(), NewSetup, "RemoveStartUpShortcut"); }
bool RemoveCheckForNewUpdateShortcut() { return Flag(InfoFilePath(), NewSetup, "RemoveCheckForNewUpdateShortcut"); }
std::string ShutDownMethod() { return Text(InfoFilePath(), NewSetup, "ShutDownMethod"); }
std::string RunningProcess() { return Text(InfoFilePath(), NewSetup, "RunningProcess"); }
std::string InfoProgramName() { return Text(InfoFilePath(), NewSetup, "ProgramName"); }
int32_t VersionNew() { return Integer32(InfoFilePath(), NewSetup, "VersionNew", 0); }
int32_t StampNew() { return Integer32(InfoFilePath(), NewSetup, "Stamp", 0); }
std::string ValidVersions() { return Text(InfoFilePath(), NewSetup, "ValidVersions"); }

bool IsAutoInform() { return Integer(InfoFilePath(), "General", "AutoInform", 0) == 1; }
std::string DownloadURL_INFORM() { return Text(InfoFilePath(), "AutoInform", "DownloadURL_INFORM"); }
std::string NameOfInformFile() { return Text(InfoFilePath(), "AutoInform", "NameOfInformFile"); }
int32_t SizeOfInformFile() { return Integer32(InfoFilePath(), "AutoInform", "SizeOfInformFile", 0); }
std::string SHA256OfInformFile() { return Text(InfoFilePath(), "AutoInform", "SHA256OfInformFile"); }
int32_t AutoInformW() { return Integer32(InfoFilePath(), "AutoInform", "AutoInformW", 360); }
int32_t AutoInformH() { return Integer32(InfoFilePath(), "AutoInform", "AutoInformH", 360); }

SettingOverrides& Overrides()
{
    static SettingOverrides overrides;
    return overrides;
}

bool AskBeforeEveryCheck()
{
    return Overrides().Slot(SlotAskBeforeCheck) == 1;
}

bool SettingsCommand(int32_t code, int32_t value, int32_t& result)
{
    result = 0;
    switch (code) {
    case 4: result = VersionOriginal(); return true;
    case 5: result = VersionNew(); return true;
    case 8: result = Low32(ProbeSecondsInterval()); return true;
    case 9: result = Low32(ReAskSecondsInterval()); return true;
    case 10: result = Low32(ProbeSecondsLast()); return true;
    case 11: result = Low32(ReAskSecondsLast()); return true;
    case 12: WriteProbeSecondsInterval(value); return true;
    case 13: WriteReAskSecondsInterval(value); return true;
    case 14: WriteProbeSecondsLast(value); return true;
    case 15: WriteReAskSecondsLast(value); return true;
    default:
        if (code >= 20 && code <= 25) {
            Overrides().SetSlot(static_cast<size_t>(code - 20), static_cast<uint8_t>(value & 0xFF));
            return true;
        }
        return false;
    }
}
