#include "tools/raster_pages.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace plx {
namespace {

// A ceiling for one decoded page (a 2400 dpi A3 page in 16-bit RGB is ~3.4 GB, far beyond
// anything the station prints): a damaged header must not ask for terabytes.
constexpr std::uint64_t kMaxPageBytes = std::uint64_t(2) << 30;

bool isRgb(unsigned space) {
    return space == CUPS_CSPACE_RGB || space == CUPS_CSPACE_SRGB || space == CUPS_CSPACE_ADOBERGB;
}
bool isGray(unsigned space) {
    return space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW || space == CUPS_CSPACE_K;
}

struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};
struct RasterCloser {
    void operator()(cups_raster_t* r) const { cupsRasterClose(r); }
};

Result<RasterPage> readPage(cups_raster_t* raster, const cups_page_header2_t& h,
                            const std::string& where) {
    if (h.cupsColorOrder != CUPS_ORDER_CHUNKED)
        return makeError(ErrorKind::Invalid, where + ": only chunky pixels are supported");
    if (std::uint64_t(h.cupsBytesPerLine) * h.cupsHeight > kMaxPageBytes)
        return makeError(ErrorKind::Invalid, where + ": page too large");
    RasterPage page{h.cupsWidth,       h.cupsHeight,       h.HWResolution[0],
                    h.HWResolution[1], h.cupsColorSpace,   h.cupsBitsPerColor,
                    h.cupsNumColors,   h.cupsBytesPerLine, {}};
    page.data.resize(std::size_t(page.bytesPerLine) * page.height);
    for (unsigned y = 0; y < page.height; ++y) {
        std::uint8_t* row = page.data.data() + std::size_t(y) * page.bytesPerLine;
        if (cupsRasterReadPixels(raster, row, page.bytesPerLine) != page.bytesPerLine)
            return makeError(ErrorKind::Incomplete, where + ": data ends at row " +
                                                        std::to_string(y) + " of " +
                                                        std::to_string(page.height));
    }
    return page;
}

}  // namespace

ColorValue RasterPage::pixel(unsigned x, unsigned y) const {
    if (x >= width || y >= height || data.size() < std::size_t(height) * bytesPerLine)
        return kOutsidePicture;
    const std::uint8_t* row = data.data() + std::size_t(y) * bytesPerLine;
    if (isRgb(colorSpace) && numColors == 3 && bitsPerColor == 8) {
        const std::uint8_t* p = row + std::size_t(x) * 3;
        return colorFromRgb(p[0], p[1], p[2]);
    }
    if (isGray(colorSpace) && numColors == 1 && bitsPerColor <= 8) {
        const unsigned bit = x * bitsPerColor;
        const unsigned mask = (1u << bitsPerColor) - 1;
        const unsigned v = (unsigned(row[bit / 8]) >> (8 - bitsPerColor - bit % 8)) & mask;
        auto g = std::uint8_t(v * 255 / mask);
        if (colorSpace == CUPS_CSPACE_K) g = std::uint8_t(255 - g);  // 0 is white
        return colorFromRgb(g, g, g);
    }
    return kOutsidePicture;
}

namespace {

Result<std::vector<RasterPage>> readPages(cups_raster_t* opened, const std::string& what) {
    const std::unique_ptr<cups_raster_t, RasterCloser> raster(opened);
    std::vector<RasterPage> pages;
    cups_page_header2_t header;
    while (raster && cupsRasterReadHeader2(raster.get(), &header) != 0) {
        auto page =
            readPage(raster.get(), header, what + ": page " + std::to_string(pages.size() + 1));
        if (!page) return page.error();
        pages.push_back(std::move(page).value());
    }
    if (pages.empty())
        return makeError(ErrorKind::Invalid, what + ": not a PWG or CUPS raster file with pages");
    return pages;
}

}  // namespace

Result<std::vector<RasterPage>> readRaster(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        return makeError(err == ENOENT ? ErrorKind::NotFound : ErrorKind::Io,
                         path + ": " + std::strerror(err));
    }
    const FdCloser closeFd{fd};
    return readPages(cupsRasterOpen(fd, CUPS_RASTER_READ), path);
}

Result<std::vector<RasterPage>> readRaster(const std::uint8_t* data, std::size_t size,
                                           const std::string& what) {
    struct Bytes {
        const std::uint8_t* at;
        std::size_t left;
    } bytes{data, size};
    auto read = [](void* ctx, unsigned char* buffer, size_t length) -> ssize_t {
        auto* b = static_cast<Bytes*>(ctx);
        const std::size_t n = std::min(length, b->left);
        std::memcpy(buffer, b->at, n);
        b->at += n;
        b->left -= n;
        return ssize_t(n);
    };
    return readPages(cupsRasterOpenIO(read, &bytes, CUPS_RASTER_READ), what);
}

std::vector<RasterDot> nonWhiteDots(const RasterPage& page) {
    std::vector<RasterDot> dots;
    for (unsigned y = 0; y < page.height; ++y)
        for (unsigned x = 0; x < page.width; ++x) {
            const ColorValue c = page.pixel(x, y);
            if (c != 0xFFFFFFu) dots.push_back({int(x), int(y), c});
        }
    return dots;
}

}  // namespace plx
