#pragma once
// Splitting and ASCII case folding, as names and settings are compared here: byte by byte,
// whatever the locale.

#include <string>
#include <string_view>
#include <vector>

namespace plx {

// Cut at every `separator`, empty pieces kept: "a//b" gives "a", "", "b"; "" gives "".
std::vector<std::string> splitAt(std::string_view text, char separator);

constexpr char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
constexpr char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
std::string upperAscii(std::string_view text);
// Upper case for every letter of UTF-8 text ("é" becomes "É"), by the C.UTF-8 locale's table
// whatever the process's locale; bytes that are not UTF-8 stay as they are.
std::string upperUtf8(std::string_view text);

// Name order without regard to ASCII case; names that differ only in case keep a fixed order.
bool lessIgnoringCase(std::string_view a, std::string_view b);

}  // namespace plx
