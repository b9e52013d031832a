#pragma once
// Reads the PWG raster files the private print server's capture backend stores, so tests and
// tools can check every device pixel of what the printer would have received.

#include <cstdint>
#include <string>
#include <vector>

#include "common/color.h"
#include "common/result.h"

namespace plx {

// Colour spaces the reader knows how to turn into ColorValue (CUPS/PWG numbering).
enum PwgColorSpace : unsigned {
    kPwgGray = 0,  // luminance
    kPwgRgb = 1,
    kPwgBlack = 3,  // 0 is white
    kPwgSGray = 18,
    kPwgSRgb = 19,
    kPwgAdobeRgb = 20,
};

struct PwgPage {
    unsigned width = 0;   // pixels
    unsigned height = 0;  // rows
    unsigned resX = 0;    // dpi
    unsigned resY = 0;
    unsigned bitsPerColor = 0;
    unsigned bitsPerPixel = 0;
    unsigned bytesPerLine = 0;
    unsigned colorSpace = 0;
    unsigned numColors = 0;
    unsigned numCopies = 0;
    unsigned pageWidthPoints = 0;  // media size, 1/72 inch
    unsigned pageHeightPoints = 0;
    std::string pageSizeName;        // e.g. "na_index-4x6_4x6in", may be empty
    std::vector<std::uint8_t> data;  // height rows of bytesPerLine bytes, decompressed

    // The pixel as 0x00BBGGRR; kOutsidePicture outside the page or for a pixel format
    // the reader cannot express as a colour (e.g. CMYK).
    ColorValue pixel(unsigned x, unsigned y) const;
    const std::uint8_t* row(unsigned y) const {
        return data.data() + std::size_t(y) * bytesPerLine;
    }
};

// Every page of a PWG raster file. A missing, bad or cut-short file gives an error
// (Incomplete when the data ends early), never a partial page.
Result<std::vector<PwgPage>> readPwgRaster(const std::string& path);
// The same from bytes already in memory; `what` names them in error messages.
Result<std::vector<PwgPage>> parsePwgRaster(const std::uint8_t* bytes, std::size_t size,
                                            const std::string& what = "PWG raster");

struct RasterDot {
    int x = 0;
    int y = 0;
    ColorValue color = 0;
    friend bool operator==(const RasterDot&, const RasterDot&) = default;
};

// Every pixel that is not white, row by row, left to right.
std::vector<RasterDot> nonWhiteDots(const PwgPage& page);

}  // namespace plx
