#pragma once
// Tokens: texts the builder stores scrambled in the container header and in published pages.
// A downloaded file is trusted only when its token equals the running program's.
#include <string>

// The token of a scrambled text; for an invalid input a random decimal number text (0..99998),
// so that an invalid token equals another one only by chance.
std::string DescrambleToken(const std::string& scrambled);
