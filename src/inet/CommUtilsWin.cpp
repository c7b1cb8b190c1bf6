#include <windows.h>

#include "inet/CommUtils.h"

#include "util/Files.h"

bool IsErrorPage(const std::string& fileName, const std::string& text)
{
    // A downloaded file is judged by its own start; without one, by the text the caller holds.
    std::string sample = text;
    if (!fileName.empty()) {
        const DWORD attributes = GetFileAttributesA(fileName.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            sample = ReadFilePart(fileName, 1000, 0);
    }
    return IsErrorPageText(sample);
}

std::string ErrorPageText(const std::string& fileName, const std::string& text, const std::string& url,
                          const std::string& fallback, bool serverHint)
{
    return ErrorPageMessage(IsErrorPage(fileName, text), text, url, fallback, serverHint);
}
