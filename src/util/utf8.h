// Reading and writing single UTF-8 characters.
#pragma once

#include <cstddef>      // lengths
#include <string>       // output
#include <string_view>  // input

namespace postrix {

// The length of the valid, shortest-form UTF-8 sequence at s[i], with its
// code point in cp; 0 when s[i] starts none (a surrogate or a code point
// above U+10FFFF is not valid either).
std::size_t utf8At(std::string_view s, std::size_t i, char32_t& cp);

// Appends the UTF-8 form of code point cp.
void appendUtf8(std::string& out, char32_t cp);

}  // namespace postrix
