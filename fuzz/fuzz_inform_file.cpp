// The inform page as the agent downloads it, on arbitrary bytes: the unscrambling of a
// "Scrambled=01" text, the split into token field and body (TokenFromText), and the dialog's
// layout rules fed with the page's published size and any client area the system may report.
// Besides not crashing: the unscrambling and the split agree with a plain model of the format, a
// page the builder publishes scrambled reads back as the plain one, a token the builder scrambles
// reads back, and the parts of the dialog stay where the layout promises.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "autoupdate/StubAURules.h"
#include "autoupdate/StubGlobRules.h"
#include "pack/PackToken.h"
#include "util/Utils.h"

namespace {

const std::string Marker = "Scrambled=01";

// Odd positions (from 1) XOR (j + k), even ones XOR (j - k), both modulo 256.
std::string XorWithKey(const std::string& text, uint8_t key)
{
    std::string out = text;
    for (size_t n = 0; n < out.size(); ++n) {
        const size_t j = n + 1;
        const size_t mask = (j % 2 == 1) ? j + key : j + 256 - key;
        out[n] = static_cast<char>(static_cast<uint8_t>(out[n]) ^ static_cast<uint8_t>(mask));
    }
    return out;
}

std::string ModelUnscrambled(const std::string& text)
{
    if (text.size() <= Marker.size() || text.compare(0, Marker.size(), Marker) != 0)
        return text.size() == Marker.size() && text == Marker ? std::string() : text;
    return XorWithKey(text.substr(Marker.size() + 1), static_cast<uint8_t>(text[Marker.size()]));
}

// Everything after the fourth "|", empty when there are fewer.
std::string ModelBody(const std::string& plain)
{
    size_t from = 0;
    for (int bar = 0; bar < 4; ++bar) {
        const size_t at = plain.find('|', from);
        if (at == std::string::npos)
            return std::string();
        from = at + 1;
    }
    return plain.substr(from);
}

int32_t Int32At(const uint8_t* data, size_t size, size_t at)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && at + i < size; ++i)
        value |= static_cast<uint32_t>(data[at + i]) << (8 * i);
    return static_cast<int32_t>(value);
}

void CheckLayout(int width, int height, bool withAddress)
{
    const InformLayout l = InformLayoutOf(width, height, withAddress);
    if (l.textLeft != 3 || l.textTop != 0 || l.textLeft + l.textWidth != width)
        __builtin_trap();
    if (!withAddress) {
        if (l.textHeight != height || l.buttonWidth != 0 || l.buttonHeight != 0)
            __builtin_trap();
        return;
    }
    // The text ends at the separator line, the band begins right under it, the button sits in
    // the band, centred (integer division: one pixel either way).
    if (l.textHeight != height - 43 || l.lineY != l.textHeight || l.bandTop != l.lineY + 1)
        __builtin_trap();
    if (l.buttonWidth != 160 || l.buttonHeight != 25 || l.buttonTop != height - 33 || l.buttonTop <= l.bandTop)
        __builtin_trap();
    const int off = 2 * l.buttonLeft + l.buttonWidth - width;
    if (off < -1 || off > 1)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    // The page as it came from the server.
    const std::string plain = ScrambleText(text, false, false);
    if (plain != ModelUnscrambled(text))
        __builtin_trap();
    const PageToken page = TokenFromText(text);
    if (page.rest != ModelBody(plain))
        __builtin_trap();

    // The same bytes published scrambled, with a key taken from the input: one unscrambling
    // gives them back, whatever they hold (even a marker of their own).
    const uint8_t key = size > 0 ? data[0] : 0x21;
    const std::string scrambled = Marker + static_cast<char>(key) + XorWithKey(text, key);
    if (ScrambleText(scrambled, false, false) != text || TokenFromText(scrambled).rest != ModelBody(text))
        __builtin_trap();

    // A page the builder writes: its scrambled token reads back (with the NUL the scramble
    // carries after it), its body comes back as it is, scrambled page or not.
    const size_t tokenLength = size > 1 ? std::min<size_t>(data[1] % 24, size) : 0;
    const std::string token = text.substr(0, tokenLength);
    const std::string body = text.substr(tokenLength);
    size_t next = 0;
    const std::string field = ScrambleToken(token, [&] { return next < size ? data[next++] : 0xA5u; });
    const std::string published = "head|" + field + "|w|h|" + body;
    const PageToken read = TokenFromText((size & 1) ? Marker + static_cast<char>(key) + XorWithKey(published, key)
                                                    : published);
    if (read.token != token + std::string(1, '\0') || read.rest != body)
        __builtin_trap();

    // The dialog: its face, its place on the screen from the published size (any 32-bit value
    // the INFO file holds), and its parts in any client area the system reports (16-bit).
    (void)InformTextFace(page.rest);
    const int32_t width = Low32(IntegerValue(text, Int32At(data, size, 0)));
    const int32_t height = Int32At(data, size, 4);
    const int screenWidth = static_cast<int16_t>(Int32At(data, size, 8));
    const int screenHeight = static_cast<int16_t>(Int32At(data, size, 10));
    const WindowPlace place = CentredPlace(screenWidth, screenHeight, width, height);
    const int64_t offX = 2 * static_cast<int64_t>(place.left) + width - screenWidth;
    const int64_t offY = 2 * static_cast<int64_t>(place.top) + height - screenHeight;
    if (offX < -1 || offX > 1 || offY < -1 || offY > 1)
        __builtin_trap();
    const int clientWidth = static_cast<int16_t>(Int32At(data, size, 12));
    const int clientHeight = static_cast<int16_t>(Int32At(data, size, 14));
    CheckLayout(clientWidth, clientHeight, true);
    CheckLayout(clientWidth, clientHeight, false);
    return 0;
}
