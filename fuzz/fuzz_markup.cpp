// The box and dialog markup on arbitrary texts: never a crash, no tag left in the plain text's
// bold stretches beyond its end, and the measuring of the result stays within its lines.
#include <cstdint>
#include <string>

#include "ui/MarkupText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string markup(reinterpret_cast<const char*>(data), size);
    const PlainMarkup plain = ConvertMarkup(markup);
    for (const BoldStretch& stretch : plain.bold) {
        if (stretch.start < 0 || stretch.end > static_cast<int>(plain.text.size()) || stretch.start >= stretch.end)
            __builtin_trap();
    }
    const auto width = [](const std::string& line) { return static_cast<int>(line.size()) * 7; };
    const TextExtent extent = MeasureMarkupText(plain.text, width, 13);
    (void)FittingRequestHeight(plain.text, extent, 13);
    (void)MarkupButtons(static_cast<uint32_t>(size), markup);
    return 0;
}
