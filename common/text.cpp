#include "common/text.h"

#include <locale.h>
#include <algorithm>
#include <cstdint>
#include <cwctype>

namespace plx {

std::vector<std::string> splitAt(std::string_view text, char separator) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const auto at = text.find(separator, start);
        if (at == std::string_view::npos) {
            out.emplace_back(text.substr(start));
            return out;
        }
        out.emplace_back(text.substr(start, at - start));
        start = at + 1;
    }
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = upperAscii(c);
    return out;
}

namespace {

// The code point at text[at] and its length in bytes; length 0 for a byte that does not start
// a well-formed sequence (overlong forms and surrogates included).
std::pair<char32_t, std::size_t> decodeUtf8(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return std::uint8_t(text[i]); };
    const std::uint8_t lead = byte(at);
    std::size_t n = 0;
    char32_t cp = 0;
    if (lead < 0x80) return {lead, 1};
    if (lead >= 0xC2 && lead <= 0xDF)
        n = 2, cp = lead & 0x1Fu;
    else if (lead >= 0xE0 && lead <= 0xEF)
        n = 3, cp = lead & 0x0Fu;
    else if (lead >= 0xF0 && lead <= 0xF4)
        n = 4, cp = lead & 0x07u;
    else
        return {0, 0};
    if (at + n > text.size()) return {0, 0};
    for (std::size_t i = 1; i < n; ++i) {
        if ((byte(at + i) & 0xC0u) != 0x80u) return {0, 0};
        cp = (cp << 6) | (byte(at + i) & 0x3Fu);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {0, 0};
    return {cp, n};
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// Made once and kept: the table does not depend on the process's own locale settings.
locale_t utf8Locale() {
    static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    return loc;
}

}  // namespace

std::string upperUtf8(std::string_view text) {
    const locale_t loc = utf8Locale();
    if (loc == locale_t(nullptr)) return upperAscii(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto [cp, n] = decodeUtf8(text, at);
        if (n == 0) {
            out += text[at++];
            continue;
        }
        appendUtf8(out,
                   n == 1 ? char32_t(upperAscii(char(cp))) : char32_t(towupper_l(wint_t(cp), loc)));
        at += n;
    }
    return out;
}

bool lessIgnoringCase(std::string_view a, std::string_view b) {
    const auto n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char x = lowerAscii(a[i]);
        const char y = lowerAscii(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

}  // namespace plx
