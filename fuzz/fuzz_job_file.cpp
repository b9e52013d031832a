// Loading a job file as the station does: the completeness check on the bytes, then
// QtImageArea::load on a file holding them, then every pixel read back.
//
// Besides "no crash, leak, hang or sanitizer report" it holds the loader to what the station
// promises: a file the check calls Incomplete or Invalid never loads, every prefix of a
// complete file is Incomplete (a file still being written must never be thrown away as
// Invalid), and a loaded BMP shows exactly the colours its bytes hold (an independent decoder
// here recomputes each pixel).

#include <fcntl.h>
#include <unistd.h>

#include <QGuiApplication>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/color.h"
#include "picture/bmp_check.h"
#include "picture/qt_image_area.h"

namespace {

std::string g_path;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "fuzz_job_file: %s\n", why.c_str());
    std::fflush(stderr);
    std::abort();
}

// The message is only built when the condition fails: the pixel loop runs it millions of times.
#define require(ok, why)      \
    do {                      \
        if (!(ok)) fail(why); \
    } while (false)

const char* kindName(plx::ErrorKind k) {
    switch (k) {
        case plx::ErrorKind::Invalid:
            return "Invalid";
        case plx::ErrorKind::Incomplete:
            return "Incomplete";
        case plx::ErrorKind::NotFound:
            return "NotFound";
        case plx::ErrorKind::OutOfRange:
            return "OutOfRange";
        case plx::ErrorKind::PrintServer:
            return "PrintServer";
        case plx::ErrorKind::Unanswered:
            return "Unanswered";
        case plx::ErrorKind::Aborted:
            return "Aborted";
        case plx::ErrorKind::Io:
            return "Io";
    }
    return "?";
}

void writeJobFile(std::span<const std::uint8_t> bytes) {
    const int fd = ::open(g_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) fail("cannot write " + g_path);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) fail("cannot write " + g_path);
        done += std::size_t(n);
    }
    ::close(fd);
}

// --- An independent BMP decoder, straight from the format, for the pixel comparison. ---

std::uint32_t le(std::span<const std::uint8_t> b, std::uint64_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= std::uint32_t(b[at + std::uint64_t(i)]) << (8 * i);
    return v;
}

// n-bit channel to 8 bits with full scale kept: the bits repeated.
std::uint32_t widen(std::uint32_t v, int n) {
    if (n == 0) return 0;
    if (n >= 8) return v;
    std::uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
        out = (out << n) | v;
        filled += n;
    }
    return (out >> (filled - 8)) & 0xFF;
}

std::uint32_t channel(std::uint32_t raw, std::uint32_t mask) {
    if (mask == 0) return 0;
    return widen((raw & mask) >> std::countr_zero(mask), std::popcount(mask));
}

// Colours top row first, or nothing when a pixel names a colour past the palette.
std::optional<std::vector<plx::ColorValue>> reference(std::span<const std::uint8_t> file,
                                                      const plx::BmpInfo& info) {
    const int w = info.width, h = info.height;
    std::vector<int> index;  // palette indices for paletted pictures, file row order
    std::vector<plx::ColorValue> out(std::size_t(w) * std::size_t(h));
    const bool rle = info.compression == plx::BmpCompression::Rle8 ||
                     info.compression == plx::BmpCompression::Rle4;
    const auto fileRow = [&](int y) { return info.topDown ? y : h - 1 - y; };

    if (info.bitCount <= 8) {
        index.assign(out.size(), -1);
        if (rle) {
            // Only streams without skips get here (the check refuses the others).
            std::uint64_t p = info.pixelOffset;
            int x = 0, row = 0;
            for (;;) {
                const int a = file[p], b = file[p + 1];
                p += 2;
                if (a > 0) {
                    for (int i = 0; i < a; ++i, ++x) {
                        const int v = info.bitCount == 8 ? b : (i % 2 == 0 ? b >> 4 : b & 15);
                        index[std::size_t(row) * std::size_t(w) + std::size_t(x)] = v;
                    }
                } else if (b == 0) {
                    x = 0;
                    ++row;
                } else if (b == 1) {
                    break;
                } else if (b == 2) {
                    p += 2;  // a zero delta: nothing moves
                } else {
                    for (int i = 0; i < b; ++i, ++x) {
                        int v;
                        if (info.bitCount == 8) {
                            v = file[p + std::uint64_t(i)];
                        } else {
                            const int byte = file[p + std::uint64_t(i / 2)];
                            v = i % 2 == 0 ? byte >> 4 : byte & 15;
                        }
                        index[std::size_t(row) * std::size_t(w) + std::size_t(x)] = v;
                    }
                    std::uint64_t bytes =
                        info.bitCount == 8 ? std::uint64_t(b) : std::uint64_t(b + 1) / 2;
                    bytes += bytes & 1;
                    p += bytes;
                }
            }
        } else {
            const std::uint64_t rowBytes =
                (std::uint64_t(w) * std::uint64_t(info.bitCount) + 31) / 32 * 4;
            for (int r = 0; r < h; ++r) {
                const std::uint64_t base = info.pixelOffset + std::uint64_t(r) * rowBytes;
                for (int x = 0; x < w; ++x) {
                    const std::uint64_t bit = std::uint64_t(x) * std::uint64_t(info.bitCount);
                    const int byte = file[base + bit / 8];
                    const int shift = 8 - info.bitCount - int(bit % 8);
                    index[std::size_t(r) * std::size_t(w) + std::size_t(x)] =
                        (byte >> shift) & ((1 << info.bitCount) - 1);
                }
            }
        }
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int i = index[std::size_t(fileRow(y)) * std::size_t(w) + std::size_t(x)];
                require(i >= 0, "reference decoder left a pixel undefined");
                if (i >= info.paletteEntries) return std::nullopt;
                const std::uint64_t e =
                    info.paletteOffset + std::uint64_t(i) * std::uint64_t(info.paletteEntrySize);
                out[std::size_t(y) * std::size_t(w) + std::size_t(x)] =
                    plx::colorFromRgb(file[e + 2], file[e + 1], file[e]);
            }
        }
        return out;
    }

    const int bytesPerPixel = info.bitCount / 8;
    const std::uint64_t rowBytes = (std::uint64_t(w) * std::uint64_t(info.bitCount) + 31) / 32 * 4;
    for (int y = 0; y < h; ++y) {
        const std::uint64_t base = info.pixelOffset + std::uint64_t(fileRow(y)) * rowBytes;
        for (int x = 0; x < w; ++x) {
            const std::uint32_t raw =
                le(file, base + std::uint64_t(x) * std::uint64_t(bytesPerPixel), bytesPerPixel);
            out[std::size_t(y) * std::size_t(w) + std::size_t(x)] =
                plx::colorFromRgb(std::uint8_t(channel(raw, info.redMask)),
                                  std::uint8_t(channel(raw, info.greenMask)),
                                  std::uint8_t(channel(raw, info.blueMask)));
        }
    }
    return out;
}

std::string where(int x, int y) { return "(" + std::to_string(x) + ", " + std::to_string(y) + ")"; }

std::string hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06X", v);
    return buf;
}

// Every pixel through picture(), compared with the file's own colours where they are known, and
// through pixel() and at() too (all of them in pictures up to kPixelCalls, a grid in larger ones,
// which GIF and ICO headers make big from a few bytes). Not instrumented for coverage: comparisons
// here guide nothing and would make a 15-megapixel picture take seconds.
constexpr std::int64_t kPixelCalls = 1 << 20;

__attribute__((no_sanitize("coverage"))) void readEveryPixel(
    const plx::QtImageArea& area, const plx::PictureView& view,
    const std::vector<plx::ColorValue>* expected) {
    const bool all = std::int64_t(view.width) * view.height <= kPixelCalls;
    const int stepX = all ? 1 : std::max(1, view.width / 1024);
    const int stepY = all ? 1 : std::max(1, view.height / 1024);
    volatile std::uint32_t sink = 0;  // keeps the reads
    std::vector<plx::ColorValue> row(std::size_t(view.width));
    for (int y = 0; y < view.height; ++y) {
        view.readRow(y, 0, row.size(), row.data());
        for (int x = 0; x < view.width; ++x) {
            const plx::ColorValue c = row[std::size_t(x)];
            if (expected) {
                const plx::ColorValue want =
                    (*expected)[std::size_t(y) * std::size_t(view.width) + std::size_t(x)];
                require(c == want, "pixel " + where(x, y) + " reads " + hex(c) +
                                       ", the file holds " + hex(want));
            }
            if ((y % stepY == 0 && x % stepX == 0) || x == view.width - 1 || y == view.height - 1)
                require(area.pixel(x, y) == c && view.at(x, y) == c,
                        "pixel(), picture().at() and the row read disagree at " + where(x, y));
            sink = sink + c;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The station runs its loader inside a Qt application; one for the whole process.
    static int qtArgc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    (void)argc;
    static QGuiApplication* app = new QGuiApplication(qtArgc, qtArgv);
    (void)app;
    // PLIXAGRAM_FUZZ_TMP: where scripts/fuzz.sh wants the file (a crash skips the clean-up below).
    const char* dir = std::getenv("PLIXAGRAM_FUZZ_TMP");
    if (dir == nullptr || *dir == '\0') dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    g_path = std::string(dir) + "/plx-fuzz-job-" + std::to_string(::getpid()) + ".bmp";
    std::atexit([] { ::unlink(g_path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const plx::Result<plx::BmpInfo> checked = plx::checkBmp(bytes);

    // A file cut anywhere before the end of what it declares reads as still being written.
    if (checked) {
        const std::uint64_t end = checked->pixelOffset + checked->pixelBytes;
        require(end <= size, "the check accepts a file shorter than its pixel data");
        const std::uint64_t cuts[] = {end - 1, checked->pixelOffset, end / 2, 1, 0};
        for (std::uint64_t cut : cuts) {
            if (cut >= end) continue;
            const auto part = plx::checkBmp(bytes.first(std::size_t(cut)));
            require(!part.ok() && part.error().kind == plx::ErrorKind::Incomplete,
                    "the first " + std::to_string(cut) + " of " + std::to_string(end) +
                        " bytes of a complete file read as " +
                        (part.ok() ? std::string("complete") : kindName(part.error().kind)) +
                        (part.ok() ? "" : ": " + part.error().message));
        }
    }

    writeJobFile(bytes);
    plx::QtImageArea area;
    const plx::Result<void> loaded = area.load(g_path);
    const bool bmp = plx::looksLikeBmp(bytes.first(std::min<std::size_t>(size, 2)));

    if (bmp && !checked) {
        require(!loaded.ok(), std::string("loaded a file the check refuses as ") +
                                  kindName(checked.error().kind) + ": " + checked.error().message);
        require(loaded.error().kind == checked.error().kind,
                std::string("the loader says ") + kindName(loaded.error().kind) + ", the check " +
                    kindName(checked.error().kind));
    }
    if (!loaded) {
        require(loaded.error().kind != plx::ErrorKind::NotFound &&
                    loaded.error().kind != plx::ErrorKind::Io,
                "the job file itself could not be read: " + loaded.error().message);
        require(area.picture().empty() && area.width() == 0 && area.height() == 0,
                "a failed load left a picture behind");
    }

    std::optional<std::vector<plx::ColorValue>> expected;
    bool paletteOverrun = false;
    if (checked) {
        expected = reference(bytes, *checked);
        paletteOverrun = !expected;
        if (paletteOverrun)
            require(!loaded.ok(), "loaded a picture whose pixels name colours past its palette");
        else
            require(loaded.ok(), "a complete, valid BMP (" + std::to_string(checked->width) +
                                     " x " + std::to_string(checked->height) + ", " +
                                     std::to_string(checked->bitCount) +
                                     " bits) failed to load: " + loaded.error().message);
    }
    if (!loaded) return 0;

    // Every pixel, through both ways the print procedures read them.
    const plx::PictureView view = area.picture();
    require(!view.empty(), "a loaded picture is empty");
    require(float(view.width) == area.width() && float(view.height) == area.height(),
            "picture() and width()/height() disagree");
    require(view.indexed()  ? view.strideBytes >= view.width
            : view.packed() ? view.strideBytes >= std::ptrdiff_t(view.width) * 3
                            : view.strideWords >= view.width,
            "rows overlap");
    require(std::int64_t(view.width) * view.height <= plx::kMaxPicturePixels,
            "a picture above the pixel limit loaded");
    if (checked)
        require(view.width == checked->width && view.height == checked->height,
                "the picture's size differs from its header's");
    readEveryPixel(area, view, expected ? &*expected : nullptr);
    require(area.pixel(-1, 0) == plx::kOutsidePicture &&
                area.pixel(view.width, view.height - 1) == plx::kOutsidePicture,
            "positions outside the picture read as a colour");
    return 0;
}
