#pragma once
// The pages of a PWG ("RaS2") or CUPS ("3SaR") raster file, read through libcups, so that tests,
// the demo and the benchmarks can check every device pixel the printer would have received.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/color.h"
#include "common/result.h"

namespace plx {

struct RasterPage {
    unsigned width = 0;   // pixels
    unsigned height = 0;  // rows
    unsigned resX = 0;    // dpi
    unsigned resY = 0;
    unsigned colorSpace = 0;  // cups_cspace_t
    unsigned bitsPerColor = 0;
    unsigned numColors = 0;
    unsigned bytesPerLine = 0;
    std::vector<std::uint8_t> data;  // height rows of bytesPerLine bytes, chunky pixels

    // The pixel as a ColorValue; kOutsidePicture outside the page or for a pixel format that is
    // not 8-bit RGB or 1 to 8-bit grey (e.g. CMYK).
    ColorValue pixel(unsigned x, unsigned y) const;
};

// Every page of the file. A missing or bad file, or rows cut short, give an error, never a
// partial page; a file cut short between pages reads as the pages before the cut.
Result<std::vector<RasterPage>> readRaster(const std::string& path);
// The same from bytes in memory (a document before it is sent); `what` names it in errors.
Result<std::vector<RasterPage>> readRaster(const std::uint8_t* data, std::size_t size,
                                           const std::string& what);

struct RasterDot {
    int x = 0;
    int y = 0;
    ColorValue color = 0;
    friend bool operator==(const RasterDot&, const RasterDot&) = default;
};

// Every pixel that is not white, row by row, left to right.
std::vector<RasterDot> nonWhiteDots(const RasterPage& page);

}  // namespace plx
