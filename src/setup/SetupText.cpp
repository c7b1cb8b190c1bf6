#include "setup/SetupText.h"

#include "pack/PackX.h"
#include "util/Utils.h"

uint64_t PinnedDownloadLimit(const std::string& sha256, const std::string& sizeText)
{
    if (Trim(sha256).empty())
        return 0;
    const int64_t size = StrToInt64Def(Trim(sizeText), 0);
    return size > 0 ? static_cast<uint64_t>(size) : 0;
}

std::string TokenSuffix(uint32_t threadId)
{
    return "_" + IntToStr(threadId);
}

std::string FormatMegabytes(double bytes)
{
    // "!(bytes > 0)" also catches a NaN from a failed free-space query.
    const double mb = !(bytes > 0) ? 0.0 : bytes / 1048576.0;
    const int decimals = mb > 10 ? 1 : mb >= 1 ? 2 : 3;
    return FixedDecimals(mb, decimals);
}

std::string RemoveSwitch(const std::string& text, const std::string& sw)
{
    if (sw.empty())
        return text;
    const size_t p = text.find(sw);
    if (p == std::string::npos)
        return text;
    // The switch's own "/" always goes; the value runs up to the next "/" or the end.
    const size_t next = text.find('/', p + 1);
    std::string out = text;
    out.erase(p, next == std::string::npos ? std::string::npos : next - p);
    return out;
}

std::string EngineProgramName(const std::string& mainFile)
{
    return Trim(mainFile.substr(0, mainFile.find('*')));
}

std::string EngineCommandLine(const EngineCommandInput& in, LeadByteTest isLead)
{
    std::string line =
        "\"" + SetTrailingBackslashOf(in.workFolder, true, isLead) + EngineProgramName(in.mainFile) + "\"";

    std::string extra = in.extraSwitches;
    const size_t star = in.mainFile.find('*');
    if (star != std::string::npos)
        extra = Trim(extra + " " + Trim(in.mainFile.substr(star + 1)));
    if (!extra.empty())
        line += " " + extra;

    line += " /TH_ID=" + in.tokenSuffix;
    // The launcher's temporary copy hands on its launcher's path as "/OriginExe="; that one names
    // the file the user started and stays, instead of a second one naming the copy.
    if (line.find("/OriginExe=") == std::string::npos)
        line += " /OriginExe=\"" + in.ownPath + "\"";
    if (in.updateContainer)
        line += " /AutoUpdateProg";
    line = RemoveSwitch(line, "/SpanCdLvl=");
    return RemoveSwitch(line, "/SpanDiskFName1=");
}

bool HasRoom(double required, double available)
{
    return required < available;
}

std::string DriveOfFolder(const std::string& folder)
{
    if (folder.empty())
        return "";
    return UpperCase(folder.substr(0, 1)) + ":";
}

std::string TempDriveMessage(bool showTempDriveInfo, double required, double available, const std::string& workFolder,
                             const TempDriveTexts& texts)
{
    std::string message;
    if (showTempDriveInfo)
        message = texts.s2;
    if (!HasRoom(required, available))
        message = texts.s3;
    if (message.empty())
        return "";
    message += texts.s4 + texts.s5 + texts.s6;
    message = ReplaceText(message, "<DRIVE>", DriveOfFolder(workFolder));
    message = ReplaceText(message, "<SPACE_REQ>", FormatMegabytes(required));
    return ReplaceText(message, "<SPACE_AVAIL>", FormatMegabytes(available));
}

char ChooseAlternativeDrive(char currentDrive, const std::array<double, 3>& freeBytes)
{
    const char current = UpperCase(std::string(1, currentDrive))[0];
    char best = current;
    double bestFree = 0;
    for (size_t k = 0; k < AlternativeDrives.size(); ++k) {
        if (freeBytes[k] > bestFree) {
            best = AlternativeDrives[k];
            bestFree = freeBytes[k];
        }
    }
    return best == current ? '\0' : best;
}

std::string AlternativeTempRoot(char drive, bool tempFolderExists)
{
    const std::string root = std::string(1, drive) + ":\\TEMP";
    return tempFolderExists ? root + "\\TEMP" : root;
}

std::string AgentCopyImage(std::string image)
{
    // The end of data is a 64-bit field, but a stub image is far below 4 GB: its low half is the
    // offset.
    const uint64_t endOfData = EndOfDataFromImage(image) & 0xFFFFFFFFu;
    if (endOfData > 0 && endOfData < image.size())
        image.resize(static_cast<size_t>(endOfData));
    if (image.size() > 5)
        image[image.size() - 5] = 1;
    return image;
}

std::string DownloadQuestion(const std::string& question, const std::string& downloadSize)
{
    int64_t size = 0;
    if (!TryParseInt64(Trim(downloadSize), size) || size < INT32_MIN || size > INT32_MAX)
        size = 0;
    return ReplaceText(question, "<SIZE>", FormatMegabytes(static_cast<double>(size)));
}

std::string NoConnectionMessage(const std::string& noConnection, const std::string& detail)
{
    return detail.empty() ? noConnection : noConnection + "<P><P>" + detail;
}
