#pragma once
// Pixel colours as the station reads and plots them, and a view of a decoded picture.

#include <cstddef>
#include <cstdint>

namespace plx {

// 0x00BBGGRR: red in the low byte.
using ColorValue = std::uint32_t;

inline constexpr ColorValue kBlack = 0x000000;
inline constexpr ColorValue kPureRed = 0x0000FF;
inline constexpr ColorValue kPureGreen = 0x00FF00;
inline constexpr ColorValue kPureBlue = 0xFF0000;
// What positions outside the picture read as: equal to none of the print colours.
inline constexpr ColorValue kOutsidePicture = 0xFFFFFFFF;

constexpr ColorValue colorFromRgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return ColorValue(r) | (ColorValue(g) << 8) | (ColorValue(b) << 16);
}
constexpr std::uint8_t redOf(ColorValue c) { return std::uint8_t(c & 0xFF); }
constexpr std::uint8_t greenOf(ColorValue c) { return std::uint8_t((c >> 8) & 0xFF); }
constexpr std::uint8_t blueOf(ColorValue c) { return std::uint8_t((c >> 16) & 0xFF); }

// A decoded picture in memory: rows of 32-bit words whose low three bytes are R, G, B in
// memory order (so a word read on a little-endian machine is a ColorValue) and whose top
// byte means nothing and must be masked off.
struct PictureView {
    const std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t strideWords = 0;  // words from one row to the next

    bool empty() const { return pixels == nullptr || width <= 0 || height <= 0; }
    const std::uint32_t* row(int y) const { return pixels + std::ptrdiff_t(y) * strideWords; }
    ColorValue at(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height || pixels == nullptr)
            return kOutsidePicture;
        return row(y)[x] & 0x00FFFFFFu;
    }
};

static_assert(sizeof(ColorValue) == 4);

}  // namespace plx
