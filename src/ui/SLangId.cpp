#include "ui/SLangId.h"

#include <utility>

#include "util/USUB.h"
#include "util/Utils.h"

namespace {

struct LanguageRow {
    const char* name;
    const char* id;
};

// Primary identifiers (two digits) first, then the full identifiers of the compound names.
constexpr LanguageRow kRows[] = {
    {"AFRIKAANS", "54"}, {"ALBANIAN", "28"}, {"ARABIC", "01"}, {"BASQUE", "45"},
    {"BELARUSIAN", "35"}, {"BULGARIAN", "02"}, {"CATALAN", "03"}, {"CHINESE", "04"},
    {"CROATIAN", "26"}, {"CZECH", "05"}, {"DANISH", "06"}, {"DUTCH", "19"},
    {"ENGLISH", "09"}, {"ESTONIAN", "37"}, {"FAEROESE", "56"}, {"FARSI", "41"},
    {"FINNISH", "11"}, {"FRENCH", "12"}, {"GERMAN", "07"}, {"GREEK", "08"},
    {"HEBREW", "13"}, {"HUNGARIAN", "14"}, {"ICELANDIC", "15"}, {"INDONESIAN", "33"},
    {"ITALIAN", "16"}, {"JAPANESE", "17"}, {"KOREAN", "18"}, {"LATVIAN", "38"},
    {"LITHUANIAN", "39"}, {"NORWEGIAN", "20"}, {"POLISH", "21"}, {"PORTUGUESE", "22"},
    {"ROMANIAN", "24"}, {"RUSSIAN", "25"}, {"SERBIAN", "26"}, {"SLOVAK", "27"},
    {"SLOVENIAN", "36"}, {"SPANISH", "10"}, {"SWEDISH", "29"}, {"THAI", "30"},
    {"TURKISH", "31"}, {"UKRAINIAN", "34"}, {"VIETNAMESE", "42"},
    {"CHINESE(SIMPLIFIED)", "2052"}, {"CHINESE(TRADITIONAL)", "1028"},
    {"DUTCH(FLEMISH)", "2067"}, {"DUTCH(STANDARD)", "1043"},
    {"PORTUGUESE(PORTUGAL)", "2070"}, {"PORTUGUESE(BRAZIL)", "1046"},
    {"SERBIAN(LATIN)", "2074"}, {"SERBIAN(CYRILIC)", "3098"},
};

std::string BuildLanguageNames()
{
    std::string list = "|";
    for (const LanguageRow& row : kRows) {
        std::string item = row.name;
        // The "=" stands in column 14 for the plain names and in column 22 for the compound ones.
        const size_t column = std::string(row.id).size() == 2 ? 14 : 22;
        item.resize(column - 1, ' ');
        item += "= ";
        item += row.id;
        list += item + "|";
    }
    return list;
}

}  // namespace

const std::string& LauncherTextDefault(const std::string& key)
{
    static const std::pair<std::string, std::string> kTexts[] = {
        {"s0", "Ulvane Installation Suite"},
        {"s1", "Extracting Files..."},
        {"s2", "Ulvane will extract files to your Temp Drive (<DRIVE>)<P>"},
        {"s3", "Limited Free Space on your Temp Drive! (<DRIVE>)<P>"},
        {"s4", "<P>Estimated space required on your Temp drive is: <T>  <SPACE_REQ> MB<P>"},
        {"s5", "Free space available on your Temp drive is: <T>  <SPACE_AVAIL> MB<P>"},
        {"s6", "<P>Continue with Setup?<P>"},
        {"s7", "Bad CRC!<P>This indicates that your setup file might be corrupted..."},
        {"s8", "Please insert <B>DISK #<DISK_NUM></B> and press OK to continue"},
        {"s10", "Downloading File..."},
        {"s11", "<b>INTERNET DOWNLOAD</b><p><p>Ulvane will download the Setup File from the Internet...<p>Please "
                "make sure your Internet connection is properly set.<p><p>Continue with Setup?<p><P>Size: <SIZE> "
                "MB<P>"},
        {"s12", "No valid Internet Connection.<p>Can not Download File!"},
        {"Error", "Error"},
        {"Attention", "Attention"},
        {"Confirm", "Confirm"},
        {"BtnText", "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|"},
        {"Charset", "0"},
        {"FontSize", "8"},
        {"FontName", "Tahoma"},
    };
    static const std::string none;
    for (const auto& [name, text] : kTexts)
        if (name == key)
            return text;
    return none;
}

const std::string& LanguageNames()
{
    static const std::string names = BuildLanguageNames();
    return names;
}

std::string LanguageNameForId(int languageId)
{
    const std::string wanted = ZeroPad(languageId, 2);
    const std::string& names = LanguageNames();
    const int32_t count = SUB::Count(names);
    for (int32_t i = 0; i < count; ++i) {
        const std::string item = SUB::Item(names, i, "");
        if (item.find(wanted) == std::string::npos)
            continue;
        const size_t eq = item.find('=');
        if (eq != std::string::npos && eq >= 1)
            return Trim(item.substr(0, eq));
    }
    return "";
}

int PrimaryLanguageIdFromPosixLocale(const std::string& locale)
{
    // ISO 639-1 codes of the table's languages and their Windows primary identifiers.
    static constexpr struct {
        const char* code;
        int id;
    } kCodes[] = {
        {"af", 0x36}, {"sq", 0x1C}, {"ar", 0x01}, {"eu", 0x2D}, {"be", 0x23}, {"bg", 0x02},
        {"ca", 0x03}, {"zh", 0x04}, {"hr", 0x1A}, {"cs", 0x05}, {"da", 0x06}, {"nl", 0x13},
        {"en", 0x09}, {"et", 0x25}, {"fo", 0x38}, {"fa", 0x29}, {"fi", 0x0B}, {"fr", 0x0C},
        {"de", 0x07}, {"el", 0x08}, {"he", 0x0D}, {"hu", 0x0E}, {"is", 0x0F}, {"id", 0x21},
        {"it", 0x10}, {"ja", 0x11}, {"ko", 0x12}, {"lv", 0x26}, {"lt", 0x27}, {"nb", 0x14},
        {"nn", 0x14}, {"no", 0x14}, {"pl", 0x15}, {"pt", 0x16}, {"ro", 0x18}, {"ru", 0x19},
        {"sr", 0x1A}, {"sk", 0x1B}, {"sl", 0x24}, {"es", 0x0A}, {"sv", 0x1D}, {"th", 0x1E},
        {"tr", 0x1F}, {"uk", 0x22}, {"vi", 0x2A},
    };
    const std::string code = locale.substr(0, locale.find_first_of("_.@"));
    for (const auto& c : kCodes)
        if (SameText(code, c.code))
            return c.id;
    return 0x09;
}
