#include "picture/bmp_check.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <string>

namespace plx {

std::int64_t BmpMemorySource::read(std::uint64_t offset, std::span<std::uint8_t> out) {
    if (offset >= m_bytes.size()) return 0;
    const std::size_t n = std::min<std::uint64_t>(out.size(), m_bytes.size() - offset);
    std::memcpy(out.data(), m_bytes.data() + offset, n);
    return std::int64_t(n);
}

std::int64_t BmpFdSource::read(std::uint64_t offset, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(m_fd, out.data() + done, out.size() - done, off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += std::size_t(n);
    }
    return std::int64_t(done);
}

bool looksLikeBmp(std::span<const std::uint8_t> firstBytes) {
    if (firstBytes.empty()) return true;
    if (firstBytes[0] != 'B') return false;
    return firstBytes.size() < 2 || firstBytes[1] == 'M';
}

namespace {

std::uint16_t u16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
std::uint32_t u32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}
std::int32_t i32(const std::uint8_t* p) { return std::int32_t(u32(p)); }

void put16(std::vector<std::uint8_t>& v, std::uint32_t x) {
    v.push_back(std::uint8_t(x));
    v.push_back(std::uint8_t(x >> 8));
}
void put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

Error invalid(std::string msg) { return makeError(ErrorKind::Invalid, std::move(msg)); }
Error incomplete(std::string msg) { return makeError(ErrorKind::Incomplete, std::move(msg)); }
Error readError() { return makeError(ErrorKind::Io, "read error while checking the file"); }

std::string hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

bool contiguous(std::uint32_t mask) {
    if (mask == 0) return true;
    const std::uint32_t shifted = mask >> std::countr_zero(mask);
    return (shifted & (shifted + 1)) == 0;
}

// Sequential reads through a small buffer, so an RLE stream of any length is walked in chunks.
class Cursor {
  public:
    Cursor(BmpByteSource& src, std::uint64_t pos)
        : m_src(src), m_pos(pos), m_buf(std::size_t{64} * 1024) {}
    // The next byte, -1 at the end of the file, -2 on a read error.
    int next() {
        if (m_at == m_len) {
            const std::int64_t n = m_src.read(m_pos, m_buf);
            if (n < 0) return -2;
            if (n == 0) return -1;
            m_len = std::size_t(n);
            m_at = 0;
        }
        ++m_pos;
        return m_buf[m_at++];
    }
    std::uint64_t pos() const { return m_pos; }

  private:
    BmpByteSource& m_src;
    std::uint64_t m_pos;
    std::vector<std::uint8_t> m_buf;
    std::size_t m_len = 0, m_at = 0;
};

// Walks an RLE4/RLE8 stream exactly as a decoder would write it; returns the stream length
// including the end-of-bitmap marker.
Result<std::uint64_t> walkRle(BmpByteSource& src, const BmpInfo& info) {
    const bool rle8 = info.compression == BmpCompression::Rle8;
    const std::int64_t w = info.width, h = info.height;
    Cursor cur(src, info.pixelOffset);
    std::int64_t x = 0, y = 0;
    bool undefinedPixels = false;
    const auto ended = [&](int c) -> Error {
        if (c == -2) return readError();
        return incomplete("the RLE pixel data ends at byte " + std::to_string(cur.pos()) +
                          " before its end-of-bitmap marker");
    };
    for (;;) {
        const int a = cur.next();
        if (a < 0) return ended(a);
        const int b = cur.next();
        if (b < 0) return ended(b);
        if (a > 0) {
            if (y >= h || x + a > w)
                return invalid("RLE run of " + std::to_string(a) + " pixels at column " +
                               std::to_string(x) + ", row " + std::to_string(y) + " overruns the " +
                               std::to_string(w) + " x " + std::to_string(h) + " picture");
            x += a;
            continue;
        }
        if (b == 0) {  // end of line
            if (x < w && y < h) undefinedPixels = true;
            x = 0;
            ++y;
        } else if (b == 1) {  // end of bitmap
            if (!(y >= h || (y == h - 1 && x == w))) undefinedPixels = true;
            break;
        } else if (b == 2) {  // delta
            const int dx = cur.next();
            if (dx < 0) return ended(dx);
            const int dy = cur.next();
            if (dy < 0) return ended(dy);
            x += dx;
            y += dy;
            if (x > w || y > h || (y == h && x > 0))
                return invalid("RLE delta moves outside the " + std::to_string(w) + " x " +
                               std::to_string(h) + " picture");
            if (dx != 0 || dy != 0) undefinedPixels = true;
        } else {  // absolute run of b pixels
            if (y >= h || x + b > w)
                return invalid("RLE literal run of " + std::to_string(b) + " pixels at column " +
                               std::to_string(x) + ", row " + std::to_string(y) + " overruns the " +
                               std::to_string(w) + " x " + std::to_string(h) + " picture");
            int bytes = rle8 ? b : (b + 1) / 2;
            bytes += bytes & 1;  // literal runs are padded to 16 bits
            for (int i = 0; i < bytes; ++i) {
                const int c = cur.next();
                if (c < 0) return ended(c);
            }
            x += b;
        }
    }
    // Skipped pixels would come out as whatever the decoder left in memory: refuse rather than
    // print something the sender never drew.
    if (undefinedPixels)
        return invalid(
            "the RLE pixel data leaves pixels undefined (skips with a delta or ends rows or the "
            "bitmap early)");
    return cur.pos() - info.pixelOffset;
}

// File header, info header and up to four masks after a 40-byte header.
using HeadBytes = std::array<std::uint8_t, 14 + 124 + 16>;

// Info header fields that are checked but not kept in BmpInfo.
struct InfoFields {
    std::int64_t width = 0, height = 0;
    std::uint32_t planes = 0, compression = 0, sizeImage = 0, colorsUsed = 0;
};

bool isOs2v2(std::uint32_t headerSize) { return headerSize == 16 || headerSize == 64; }
bool isRle(BmpCompression c) { return c == BmpCompression::Rle8 || c == BmpCompression::Rle4; }
bool isBitfields(BmpCompression c) {
    return c == BmpCompression::Bitfields || c == BmpCompression::AlphaBitfields;
}

// The signature, the pixel data offset and the info header's size, which must be one of the
// known layouts and present in full.
Result<void> checkFileHeader(const HeadBytes& head, std::uint64_t have, BmpInfo& info) {
    const std::string haveText = std::to_string(have);
    if (have < 2)
        return incomplete("the file holds " + haveText + " bytes, not even a file header");
    if (head[0] != 'B' || head[1] != 'M') return invalid("not a BMP file (no \"BM\" signature)");
    if (have < 18) return incomplete("the file header is cut short after " + haveText + " bytes");

    info.pixelOffset = u32(&head[10]);
    info.headerSize = u32(&head[14]);
    const std::uint32_t hs = info.headerSize;
    switch (hs) {
        case 12:
        case 16:
        case 40:
        case 52:
        case 56:
        case 64:
        case 108:
        case 124:
            break;
        default:
            return invalid("unsupported info header size " + std::to_string(hs));
    }
    if (have < 14 + hs)
        return incomplete("the " + std::to_string(hs) + "-byte info header is cut short after " +
                          std::to_string(have - 14) + " bytes");
    return {};
}

// OS/2 v1 headers hold 16-bit sizes and no compression; the others 32-bit signed sizes.
InfoFields readInfoHeader(const std::uint8_t* ih, BmpInfo& info) {
    InfoFields f;
    if (info.headerSize == 12) {
        f.width = u16(ih + 4);
        f.height = u16(ih + 6);
        f.planes = u16(ih + 8);
        info.bitCount = u16(ih + 10);
        info.paletteEntrySize = 3;
        return f;
    }
    f.width = i32(ih + 4);
    f.height = i32(ih + 8);
    f.planes = u16(ih + 12);
    info.bitCount = u16(ih + 14);
    if (info.headerSize >= 40) {
        f.compression = u32(ih + 16);
        f.sizeImage = u32(ih + 20);
        f.colorsUsed = u32(ih + 32);
    }
    return f;
}

// Planes, depth and size; a negative height is a top-down picture.
Result<void> checkShape(const InfoFields& f, BmpInfo& info) {
    if (f.planes != 1)
        return invalid("the header declares " + std::to_string(f.planes) + " planes");
    const int bits = info.bitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return invalid(std::to_string(bits) + " bits per pixel is not supported");
    if (f.width <= 0) return invalid("impossible width " + std::to_string(f.width));
    if (f.height == 0 || f.height == INT32_MIN)
        return invalid("impossible height " + std::to_string(f.height));
    info.topDown = f.height < 0;
    info.width = int(f.width);
    info.height = int(f.height < 0 ? -f.height : f.height);
    return {};
}

// The compression must suit the depth; then the picture must fit the pixel limit.
Result<void> checkCompression(const InfoFields& f, BmpInfo& info) {
    const int bits = info.bitCount;
    const bool os2v2 = isOs2v2(info.headerSize);
    if (os2v2 && f.compression == 3) return invalid("OS/2 Huffman 1D compression is not supported");
    if (os2v2 && f.compression == 4) return invalid("OS/2 RLE24 compression is not supported");
    const auto comp = BmpCompression(f.compression);
    info.compression = comp;
    switch (comp) {
        case BmpCompression::Rgb:
            break;
        case BmpCompression::Rle8:
            if (bits != 8)
                return invalid("RLE8 compression with " + std::to_string(bits) + " bits");
            break;
        case BmpCompression::Rle4:
            if (bits != 4)
                return invalid("RLE4 compression with " + std::to_string(bits) + " bits");
            break;
        case BmpCompression::Bitfields:
        case BmpCompression::AlphaBitfields:
            if (bits != 16 && bits != 32)
                return invalid("bitfields compression with " + std::to_string(bits) + " bits");
            break;
        case BmpCompression::Jpeg:
            return invalid("BMP files with embedded JPEG are not supported");
        case BmpCompression::Png:
            return invalid("BMP files with embedded PNG are not supported");
        default:
            return invalid("unknown compression " + std::to_string(f.compression));
    }
    if (isRle(comp) && info.topDown) return invalid("a top-down bitmap cannot be RLE compressed");

    const std::int64_t pixels = f.width * std::int64_t(info.height);
    if (pixels > kMaxPicturePixels)
        return invalid(std::to_string(f.width) + " x " + std::to_string(info.height) +
                       " pixels is more than the " + std::to_string(kMaxPicturePixels) +
                       "-pixel limit");
    return {};
}

// Where the palette lies and how many entries the decoder reads; returns where it ends, which
// the pixel data must not start before.
Result<std::uint64_t> checkPalette(const InfoFields& f, BmpInfo& info) {
    const int bits = info.bitCount;
    // Masks after a 40-byte header, or inside the longer headers.
    std::uint64_t masksAfterHeader = 0;
    if (info.headerSize == 40 && info.compression == BmpCompression::Bitfields)
        masksAfterHeader = 12;
    if (info.headerSize == 40 && info.compression == BmpCompression::AlphaBitfields)
        masksAfterHeader = 16;
    info.paletteOffset = 14 + info.headerSize + masksAfterHeader;
    if (bits <= 8) {
        const std::uint32_t maxColors = 1u << bits;
        if (f.colorsUsed > maxColors)
            return invalid("the palette declares " + std::to_string(f.colorsUsed) +
                           " colours, more than " + std::to_string(maxColors) + " for " +
                           std::to_string(bits) + " bits per pixel");
        info.paletteEntries = int(f.colorsUsed != 0 ? f.colorsUsed : maxColors);
    }
    const std::uint64_t paletteEnd = info.paletteOffset + std::uint64_t(info.paletteEntries) *
                                                              std::uint64_t(info.paletteEntrySize);
    if (info.pixelOffset < paletteEnd)
        return invalid("the pixel data offset " + std::to_string(info.pixelOffset) +
                       " lies inside the headers or palette, which end at byte " +
                       std::to_string(paletteEnd));
    return paletteEnd;
}

// The channel masks of a 16/24/32-bit picture: the file's own for bitfields, else the
// defaults. Each must be one run of at most 8 bits, and no two may overlap.
Result<void> readMasks(const HeadBytes& head, std::uint64_t have, BmpInfo& info) {
    const int bits = info.bitCount;
    if (bits < 16) return {};
    if (isBitfields(info.compression)) {
        if (have < info.paletteOffset) return incomplete("the colour masks are cut short");
        // Right after a 40-byte info header, or at the same place inside a longer one.
        const std::uint8_t* m = &head[14 + 40];
        info.redMask = u32(m);
        info.greenMask = u32(m + 4);
        info.blueMask = u32(m + 8);
    } else if (bits == 16) {
        info.redMask = 0x7C00;
        info.greenMask = 0x03E0;
        info.blueMask = 0x001F;
    } else {
        info.redMask = 0xFF0000;
        info.greenMask = 0x00FF00;
        info.blueMask = 0x0000FF;
    }
    const std::uint32_t masks[] = {info.redMask, info.greenMask, info.blueMask};
    const std::uint64_t limit = bits == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    for (std::uint32_t mask : masks) {
        if (!contiguous(mask) || mask > limit)
            return invalid("impossible colour mask " + hex(mask));
        if (std::popcount(mask) > 8)
            return invalid("colour mask " + hex(mask) + " has more than 8 bits per channel");
    }
    if ((info.redMask & info.greenMask) || (info.redMask & info.blueMask) ||
        (info.greenMask & info.blueMask))
        return invalid("overlapping colour masks");
    if ((info.redMask | info.greenMask | info.blueMask) == 0)
        return invalid("all colour masks are empty");
    return {};
}

// Header layouts Qt's reader cannot read as they are.
bool needsPlainHeader(const HeadBytes& head, const BmpInfo& info) {
    const std::uint32_t hs = info.headerSize;
    // The station ignores alpha, but Qt's reader takes a 108/124-byte header's alpha mask as it
    // is and refuses some that share bits with the colours (all ones): read such files
    // through a header without one.
    const bool alphaOverlaps =
        isBitfields(info.compression) && hs >= 108 &&
        (u32(&head[14 + 52]) & (info.redMask | info.greenMask | info.blueMask)) != 0;
    return hs == 16 || hs == 52 || hs == 56 || info.compression == BmpCompression::AlphaBitfields ||
           alphaOverlaps;
}

// The palette and every pixel row (or the whole RLE stream) must be in the file, and the
// header's image size must not claim more than the file holds.
Result<void> checkPixelData(BmpByteSource& src, std::uint64_t paletteEnd, std::uint32_t sizeImage,
                            BmpInfo& info) {
    const std::uint64_t fileSize = src.size();
    if (fileSize < paletteEnd)
        return incomplete("the palette is cut short: the file ends at byte " +
                          std::to_string(fileSize) + ", the palette at byte " +
                          std::to_string(paletteEnd));
    if (info.pixelOffset >= fileSize)
        return incomplete("the file ends at byte " + std::to_string(fileSize) +
                          " before its pixel data, which starts at byte " +
                          std::to_string(info.pixelOffset));

    const std::uint64_t available = fileSize - info.pixelOffset;
    if (isRle(info.compression)) {
        auto len = walkRle(src, info);
        if (!len) return len.error();
        info.pixelBytes = *len;
    } else {
        const std::uint64_t rowBytes =
            (std::uint64_t(info.width) * std::uint64_t(info.bitCount) + 31) / 32 * 4;
        info.pixelBytes = rowBytes * std::uint64_t(info.height);
        if (available < info.pixelBytes)
            return incomplete("the pixel data is cut short: " + std::to_string(available) + " of " +
                              std::to_string(info.pixelBytes) + " bytes present");
    }
    if (sizeImage > available)
        return invalid("the header declares " + std::to_string(sizeImage) +
                       " bytes of pixel data but the file holds " + std::to_string(available));
    return {};
}

}  // namespace

Result<BmpInfo> checkBmp(std::span<const std::uint8_t> file) {
    BmpMemorySource src(file);
    return checkBmp(src);
}

Result<BmpInfo> checkBmp(BmpByteSource& src) {
    HeadBytes head{};
    const std::int64_t got = src.read(0, head);
    if (got < 0) return readError();
    const std::uint64_t have = std::uint64_t(got);

    BmpInfo info;
    if (auto r = checkFileHeader(head, have, info); !r) return r.error();
    const InfoFields fields = readInfoHeader(&head[14], info);
    if (auto r = checkShape(fields, info); !r) return r.error();
    if (auto r = checkCompression(fields, info); !r) return r.error();
    const Result<std::uint64_t> paletteEnd = checkPalette(fields, info);
    if (!paletteEnd) return paletteEnd.error();
    if (auto r = readMasks(head, have, info); !r) return r.error();
    info.needsPlainHeader = needsPlainHeader(head, info);
    if (auto r = checkPixelData(src, *paletteEnd, fields.sizeImage, info); !r) return r.error();
    return info;
}

std::vector<std::uint8_t> normalizedBmpPrefix(const BmpInfo& info, std::uint64_t* skipTo) {
    const bool bitfields = info.compression == BmpCompression::Bitfields ||
                           info.compression == BmpCompression::AlphaBitfields;
    const std::uint32_t prefixSize = 14 + 40 + (bitfields ? 12 : 0);
    // The palette (if any) follows the prefix; pixel data keeps its distance from it.
    const std::uint64_t skip = info.paletteOffset;
    std::vector<std::uint8_t> p;
    p.reserve(prefixSize);
    p.push_back('B');
    p.push_back('M');
    put32(p, 0);  // file size: not used by readers
    put32(p, 0);
    put32(p, std::uint32_t(info.pixelOffset - skip + prefixSize));
    put32(p, 40);
    put32(p, std::uint32_t(info.width));
    put32(p, std::uint32_t(info.topDown ? -info.height : info.height));
    put16(p, 1);
    put16(p, std::uint32_t(info.bitCount));
    put32(p,
          bitfields ? std::uint32_t(BmpCompression::Bitfields) : std::uint32_t(info.compression));
    put32(p, 0);  // image size
    put32(p, 0);
    put32(p, 0);
    put32(p, std::uint32_t(info.paletteEntries));
    put32(p, 0);
    if (bitfields) {
        put32(p, info.redMask);
        put32(p, info.greenMask);
        put32(p, info.blueMask);
    }
    if (skipTo) *skipTo = skip;
    return p;
}

}  // namespace plx
