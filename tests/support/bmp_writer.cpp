#include "tests/support/bmp_writer.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

namespace plx::test {

namespace {

void put16(std::vector<std::uint8_t>& v, std::uint32_t x) {
    v.push_back(std::uint8_t(x));
    v.push_back(std::uint8_t(x >> 8));
}
void put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}
void set32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + std::size_t(i)] = std::uint8_t(x >> (8 * i));
}

int bitsOf(BmpFormat f) {
    switch (f) {
        case BmpFormat::Pal1:
            return 1;
        case BmpFormat::Pal4:
        case BmpFormat::Rle4:
            return 4;
        case BmpFormat::Pal8:
        case BmpFormat::Rle8:
            return 8;
        case BmpFormat::Rgb555:
        case BmpFormat::Rgb555Bitfields:
        case BmpFormat::Rgb565:
            return 16;
        case BmpFormat::Rgb24:
            return 24;
        case BmpFormat::Rgb32:
        case BmpFormat::Rgb32Bitfields:
            return 32;
    }
    return 0;
}

std::uint8_t expand(unsigned v, int n) {
    unsigned out = 0;
    int filled = 0;
    while (filled < 8) {
        out = (out << n) | v;
        filled += n;
    }
    return std::uint8_t(out >> (filled - 8));
}

// Encodes one row of palette indices: runs of 2 or more as encoded runs, anything else as
// literal runs (3 or more pixels) or single-pixel runs.
void rleRow(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& idx, bool rle4) {
    const std::size_t w = idx.size();
    std::size_t i = 0;
    const auto runAt = [&](std::size_t at) {
        std::size_t r = 1;
        while (at + r < w && idx[at + r] == idx[at] && r < 255) ++r;
        return r;
    };
    while (i < w) {
        const std::size_t r = runAt(i);
        if (r >= 2) {
            out.push_back(std::uint8_t(r));
            out.push_back(rle4 ? std::uint8_t(idx[i] << 4 | idx[i]) : idx[i]);
            i += r;
            continue;
        }
        std::size_t n = 1;
        while (i + n < w && n < 255 && runAt(i + n) < 2) ++n;
        if (n < 3) {
            for (std::size_t k = 0; k < n; ++k) {
                out.push_back(1);
                out.push_back(rle4 ? std::uint8_t(idx[i + k] << 4) : idx[i + k]);
            }
        } else {
            out.push_back(0);
            out.push_back(std::uint8_t(n));
            std::size_t bytes = 0;
            for (std::size_t k = 0; k < n; ++k) {
                if (!rle4) {
                    out.push_back(idx[i + k]);
                    ++bytes;
                } else if (k % 2 == 0) {
                    out.push_back(std::uint8_t(idx[i + k] << 4));
                    ++bytes;
                } else {
                    out.back() = std::uint8_t(out.back() | idx[i + k]);
                }
            }
            if (bytes % 2) out.push_back(0);
        }
        i += n;
    }
}

}  // namespace

ColorValue decodedColor(BmpFormat format, ColorValue c) {
    const unsigned r = redOf(c), g = greenOf(c), b = blueOf(c);
    switch (format) {
        case BmpFormat::Rgb555:
        case BmpFormat::Rgb555Bitfields:
            return colorFromRgb(expand(r >> 3, 5), expand(g >> 3, 5), expand(b >> 3, 5));
        case BmpFormat::Rgb565:
            return colorFromRgb(expand(r >> 3, 5), expand(g >> 2, 6), expand(b >> 3, 5));
        default:
            return c & 0x00FFFFFFu;
    }
}

std::vector<std::uint8_t> encodeBmp(int width, int height, const std::vector<ColorValue>& pixels,
                                    const BmpOptions& o) {
    if (width <= 0 || height <= 0) throw std::invalid_argument("encodeBmp: empty picture");
    if (pixels.size() != std::size_t(width) * std::size_t(height))
        throw std::invalid_argument("encodeBmp: pixel count does not match width x height");
    const int bits = bitsOf(o.format);
    const bool rle = o.format == BmpFormat::Rle4 || o.format == BmpFormat::Rle8;
    const bool bitfields = o.format == BmpFormat::Rgb555Bitfields ||
                           o.format == BmpFormat::Rgb565 || o.format == BmpFormat::Rgb32Bitfields;
    if (rle && o.topDown) throw std::invalid_argument("encodeBmp: RLE bitmaps are bottom-up");

    std::map<ColorValue, std::uint8_t> index;
    if (bits <= 8) {
        if (o.palette.empty() || o.palette.size() > (1u << bits))
            throw std::invalid_argument("encodeBmp: palette size does not fit the bit depth");
        for (std::size_t i = 0; i < o.palette.size(); ++i)
            index.emplace(o.palette[i] & 0x00FFFFFFu, std::uint8_t(i));
    }
    const auto indexOf = [&](ColorValue c) {
        auto it = index.find(c & 0x00FFFFFFu);
        if (it == index.end()) throw std::invalid_argument("encodeBmp: pixel not in the palette");
        return it->second;
    };

    std::vector<std::uint8_t> f;
    const std::size_t rowBytes = (std::size_t(width) * std::size_t(bits) + 31) / 32 * 4;
    f.reserve(14 + 40 + 12 + 1024 + rowBytes * std::size_t(height));
    f.push_back('B');
    f.push_back('M');
    put32(f, 0);  // file size, set below
    put32(f, 0);
    put32(f, 0);  // pixel offset, set below
    put32(f, 40);
    put32(f, std::uint32_t(width));
    put32(f, std::uint32_t(o.topDown ? -height : height));
    put16(f, 1);
    put16(f, std::uint32_t(bits));
    put32(f, o.format == BmpFormat::Rle8 ? 1 : o.format == BmpFormat::Rle4 ? 2 : bitfields ? 3 : 0);
    put32(f, 0);     // image size, set below
    put32(f, 2835);  // 72 dpi
    put32(f, 2835);
    put32(f, bits <= 8 ? std::uint32_t(o.palette.size()) : 0);
    put32(f, 0);
    if (bitfields) {
        if (o.format == BmpFormat::Rgb565) {
            put32(f, 0xF800);
            put32(f, 0x07E0);
            put32(f, 0x001F);
        } else if (o.format == BmpFormat::Rgb555Bitfields) {
            put32(f, 0x7C00);
            put32(f, 0x03E0);
            put32(f, 0x001F);
        } else {
            put32(f, 0x00FF0000);
            put32(f, 0x0000FF00);
            put32(f, 0x000000FF);
        }
    }
    for (ColorValue c : o.palette) {
        if (bits > 8) break;
        f.push_back(blueOf(c));
        f.push_back(greenOf(c));
        f.push_back(redOf(c));
        f.push_back(0);
    }
    const std::size_t pixelOffset = f.size();

    for (int r = 0; r < height; ++r) {
        const int y = o.topDown ? r : height - 1 - r;  // file order
        const ColorValue* src = pixels.data() + std::size_t(y) * std::size_t(width);
        if (rle) {
            std::vector<std::uint8_t> idx(static_cast<std::size_t>(width));
            for (int x = 0; x < width; ++x) idx[std::size_t(x)] = indexOf(src[x]);
            rleRow(f, idx, o.format == BmpFormat::Rle4);
            f.push_back(0);
            f.push_back(r == height - 1 ? 1 : 0);  // end of line, end of bitmap after the last
            continue;
        }
        const std::size_t start = f.size();
        for (int x = 0; x < width; ++x) {
            const ColorValue c = src[x];
            switch (bits) {
                case 1:
                case 4:
                case 8: {
                    const std::uint8_t i = indexOf(c);
                    const int perByte = 8 / bits;
                    if (x % perByte == 0) f.push_back(0);
                    f.back() = std::uint8_t(f.back() | (i << (8 - bits * (x % perByte + 1))));
                    break;
                }
                case 16: {
                    const unsigned r5 = redOf(c) >> 3, b5 = blueOf(c) >> 3;
                    const unsigned v = o.format == BmpFormat::Rgb565
                                           ? (r5 << 11) | (unsigned(greenOf(c) >> 2) << 5) | b5
                                           : (r5 << 10) | (unsigned(greenOf(c) >> 3) << 5) | b5;
                    put16(f, v);
                    break;
                }
                default:
                    f.push_back(blueOf(c));
                    f.push_back(greenOf(c));
                    f.push_back(redOf(c));
                    if (bits == 32) f.push_back(0);
            }
        }
        while (f.size() - start < rowBytes) f.push_back(0);
    }
    set32(f, 2, std::uint32_t(f.size()));
    set32(f, 10, std::uint32_t(pixelOffset));
    set32(f, 34, std::uint32_t(f.size() - pixelOffset));
    return f;
}

std::vector<ColorValue> mixedPicture(int w, int h, unsigned seed) {
    static const ColorValue palette[] = {0xFFFFFF,   0xFFFFFF,  0xFFFFFF, kBlack,   kPureRed,
                                         kPureGreen, kPureBlue, 0x808080, 0x0000FE, 0xFE0000,
                                         0x00FF01,   0x010101,  0xFFFFFE, 0x00FFFF};
    std::vector<ColorValue> px(std::size_t(w) * std::size_t(h));
    unsigned state = seed * 2654435761u + 1;
    for (auto& c : px) {
        state = state * 1103515245u + 12345u;
        c = palette[(state >> 16) % std::size(palette)];
    }
    return px;
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("writeFile: cannot write " + path);
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("readFile: cannot read " + path);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace plx::test
