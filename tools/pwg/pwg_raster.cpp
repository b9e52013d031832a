#include "tools/pwg/pwg_raster.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace plx {
namespace {

constexpr std::size_t kHeaderSize = 1796;
// A sane ceiling for one decoded page (a 2400 dpi A3 page in 16-bit RGB is ~3.4 GB, far
// beyond anything the station prints): stops a damaged header from asking for terabytes.
constexpr std::uint64_t kMaxPageBytes = std::uint64_t(2) << 30;

// Bytes from memory or from a file, read in blocks so big rasters are not held twice.
class ByteReader {
  public:
    ByteReader(const std::uint8_t* bytes, std::size_t size) : m_data(bytes), m_size(size) {}
    explicit ByteReader(std::FILE* file) : m_file(file), m_buffer(1 << 16) {}

    // False when the input ends before n bytes.
    bool read(std::uint8_t* dst, std::size_t n) {
        while (n > 0) {
            if (m_pos == m_size && !refill()) return false;
            const std::size_t take = std::min(n, m_size - m_pos);
            std::memcpy(dst, m_data + m_pos, take);
            m_pos += take;
            dst += take;
            n -= take;
        }
        return true;
    }
    // -1 at the end of the input.
    int get() {
        if (m_pos == m_size && !refill()) return -1;
        return m_data[m_pos++];
    }
    bool atEnd() { return m_pos == m_size && !refill(); }
    bool failed() const { return m_error; }

  private:
    bool refill() {
        if (m_file == nullptr) return false;
        const std::size_t got = std::fread(m_buffer.data(), 1, m_buffer.size(), m_file);
        if (got == 0) {
            m_error = std::ferror(m_file) != 0;
            return false;
        }
        m_data = m_buffer.data();
        m_size = got;
        m_pos = 0;
        return true;
    }

    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_pos = 0;
    std::FILE* m_file = nullptr;
    std::vector<std::uint8_t> m_buffer;
    bool m_error = false;
};

unsigned be32(const std::uint8_t* p) {
    return (unsigned(p[0]) << 24) | (unsigned(p[1]) << 16) | (unsigned(p[2]) << 8) | unsigned(p[3]);
}

// What the "fill the rest of the line" code paints: white in additive spaces.
std::uint8_t blankByte(unsigned colorSpace) {
    switch (colorSpace) {
        case kPwgGray:
        case kPwgRgb:
        case kPwgSGray:
        case kPwgSRgb:
        case kPwgAdobeRgb:
            return 0xFF;
        default:
            return 0x00;
    }
}

Error pageError(ErrorKind kind, const std::string& what, std::size_t pageIndex,
                const std::string& message) {
    return makeError(kind, what + ": page " + std::to_string(pageIndex + 1) + ": " + message);
}

Result<PwgPage> readHeader(const std::uint8_t* h, const std::string& what, std::size_t pageIndex) {
    PwgPage page;
    page.resX = be32(h + 276);
    page.resY = be32(h + 280);
    page.numCopies = be32(h + 340);
    page.pageWidthPoints = be32(h + 352);
    page.pageHeightPoints = be32(h + 356);
    page.width = be32(h + 372);
    page.height = be32(h + 376);
    page.bitsPerColor = be32(h + 384);
    page.bitsPerPixel = be32(h + 388);
    page.bytesPerLine = be32(h + 392);
    const unsigned colorOrder = be32(h + 396);
    page.colorSpace = be32(h + 400);
    page.numColors = be32(h + 420);
    const char* name = reinterpret_cast<const char*>(h + 1732);
    page.pageSizeName.assign(name, strnlen(name, 64));

    auto bad = [&](const std::string& m) {
        return pageError(ErrorKind::Invalid, what, pageIndex, m);
    };
    if (page.width == 0 || page.height == 0) return bad("empty page size");
    if (colorOrder != 0) return bad("only chunky pixels are supported");
    const unsigned bpc = page.bitsPerColor;
    if (bpc != 1 && bpc != 2 && bpc != 4 && bpc != 8 && bpc != 16)
        return bad("bad bits per colour " + std::to_string(bpc));
    if (page.numColors == 0 || page.numColors > 15) return bad("bad colour count");
    if (std::uint64_t(page.bitsPerPixel) != std::uint64_t(bpc) * page.numColors)
        return bad("bits per pixel do not match the colours");
    const std::uint64_t lineBytes = (std::uint64_t(page.width) * page.bitsPerPixel + 7) / 8;
    if (lineBytes != page.bytesPerLine) return bad("bytes per line do not match the width");
    if (lineBytes * page.height > kMaxPageBytes) return bad("page too large");
    return page;
}

// One page's rows: a line repeat count, then runs until the line is full. A run byte
// 0..127 repeats the next pixel n+1 times, 129..255 copies 257-n literal pixels, 128 fills
// the rest of the line with the blank colour.
Result<void> readRows(ByteReader& in, PwgPage& page, const std::string& what,
                      std::size_t pageIndex) {
    const std::size_t lineBytes = page.bytesPerLine;
    const std::size_t unit = std::max<std::size_t>(1, page.bitsPerPixel / 8);
    page.data.resize(lineBytes * page.height);
    auto cut = [&](unsigned y) {
        return pageError(
            in.failed() ? ErrorKind::Io : ErrorKind::Incomplete, what, pageIndex,
            "data ends at row " + std::to_string(y) + " of " + std::to_string(page.height));
    };
    unsigned y = 0;
    while (y < page.height) {
        const int repeat = in.get();
        if (repeat < 0) return cut(y);
        std::uint8_t* line = page.data.data() + std::size_t(y) * lineBytes;
        std::size_t filled = 0;
        while (filled < lineBytes) {
            const int code = in.get();
            if (code < 0) return cut(y);
            if (code == 128) {
                std::memset(line + filled, blankByte(page.colorSpace), lineBytes - filled);
                filled = lineBytes;
            } else if (code < 128) {
                const std::size_t bytes = std::size_t(code + 1) * unit;
                if (bytes > lineBytes - filled)
                    return pageError(ErrorKind::Invalid, what, pageIndex,
                                     "run overflows row " + std::to_string(y));
                if (!in.read(line + filled, unit)) return cut(y);
                for (std::size_t i = unit; i < bytes; i += unit)
                    std::memcpy(line + filled + i, line + filled, unit);
                filled += bytes;
            } else {
                const std::size_t bytes = std::size_t(257 - code) * unit;
                if (bytes > lineBytes - filled)
                    return pageError(ErrorKind::Invalid, what, pageIndex,
                                     "literal run overflows row " + std::to_string(y));
                if (!in.read(line + filled, bytes)) return cut(y);
                filled += bytes;
            }
        }
        const unsigned copies = std::min<unsigned>(unsigned(repeat), page.height - y - 1);
        if (unsigned(repeat) > copies)
            return pageError(ErrorKind::Invalid, what, pageIndex,
                             "line repeat runs past the last row");
        for (unsigned i = 1; i <= copies; ++i)
            std::memcpy(line + std::size_t(i) * lineBytes, line, lineBytes);
        y += copies + 1;
    }
    return {};
}

Result<std::vector<PwgPage>> parse(ByteReader& in, const std::string& what) {
    std::uint8_t sync[4];
    if (!in.read(sync, 4))
        return makeError(in.failed() ? ErrorKind::Io : ErrorKind::Incomplete,
                         what + ": too short for a PWG raster");
    if (std::memcmp(sync, "RaS2", 4) != 0)
        return makeError(ErrorKind::Invalid, what + ": not a PWG raster (no RaS2 sync word)");
    std::vector<PwgPage> pages;
    std::vector<std::uint8_t> header(kHeaderSize);
    while (!in.atEnd()) {
        if (!in.read(header.data(), kHeaderSize))
            return pageError(in.failed() ? ErrorKind::Io : ErrorKind::Incomplete, what,
                             pages.size(), "page header cut short");
        auto page = readHeader(header.data(), what, pages.size());
        if (!page) return page.error();
        if (auto rows = readRows(in, page.value(), what, pages.size()); !rows) return rows.error();
        pages.push_back(std::move(page).value());
    }
    if (in.failed()) return makeError(ErrorKind::Io, what + ": read error");
    if (pages.empty()) return makeError(ErrorKind::Incomplete, what + ": no pages");
    return pages;
}

}  // namespace

ColorValue PwgPage::pixel(unsigned x, unsigned y) const {
    if (x >= width || y >= height || data.size() < std::size_t(height) * bytesPerLine)
        return kOutsidePicture;
    const std::uint8_t* r = row(y);
    const bool rgb = colorSpace == kPwgRgb || colorSpace == kPwgSRgb || colorSpace == kPwgAdobeRgb;
    const bool gray = colorSpace == kPwgGray || colorSpace == kPwgSGray || colorSpace == kPwgBlack;
    if (rgb && numColors == 3 && (bitsPerColor == 8 || bitsPerColor == 16)) {
        const std::size_t step = bitsPerColor / 8;  // 16-bit: the high byte comes first
        const std::uint8_t* p = r + std::size_t(x) * 3 * step;
        return colorFromRgb(p[0], p[step], p[2 * step]);
    }
    if (gray && numColors == 1) {
        std::uint8_t g = 0;
        if (bitsPerColor == 8 || bitsPerColor == 16) {
            g = r[std::size_t(x) * (bitsPerColor / 8)];
        } else {
            const unsigned bit = x * bitsPerColor;
            const unsigned shift = 8 - bitsPerColor - (bit % 8);
            const unsigned mask = (1u << bitsPerColor) - 1;
            const unsigned v = (unsigned(r[bit / 8]) >> shift) & mask;
            g = std::uint8_t(v * 255 / mask);
        }
        if (colorSpace == kPwgBlack) g = std::uint8_t(255 - g);
        return colorFromRgb(g, g, g);
    }
    return kOutsidePicture;
}

Result<std::vector<PwgPage>> parsePwgRaster(const std::uint8_t* bytes, std::size_t size,
                                            const std::string& what) {
    ByteReader in(bytes, bytes == nullptr ? 0 : size);
    return parse(in, what);
}

Result<std::vector<PwgPage>> readPwgRaster(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) {
        const int err = errno;
        return makeError(err == ENOENT ? ErrorKind::NotFound : ErrorKind::Io,
                         path + ": " + std::strerror(err));
    }
    ByteReader in(file.get());
    return parse(in, path);
}

std::vector<RasterDot> nonWhiteDots(const PwgPage& page) {
    std::vector<RasterDot> dots;
    for (unsigned y = 0; y < page.height; ++y)
        for (unsigned x = 0; x < page.width; ++x) {
            const ColorValue c = page.pixel(x, y);
            if (c != 0xFFFFFFu) dots.push_back({int(x), int(y), c});
        }
    return dots;
}

}  // namespace plx
