#pragma once
// Small files the container tests build on.
#include <string>

// A stand-in for the stub executable: "MZ" at 0 and "PE" at 256, zeros elsewhere (the
// EndOfData field included), `size` bytes in all.
inline std::string FakeStubImage(size_t size = 1024)
{
    std::string image(size, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    image[256] = 'P';
    image[257] = 'E';
    return image;
}
