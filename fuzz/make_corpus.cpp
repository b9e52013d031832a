// Writes the seed corpora in fuzz/corpus/ (run once; the files are kept in the repository):
//   cmake --build build-fuzz --target fuzz_make_corpus && build-fuzz/fuzz/fuzz_make_corpus
//   fuzz/corpus
// Job files: small pictures in every encoding the station reads, the header layouts the check
// knows, a few cut short, and other picture formats Qt reads. Names: job names and argument
// strings (name, NUL, argument string) with the odd spellings numbers come in.

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/bmp_writer.h"

using namespace plx;
using namespace plx::test;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::filesystem::path g_dir;

void save(const std::string& sub, const std::string& name, const Bytes& b) {
    const auto dir = g_dir / sub;
    std::filesystem::create_directories(dir);
    writeFile((dir / name).string(), b);
}

void set32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}
std::uint32_t get32(const Bytes& b, std::size_t at) {
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

// The same file with its 40-byte info header grown to `size` bytes (masks, if any, moved
// inside it as the longer headers keep them).
Bytes longerHeader(Bytes b, std::uint32_t size, bool bitfieldsInside) {
    const std::size_t extraAfter = bitfieldsInside ? 12 : 0;  // masks after the 40-byte header
    Bytes out(b.begin(), b.begin() + 14 + 40);
    out.insert(out.end(), b.begin() + 54, b.begin() + 54 + std::ptrdiff_t(extraAfter));
    out.resize(14 + size, 0);
    out.insert(out.end(), b.begin() + 54 + std::ptrdiff_t(extraAfter), b.end());
    set32(out, 14, size);
    set32(out, 10, get32(b, 10) - 40 - std::uint32_t(extraAfter) + size);
    set32(out, 2, std::uint32_t(out.size()));
    return out;
}

std::vector<ColorValue> picture(int w, int h, const std::vector<ColorValue>& palette) {
    std::vector<ColorValue> px;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px.push_back(x < w / 2 ? palette[std::size_t(y) % palette.size()]
                                   : palette[std::size_t(x * 7 + y) % palette.size()]);
    return px;
}

Bytes qtFile(const QImage& img, const char* format) {
    QByteArray a;
    QBuffer buf(&a);
    buf.open(QIODevice::WriteOnly);
    if (!img.save(&buf, format)) std::fprintf(stderr, "cannot write %s\n", format);
    return Bytes(a.begin(), a.end());
}

void jobFiles() {
    const std::vector<ColorValue> two = {kBlack, 0xFFFFFF};
    const std::vector<ColorValue> five = {kBlack, kPureRed, kPureGreen, kPureBlue, 0xFFFFFF};
    std::vector<ColorValue> many;
    for (int i = 0; i < 40; ++i)
        many.push_back(
            colorFromRgb(std::uint8_t(i * 6), std::uint8_t(255 - i), std::uint8_t(i * 37)));

    struct F {
        const char* name;
        BmpFormat format;
        const std::vector<ColorValue>* palette;
    };
    const F formats[] = {
        {"pal1", BmpFormat::Pal1, &two},
        {"pal4", BmpFormat::Pal4, &five},
        {"pal8", BmpFormat::Pal8, &many},
        {"rle4", BmpFormat::Rle4, &five},
        {"rle8", BmpFormat::Rle8, &many},
        {"rgb555", BmpFormat::Rgb555, &many},
        {"rgb555bf", BmpFormat::Rgb555Bitfields, &many},
        {"rgb565", BmpFormat::Rgb565, &many},
        {"rgb24", BmpFormat::Rgb24, &many},
        {"rgb32", BmpFormat::Rgb32, &many},
        {"rgb32bf", BmpFormat::Rgb32Bitfields, &many},
    };
    for (const F& f : formats) {
        const bool paletted = f.format == BmpFormat::Pal1 || f.format == BmpFormat::Pal4 ||
                              f.format == BmpFormat::Pal8 || f.format == BmpFormat::Rle4 ||
                              f.format == BmpFormat::Rle8;
        const bool rle = f.format == BmpFormat::Rle4 || f.format == BmpFormat::Rle8;
        const std::vector<ColorValue> pal = paletted ? *f.palette : std::vector<ColorValue>{};
        const std::string base = f.name;
        const Bytes small = encodeBmp(5, 3, picture(5, 3, *f.palette), {f.format, pal});
        save("job_file", base + "_5x3.bmp", small);
        save("job_file", base + "_1x1.bmp", encodeBmp(1, 1, {(*f.palette)[1]}, {f.format, pal}));
        save("job_file", base + "_17x6.bmp",
             encodeBmp(17, 6, picture(17, 6, *f.palette), {f.format, pal}));
        if (!rle)
            save("job_file", base + "_topdown_4x4.bmp",
                 encodeBmp(4, 4, picture(4, 4, *f.palette), {f.format, pal, true}));
        // Files still being written.
        save("job_file", base + "_cut_half.bmp",
             Bytes(small.begin(), small.begin() + std::ptrdiff_t(small.size() / 2)));
        save("job_file", base + "_cut_last.bmp", Bytes(small.begin(), small.end() - 1));
    }

    // The longer header layouts, and an OS/2 one with a 12-byte header and 3-byte palette.
    const Bytes rgb24 = encodeBmp(5, 3, picture(5, 3, many), {BmpFormat::Rgb24});
    save("job_file", "v4_rgb24.bmp", longerHeader(rgb24, 108, false));
    save("job_file", "v5_rgb24.bmp", longerHeader(rgb24, 124, false));
    const Bytes bf32 = encodeBmp(5, 3, picture(5, 3, many), {BmpFormat::Rgb32Bitfields});
    save("job_file", "v4_bitfields32.bmp", longerHeader(bf32, 108, true));
    save("job_file", "v3_52_bitfields32.bmp", longerHeader(bf32, 52, true));
    Bytes alpha = longerHeader(bf32, 56, true);
    set32(alpha, 14 + 16, 6);  // BI_ALPHABITFIELDS
    set32(alpha, 14 + 52, 0xFF000000u);
    save("job_file", "v3_56_alphabitfields32.bmp", alpha);
    const Bytes bf16 = encodeBmp(5, 3, picture(5, 3, many), {BmpFormat::Rgb565});
    save("job_file", "v4_rgb565.bmp", longerHeader(bf16, 108, true));
    Bytes os2v2 =
        longerHeader(encodeBmp(6, 2, picture(6, 2, five), {BmpFormat::Pal8, five}), 64, false);
    save("job_file", "os2v2_64_pal8.bmp", os2v2);

    {
        // OS/2 1.x: 12-byte header, 16-bit sizes, palette of 3-byte entries.
        const int w = 3, h = 2;
        Bytes b = {'B',
                   'M',
                   0,
                   0,
                   0,
                   0,
                   0,
                   0,
                   0,
                   0,
                   0,
                   0,
                   0,
                   0,
                   12,
                   0,
                   0,
                   0,
                   std::uint8_t(w),
                   0,
                   std::uint8_t(h),
                   0,
                   1,
                   0,
                   8,
                   0};
        for (int i = 0; i < 256; ++i) {
            b.push_back(std::uint8_t(i));
            b.push_back(std::uint8_t(255 - i));
            b.push_back(std::uint8_t(i * 3));
        }
        set32(b, 10, std::uint32_t(b.size()));
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) b.push_back(std::uint8_t(x * 40 + y));
            b.push_back(0);  // row padding to 4 bytes
        }
        set32(b, 2, std::uint32_t(b.size()));
        save("job_file", "os2v1_pal8.bmp", b);
        Bytes s(b.begin(), b.begin() + 26);
        s[24] = 24;
        set32(s, 10, 26);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w * 3; ++x) s.push_back(std::uint8_t(x * 20 + y));
            s.push_back(0);
            s.push_back(0);
            s.push_back(0);
        }
        save("job_file", "os2v1_rgb24.bmp", s);
    }

    // Headers of large legal pictures with no pixel data behind them.
    Bytes big = rgb24;
    big.resize(54);
    set32(big, 18, 10000);
    set32(big, 22, 10000);
    save("job_file", "header_only_100mp.bmp", big);
    Bytes bigRle = encodeBmp(4, 2, picture(4, 2, many), {BmpFormat::Rle8, many});
    set32(bigRle, 18, 10000);
    set32(bigRle, 22, 10000);
    save("job_file", "rle8_claims_100mp.bmp", bigRle);

    // Other formats Qt reads.
    QImage img(4, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) img.setPixel(x, y, qRgb(x * 60, y * 100, 200 - x * 30));
    save("job_file", "other.png", qtFile(img, "PNG"));
    save("job_file", "other.ppm", qtFile(img, "PPM"));
    save("job_file", "other.ico", qtFile(img, "ICO"));
    save("job_file", "other.jpg", qtFile(img, "JPG"));
    Bytes png = qtFile(img, "PNG");
    save("job_file", "other_cut.png",
         Bytes(png.begin(), png.begin() + std::ptrdiff_t(png.size() * 2 / 3)));
    const char gif[] =
        "GIF89a\x02\x00\x02\x00\x80\x00\x00\xff\x00\x00\x00\x00\xff,\x00\x00\x00\x00"
        "\x02\x00\x02\x00\x00\x02\x02\x44\x50\x00;";
    save("job_file", "other.gif", Bytes(gif, gif + sizeof gif - 1));
    save("job_file", "empty.bmp", {});
    save("job_file", "b_only.bmp", {'B'});
}

void names() {
    struct N {
        const char* file;
        std::string name, args;
    };
    const std::string nul(1, '\0');
    const N seeds[] = {
        {"plain", "lot42_front_2.bmp", "QLS-4100 Xe drivers standard/\\tmp\\jobs/1/60/20"},
        {"blanks", "a_b_ 1 2 .bmp", " Office / jobs / 2 / 1 0 / -5 "},
        {"tabs", "a_b_\t3\t.BMP", "P\t/\t\\srv\\labels/3/\t12.5\n/\n7"},
        {"hex", "x_y_&H1F.bmp", "p/f/1/&HFF/&hff"},
        {"octal", "x_y_&O17.bmp", "p/f/1/&O777/&o8"},
        {"exponent", "x_y_1.5E1.bmp", "p/f/1/1e3/2.5D-1"},
        {"exp_no_digits", "x_y_4e.bmp", "p/f/1/4e/4e+"},
        {"huge", "x_y_99999999999999999999.bmp", "p/f/1/1e999/-1e999"},
        {"huge_hex", "x_y_&HFFFFFFFFFFFFFFFFFFFF.bmp", "p/f/1/&HFFFFFFFF/2147483647.5"},
        {"limits", "x_y_32767.5.bmp", "p/f/1/32767.5/-32768.5"},
        {"halves", "x_y_2.5.bmp", "p/f/1/0.5/-1.5"},
        {"zero_copies", "x_y_0.bmp", "p/f/1/0/-0"},
        {"negative", "x_y_-3.bmp", "p/f/1/-/+"},
        {"dot", "x_y_..bmp", "p/f/1/./-."},
        {"nonascii", "\xc3\xa9tiquette_\xe2\x82\xac_\xef\xbc\x92.bmp",
         "Drucker \xc3\xbc/\\tmp\\\xc3\xa4/1/\xd9\xa3/5"},
        {"many_slashes", "a_b_c_d_e_f.bmp", "//////////"},
        {"four_slashes", "_ _ _.bmp", "////"},
        {"three_slashes", "a__.bmp", "a/b/c/d"},
        {"hidden", ".x_y_2.bmp", "p//1/0/0"},
        {"short", ".bmp", "p/f/1/0/0/extra/fields"},
        {"tiny", "x", ""},
        {"backslashes", "job_1_1.bMp", "p/\\\\\\/1/0/0"},
        {"no_args", "only_a_name_5.bmp", ""},
    };
    for (const N& n : seeds) {
        const std::string s = n.name + nul + n.args;
        save("names", std::string(n.file) + ".txt", Bytes(s.begin(), s.end()));
    }
    const std::string noNul = "lot_side_12.bmp";
    save("names", "no_separator.txt", Bytes(noNul.begin(), noNul.end()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    g_dir = argv[1];
    jobFiles();
    names();
    return 0;
}
