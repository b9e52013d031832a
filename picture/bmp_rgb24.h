#pragma once
// Reads the pixels of an uncompressed 24-bit BMP straight into three bytes a pixel.
//
// Qt's reader gives such a picture four bytes a pixel; read here, a 100-megapixel label takes
// 300 MB instead of 400 MB. Plain C++ on bytes (no Qt), like the check it follows.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/result.h"
#include "picture/bmp_check.h"

namespace plx {

// What readBmpRgb24 reads: 24 bits a pixel, no compression, any header layout.
bool isPlainRgb24(const BmpInfo& info);

// Fills `out` with the picture that checkBmp described as `info`: top row first, each pixel
// R, G, B in memory order, rows `stride` bytes apart. Errors: Incomplete when the file is
// shorter than checkBmp found it (still being written), Io on a read error or once `cancel`
// (may be null) is set.
Result<void> readBmpRgb24(BmpByteSource& source, const BmpInfo& info, std::uint8_t* out,
                          std::ptrdiff_t stride, const std::atomic<bool>* cancel);

}  // namespace plx
