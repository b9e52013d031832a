#include "picture/bmp_rgb24.h"

#include <algorithm>
#include <span>
#include <vector>

namespace plx {

bool isPlainRgb24(const BmpInfo& info) {
    return info.bitCount == 24 && info.compression == BmpCompression::Rgb;
}

Result<void> readBmpRgb24(BmpByteSource& source, const BmpInfo& info, std::uint8_t* out,
                          std::ptrdiff_t stride, const std::atomic<bool>* cancel) {
    const auto w = std::size_t(info.width);
    const std::size_t rowBytes = (w * 3 + 3) / 4 * 4;
    // Several file rows a read, about 1 MB: few system calls, little memory.
    const std::size_t rowsPerRead = std::max<std::size_t>(1, (std::size_t{1} << 20) / rowBytes);
    std::vector<std::uint8_t> buffer(rowsPerRead * rowBytes);
    for (int fileRow = 0; fileRow < info.height;) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
            return makeError(ErrorKind::Io, "decoding abandoned");
        const std::size_t rows = std::min(rowsPerRead, std::size_t(info.height - fileRow));
        const std::size_t want = rows * rowBytes;
        const std::int64_t got = source.read(info.pixelOffset + std::uint64_t(fileRow) * rowBytes,
                                             std::span(buffer.data(), want));
        if (got < 0) return makeError(ErrorKind::Io, "read error while decoding");
        if (std::size_t(got) < want)
            return makeError(ErrorKind::Incomplete,
                             "the pixel data ended while it was read (still being written?)");
        for (std::size_t r = 0; r < rows; ++r, ++fileRow) {
            // Stored bottom row first unless the header says top-down; each pixel B, G, R.
            const int y = info.topDown ? fileRow : info.height - 1 - fileRow;
            const std::uint8_t* in = buffer.data() + r * rowBytes;
            std::uint8_t* o = out + std::ptrdiff_t(y) * stride;
            for (std::size_t x = 0; x < w; ++x, in += 3, o += 3) {
                o[0] = in[2];
                o[1] = in[1];
                o[2] = in[0];
            }
        }
    }
    return {};
}

}  // namespace plx
