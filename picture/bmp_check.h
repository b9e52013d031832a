#pragma once
// Checks a BMP file against what its own headers declare before anything decodes it.
//
// Qt's BMP reader accepts files cut short and fills the missing rows with black, clamps RLE
// runs that would overrun the picture, and misreads some legal header variants. Everything
// here is plain C++ on bytes (no Qt), so that it can be fuzzed on its own.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/result.h"

namespace plx {

// Largest picture the station decodes: a 1200-dpi label of about 8 x 10 inches. Anything beyond
// is refused before memory is allocated for it.
inline constexpr std::int64_t kMaxPicturePixels = 100'000'000;

// Compression codes as stored in a Windows info header.
enum class BmpCompression : std::uint32_t {
    Rgb = 0,
    Rle8 = 1,
    Rle4 = 2,
    Bitfields = 3,
    Jpeg = 4,
    Png = 5,
    AlphaBitfields = 6,
};

struct BmpInfo {
    std::uint32_t headerSize = 0;  // info header bytes: 12, 16, 40, 52, 56, 64, 108 or 124
    int width = 0;
    int height = 0;  // always positive; see topDown
    bool topDown = false;
    int bitCount = 0;
    BmpCompression compression = BmpCompression::Rgb;
    // Palette entries the decoder will read (0 for 16/24/32 bits) and their size (3 for OS/2 v1).
    int paletteEntries = 0;
    int paletteEntrySize = 4;
    std::uint64_t paletteOffset = 0;  // where the palette starts in the file
    std::uint64_t pixelOffset = 0;    // bfOffBits
    // Bytes of pixel data: rows padded to 4 bytes times the height, or the RLE stream up to and
    // including its end-of-bitmap marker.
    std::uint64_t pixelBytes = 0;
    // Channel masks for 16/24/32 bits (the defaults when the file has none); 0 otherwise.
    std::uint32_t redMask = 0, greenMask = 0, blueMask = 0;
    // Qt's reader cannot read this header layout (OS/2 v2 short header, 52/56-byte headers,
    // alpha bitfields, an alpha mask that overlaps the colour masks): decode through
    // normalizedBmpPrefix() instead.
    bool needsPlainHeader = false;
};

// Random access to the file's bytes, so that a large file is not read into memory to be checked.
class BmpByteSource {
  public:
    virtual ~BmpByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Fills `out` from `offset`; returns the bytes read (fewer only at the end of the file) or
    // -1 on a read error.
    virtual std::int64_t read(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
};

class BmpMemorySource : public BmpByteSource {
  public:
    explicit BmpMemorySource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    std::uint64_t size() const override { return m_bytes.size(); }
    std::int64_t read(std::uint64_t offset, std::span<std::uint8_t> out) override;

  private:
    std::span<const std::uint8_t> m_bytes;
};

// An open file descriptor (not owned), read with pread so the file position stays untouched.
class BmpFdSource : public BmpByteSource {
  public:
    BmpFdSource(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}
    std::uint64_t size() const override { return m_size; }
    std::int64_t read(std::uint64_t offset, std::span<std::uint8_t> out) override;

  private:
    int m_fd;
    std::uint64_t m_size;
};

// Whether the bytes start like a BMP file ("BM"). A file of fewer than 2 bytes might still
// become one.
bool looksLikeBmp(std::span<const std::uint8_t> firstBytes);

// Checks headers, palette, offsets and the presence of all pixel data; walks an RLE stream to
// its end-of-bitmap marker. Errors (messages without the file name):
//  - Incomplete: the file ends before what its headers declare (header, palette, pixel rows,
//    RLE stream without its end marker); a file still being written reads this way.
//  - Invalid: impossible or unsupported header, a picture above kMaxPicturePixels, an RLE
//    stream that writes outside the picture or leaves pixels undefined.
//  - Io: the source could not be read.
Result<BmpInfo> checkBmp(BmpByteSource& source);
Result<BmpInfo> checkBmp(std::span<const std::uint8_t> file);

// For needsPlainHeader files: a file header and 40-byte info header (plus three masks for
// bitfields) that Qt reads, to be followed by the original file from `*skipTo` on.
std::vector<std::uint8_t> normalizedBmpPrefix(const BmpInfo& info, std::uint64_t* skipTo);

}  // namespace plx
