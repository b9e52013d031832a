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

// A decoded picture in memory, in one of three forms:
//  - 32-bit: rows of words whose low three bytes are R, G, B in memory order (so a word read on
//    a little-endian machine is a ColorValue) and whose top byte means nothing and must be
//    masked off;
//  - 8-bit (`indices` set): rows of one palette index a pixel, and a palette of 256
//    ColorValues (top byte zero), so that a palette picture needs no 32-bit copy;
//  - 24-bit (`rgb` set): rows of three bytes a pixel, R, G, B in memory order.
// Readers go through at() or readRow(), or take the form's rows themselves where it pays.
struct PictureView {
    const std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t strideWords = 0;  // words from one row to the next (32-bit form)
    const std::uint8_t* indices = nullptr;
    std::ptrdiff_t strideBytes = 0;  // bytes from one row to the next (8- and 24-bit forms)
    const ColorValue* palette = nullptr;
    const std::uint8_t* rgb = nullptr;

    static PictureView indexed8(const std::uint8_t* indices, int width, int height,
                                std::ptrdiff_t strideBytes, const ColorValue* palette) {
        PictureView v;
        v.width = width;
        v.height = height;
        v.indices = indices;
        v.strideBytes = strideBytes;
        v.palette = palette;
        return v;
    }
    static PictureView rgb24(const std::uint8_t* rgb, int width, int height,
                             std::ptrdiff_t strideBytes) {
        PictureView v;
        v.width = width;
        v.height = height;
        v.rgb = rgb;
        v.strideBytes = strideBytes;
        return v;
    }

    bool indexed() const { return indices != nullptr; }
    bool packed() const { return rgb != nullptr; }
    bool empty() const {
        const bool none = indexed() ? palette == nullptr : !packed() && pixels == nullptr;
        return none || width <= 0 || height <= 0;
    }
    // The 32-bit form's row y.
    const std::uint32_t* row(int y) const { return pixels + std::ptrdiff_t(y) * strideWords; }
    // The 8-bit form's row y.
    const std::uint8_t* indexRow(int y) const { return indices + std::ptrdiff_t(y) * strideBytes; }
    // The 24-bit form's row y.
    const std::uint8_t* rgbRow(int y) const { return rgb + std::ptrdiff_t(y) * strideBytes; }

    ColorValue at(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height || empty()) return kOutsidePicture;
        if (indexed()) return palette[indexRow(y)[x]];
        if (packed()) return rgbAt(rgbRow(y) + std::ptrdiff_t(x) * 3);
        return row(y)[x] & 0x00FFFFFFu;
    }
    // The colours of `count` pixels of row y from column x0 on, all inside the picture.
    void readRow(int y, int x0, std::size_t count, ColorValue* out) const {
        if (indexed()) {
            const std::uint8_t* p = indexRow(y) + x0;
            for (std::size_t i = 0; i < count; ++i) out[i] = palette[p[i]];
        } else if (packed()) {
            const std::uint8_t* p = rgbRow(y) + std::ptrdiff_t(x0) * 3;
            for (std::size_t i = 0; i < count; ++i) out[i] = rgbAt(p + 3 * i);
        } else {
            const std::uint32_t* p = row(y) + x0;
            for (std::size_t i = 0; i < count; ++i) out[i] = p[i] & 0x00FFFFFFu;
        }
    }
    static ColorValue rgbAt(const std::uint8_t* p) { return colorFromRgb(p[0], p[1], p[2]); }
};

static_assert(sizeof(ColorValue) == 4);

}  // namespace plx
