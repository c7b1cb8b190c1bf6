// Token descrambling and page tokens on arbitrary texts: never a crash, never a read outside the
// block, and every scramble the builder can make reads back as its token.
#include <cstdint>
#include <string>

#include "pack/PackToken.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)DescrambleToken(text);
    (void)TokenFromText(text);

    // The same bytes as a token: scrambled with key and filler taken from the input, it must
    // come back as the token and its NUL.
    size_t next = 0;
    const std::string scrambled = ScrambleToken(text, [&] { return next < size ? data[next++] : 0x5Au; });
    if (DescrambleToken(scrambled) != text + std::string(1, '\0'))
        __builtin_trap();
    return 0;
}
