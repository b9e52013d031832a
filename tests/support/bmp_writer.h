#pragma once
// Writes BMP files for tests: any picture in any of the encodings the station reads.
//
//   using namespace plx::test;
//   std::vector<plx::ColorValue> px(w * h, plx::kPureRed);       // row-major, top row first
//   writeFile(dir + "/label.bmp", encodeBmp(w, h, px));              // 24-bit, bottom-up
//   writeFile(path, encodeBmp(w, h, px, {BmpFormat::Rle8, {plx::kBlack, plx::kPureRed}}));
//   writeFile(path, encodeBmp(w, h, px, {BmpFormat::Rgb565, {}, /*topDown=*/true}));
//
// Colours are plx::ColorValue (0x00BBGGRR). Paletted formats need every pixel to be one of
// the palette colours (otherwise encodeBmp throws std::invalid_argument). 16-bit formats keep
// the top 5 (6) bits of each channel; decodedColor() says what a correct reader gives back.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/color.h"

namespace plx::test {

enum class BmpFormat {
    Pal1,             // 1 bit, palette of up to 2 colours
    Pal4,             // 4 bits, up to 16 colours
    Pal8,             // 8 bits, up to 256 colours
    Rle4,             // 4 bits, RLE4 compressed (runs and literal runs)
    Rle8,             // 8 bits, RLE8 compressed (runs and literal runs)
    Rgb555,           // 16 bits, 5-5-5, BI_RGB
    Rgb555Bitfields,  // 16 bits, 5-5-5, BI_BITFIELDS
    Rgb565,           // 16 bits, 5-6-5, BI_BITFIELDS
    Rgb24,            // 24 bits, BI_RGB
    Rgb32,            // 32 bits, BI_RGB (top byte 0)
    Rgb32Bitfields,   // 32 bits, BI_BITFIELDS with masks 0x00FF0000 / 0x0000FF00 / 0x000000FF
};

struct BmpOptions {
    BmpOptions() = default;
    BmpOptions(BmpFormat f, std::vector<ColorValue> pal = {},
               bool down = false)  // NOLINT: implicit
        : format(f), palette(std::move(pal)), topDown(down) {}

    BmpFormat format = BmpFormat::Rgb24;
    std::vector<ColorValue> palette;  // paletted formats only
    bool topDown = false;             // negative height; not allowed with RLE
};

// A complete BMP file (40-byte info header). Throws std::invalid_argument on impossible input.
std::vector<std::uint8_t> encodeBmp(int width, int height, const std::vector<ColorValue>& pixels,
                                    const BmpOptions& options = {});

// The colour a correct reader returns for `c` stored in `format` (exact for all but 16 bits).
ColorValue decodedColor(BmpFormat format, ColorValue c);

// A w x h job picture (row-major) mixing the four print colours with colours that must not
// print: white, grey and the near colours one step off red, green, blue, black and white. The
// same seed gives the same picture.
std::vector<ColorValue> mixedPicture(int w, int h, unsigned seed);

// Writes (replacing) the file; throws std::runtime_error if that fails.
void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readFile(const std::string& path);

}  // namespace plx::test
