#include "document/label_raster.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "printing/print_surface.h"

namespace plx {

namespace {

constexpr std::uint32_t kWhite = 0x00FFFFFFu;
// Four words at a time (plain SSE2 on x86-64, also in builds that do not auto-vectorise).
using Words = std::uint32_t __attribute__((vector_size(16)));
constexpr int kMaxRun = 128;     // pixels in one run or one literal
constexpr int kMaxRepeat = 255;  // further lines in one line-repeat record

// The page's dots are words 0x00BBGGRR, so on this (little-endian) machine the first three
// bytes of a word are R, G, B: four bytes are stored and the cursor moves on by three.
inline char* putPixel(char* out, std::uint32_t word) {
    std::memcpy(out, &word, 4);
    return out + 3;
}

// Bit i of `bits`: pixel i equals pixel i + 1 (i < w - 1). Branch-free, so random dots cost
// no mispredictions here; the runs are then found a 64-bit word at a time.
void equalNeighbours(const std::uint32_t* p, int w, std::uint64_t* bits) {
    const int n = w - 1;
    for (int base = 0; base < n; base += 64) {
        const int lim = std::min(64, n - base);
        std::uint64_t m = 0;
        for (int k = 0; k < lim; ++k) m |= std::uint64_t(p[base + k] == p[base + k + 1]) << k;
        bits[base / 64] = m;
    }
}

// The first i in [from, n) whose bit is `set`, else n.
int nextBit(const std::uint64_t* bits, int from, int n, bool set) {
    for (int i = from; i < n;) {
        std::uint64_t word = bits[i / 64];
        if (!set) word = ~word;
        word >>= (i % 64);
        if (word != 0) return std::min(n, i + std::countr_zero(word));
        i = (i / 64 + 1) * 64;
    }
    return n;
}

// One row as runs: n+1 copies of a pixel (n = 0..127) or 257-n literal pixels (n = 129..255;
// a single pixel is a run of one). At most 4 bytes per pixel plus one; the caller leaves room
// for the extra byte putPixel writes past the end.
char* compressRow(const std::uint32_t* p, int w, std::uint64_t* bits, char* o) {
    equalNeighbours(p, w, bits);
    const int n = w - 1;
    int i = 0;
    while (i < w) {
        if (i < n && (bits[i / 64] >> (i % 64) & 1u) != 0) {
            // Pixels i .. last are equal.
            const int end = nextBit(bits, i, n, false) + 1;
            while (i < end) {
                const int len = std::min(end - i, kMaxRun);
                *o++ = char(len - 1);
                o = putPixel(o, p[i]);
                i += len;
            }
            continue;
        }
        // Literal pixels up to where the next run starts.
        const int end = nextBit(bits, i, n, true);
        const int stop = end == n ? w : end;
        while (i < stop) {
            const int len = std::min(stop - i, kMaxRun);
            *o++ = len == 1 ? char(0) : char(257 - len);
            for (int k = i; k < i + len; ++k) o = putPixel(o, p[k]);
            i += len;
        }
    }
    return o;
}

// dst[i] = src[i] where it is a dot, for i in [from, n); over white instead of dst when fresh.
void blend(std::uint32_t* dst, const ColorValue* src, std::size_t from, std::size_t n, bool fresh) {
    std::size_t i = from;
    for (; i + 4 <= n; i += 4) {
        Words v, d;
        std::memcpy(&v, src + i, sizeof v);
        if (fresh) {
            d = Words{} + kWhite;
        } else {
            std::memcpy(&d, dst + i, sizeof d);
        }
        const Words keep = Words((v >> 24) != 0u);  // all ones where there is no dot
        d = (d & keep) | (v & ~keep);
        std::memcpy(dst + i, &d, sizeof d);
    }
    for (; i < n; ++i) dst[i] = isDot(src[i]) ? src[i] : (fresh ? kWhite : dst[i]);
}

}  // namespace

LabelRaster::LabelRaster(int width, int height)
    : m_width(std::max(width, 0)), m_height(std::max(height, 0)), m_rows(std::size_t(m_height)) {}

std::uint32_t* LabelRaster::row(std::int64_t y) {
    auto& r = m_rows[std::size_t(y)];
    if (!r) {
        r.reset(new std::uint32_t[std::size_t(m_width)]);
        std::fill_n(r.get(), m_width, kWhite);
        ++m_touched;
    }
    return r.get();
}

void LabelRaster::plot(double x, double y, ColorValue color) {
    // The negated comparisons also drop NaN.
    if (!(x >= 0.0 && y >= 0.0 && x < m_width && y < m_height)) return;
    row(std::int64_t(y))[std::size_t(x)] = color & kWhite;
}

void LabelRaster::plotRow(std::int64_t x0, std::int64_t y, const ColorValue* colours,
                          std::size_t count) {
    if (y < 0 || y >= m_height || count == 0) return;
    // Clip [x0, x0 + count) to the page.
    const std::int64_t begin = std::max<std::int64_t>(x0, 0);
    const std::int64_t end = std::min<std::int64_t>(x0 + std::int64_t(count), m_width);
    if (begin >= end) return;
    const ColorValue* src = colours + (begin - x0);
    const std::size_t n = std::size_t(end - begin);
    // A row with nothing to plot allocates nothing.
    std::size_t first = 0;
    while (first < n && !isDot(src[first])) ++first;
    if (first == n) return;
    auto& r = m_rows[std::size_t(y)];
    if (r) {
        blend(r.get() + begin, src, first, n, false);
        return;
    }
    // A new row is written once: white around the dots, not filled white first.
    r.reset(new std::uint32_t[std::size_t(m_width)]);
    ++m_touched;
    std::fill_n(r.get(), begin + std::int64_t(first), kWhite);
    std::fill(r.get() + end, r.get() + m_width, kWhite);
    blend(r.get() + begin, src, first, n, true);
}

void LabelRaster::drawPicture(const PictureView& picture, double x, double y, double width,
                              double height, const std::function<bool()>& pace) {
    if (picture.empty() || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(width) ||
        !std::isfinite(height) || width <= 0.0 || height <= 0.0) {
        return;
    }
    // The dots whose centres c + 0.5 lie in [x, x + width), clipped to the page.
    auto span = [](double from, double size, int limit) {
        const double lo = std::max(std::ceil(from - 0.5), 0.0);
        const double hi = std::min(std::ceil(from + size - 0.5), double(limit));
        return std::pair<int, int>{int(lo), int(std::max(hi, lo))};
    };
    const auto [cx0, cx1] = span(x, width, m_width);
    const auto [cy0, cy1] = span(y, height, m_height);
    if (cx0 >= cx1 || cy0 >= cy1) return;

    auto source = [](int c, double from, double size, int pixels) {
        const double s = std::floor((c + 0.5 - from) * pixels / size);
        return std::clamp(int(s), 0, pixels - 1);
    };
    std::vector<int> srcCol(std::size_t(cx1 - cx0));
    for (int c = cx0; c < cx1; ++c)
        srcCol[std::size_t(c - cx0)] = source(c, x, width, picture.width);

    int lastSrcRow = -1;
    for (int r = cy0; r < cy1; ++r) {
        if (pace && !pace()) return;
        const int sr = source(r, y, height, picture.height);
        std::uint32_t* dst = row(r) + cx0;
        if (sr == lastSrcRow) {
            // Stretched rows repeat: copy the one above.
            std::memcpy(dst, m_rows[std::size_t(r - 1)].get() + cx0,
                        std::size_t(cx1 - cx0) * sizeof(std::uint32_t));
            continue;
        }
        if (picture.indexed()) {
            const std::uint8_t* src = picture.indexRow(sr);
            for (std::size_t i = 0; i < srcCol.size(); ++i)
                dst[i] = picture.palette[src[srcCol[i]]];
        } else if (picture.packed()) {
            const std::uint8_t* src = picture.rgbRow(sr);
            for (std::size_t i = 0; i < srcCol.size(); ++i)
                dst[i] = PictureView::rgbAt(src + std::ptrdiff_t(srcCol[i]) * 3);
        } else {
            const std::uint32_t* src = picture.row(sr);
            for (std::size_t i = 0; i < srcCol.size(); ++i) dst[i] = src[srcCol[i]] & kWhite;
        }
        lastSrcRow = sr;
    }
}

ColorValue LabelRaster::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) return kOutsidePicture;
    const auto& r = m_rows[std::size_t(y)];
    return r ? r[std::size_t(x)] : kWhite;
}

bool LabelRaster::compressRows(const Sink& sink) const {
    if (m_width == 0) return true;
    // Worst case per record: the repeat byte, 4 bytes a pixel, one byte of putPixel slack.
    const std::size_t record = std::size_t(m_width) * 4 + 2;
    // Handed on in pieces as they fill: no compressed copy of the page is kept.
    std::vector<char> buf(std::max<std::size_t>(std::size_t{256} * 1024, 2 * record));
    std::size_t used = 0;
    std::vector<std::uint64_t> bits(std::size_t(m_width) / 64 + 1);
    const std::vector<std::uint32_t> white(std::size_t(m_width), kWhite);
    std::string whiteRow;  // compressed once, reused for every blank row
    auto sameRows = [&](int a, int b) {
        const auto& ra = m_rows[std::size_t(a)];
        const auto& rb = m_rows[std::size_t(b)];
        if (!ra || !rb) return !ra && !rb;
        return std::memcmp(ra.get(), rb.get(), std::size_t(m_width) * 4) == 0;
    };
    int y = 0;
    while (y < m_height) {
        if (buf.size() - used < record) {
            if (!sink(buf.data(), used)) return false;
            used = 0;
        }
        int repeat = 0;
        while (repeat < kMaxRepeat && y + repeat + 1 < m_height && sameRows(y, y + repeat + 1))
            ++repeat;
        char* o = buf.data() + used;
        *o++ = char(repeat);
        const auto& r = m_rows[std::size_t(y)];
        if (!r) {
            if (whiteRow.empty()) {
                char* end = compressRow(white.data(), m_width, bits.data(), o);
                whiteRow.assign(o, end);
            }
            o = std::copy(whiteRow.begin(), whiteRow.end(), o);
        } else {
            o = compressRow(r.get(), m_width, bits.data(), o);
        }
        used = std::size_t(o - buf.data());
        y += repeat + 1;
    }
    return used == 0 || sink(buf.data(), used);
}

}  // namespace plx
