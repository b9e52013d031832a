// The label document read back the way a PDF consumer reads it: through the cross-reference
// table, the page's content stream and the Flate-decoded image data, pixel by pixel.
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/label_document.h"

namespace plx {
namespace {

struct PdfObject {
    std::string dict;
    std::string stream;  // raw (still compressed) bytes, exactly /Length long
};

double numberAfter(const std::string& s, const std::string& key) {
    const auto at = s.find(key + " ");
    if (at == std::string::npos) return std::nan("");
    return std::strtod(s.c_str() + at + key.size() + 1, nullptr);
}

// Just enough PDF to check what this document writes: objects found through the xref table.
class PdfReader {
  public:
    explicit PdfReader(std::string pdf) : m_pdf(std::move(pdf)) {
        const auto sx = m_pdf.rfind("startxref\n");
        if (sx == std::string::npos) return;
        const std::size_t xref = std::strtoul(m_pdf.c_str() + sx + 10, nullptr, 10);
        if (m_pdf.compare(xref, 5, "xref\n") != 0) return;
        char* end = nullptr;
        std::strtoul(m_pdf.c_str() + xref + 5, &end, 10);  // first object number: 0
        const std::size_t count = std::strtoul(end, &end, 10);
        const char* entry = end + 1;
        for (std::size_t i = 0; i < count; ++i, entry += 20) {
            const std::size_t offset = std::strtoul(entry, nullptr, 10);
            if (entry[17] != 'n') continue;
            const std::string head = std::to_string(i) + " 0 obj\n";
            if (m_pdf.compare(offset, head.size(), head) != 0) return;  // bad offset
            m_objects[int(i)] = parseObject(offset + head.size());
        }
        m_valid = m_pdf.rfind("%%EOF") != std::string::npos && m_objects.size() + 1 == count;
    }

    bool valid() const { return m_valid; }
    const PdfObject& object(int n) const { return m_objects.at(n); }
    bool has(int n) const { return m_objects.count(n) != 0; }

    // Follows catalog -> pages -> first page.
    const PdfObject& page() const {
        const int pages = refAfter(object(1).dict, "/Pages");
        const auto kids = object(pages).dict.find("/Kids [");
        return object(std::atoi(object(pages).dict.c_str() + kids + 7));
    }
    std::string content() const {
        const PdfObject& c = object(refAfter(page().dict, "/Contents"));
        return c.stream;
    }
    const PdfObject& image(const std::string& name) const {
        return object(refAfter(page().dict, "/" + name));
    }

    static int refAfter(const std::string& dict, const std::string& key) {
        const auto at = dict.find(key + " ");
        return at == std::string::npos ? -1 : std::atoi(dict.c_str() + at + key.size() + 1);
    }

  private:
    PdfObject parseObject(std::size_t at) {
        PdfObject o;
        if (m_pdf.compare(at, 2, "<<") != 0) return o;
        int depth = 0;
        std::size_t i = at;
        while (i < m_pdf.size()) {
            if (m_pdf.compare(i, 2, "<<") == 0) {
                ++depth;
                i += 2;
            } else if (m_pdf.compare(i, 2, ">>") == 0) {
                --depth;
                i += 2;
                if (depth == 0) break;
            } else if (m_pdf[i] == '<') {
                i = m_pdf.find('>', i) + 1;  // hex string
            } else {
                ++i;
            }
        }
        o.dict = m_pdf.substr(at, i - at);
        if (m_pdf.compare(i, 8, "\nstream\n") == 0) {
            const auto length = std::size_t(numberAfter(o.dict, "/Length"));
            o.stream = m_pdf.substr(i + 8, length);
            EXPECT_EQ(m_pdf.compare(i + 8 + length, 10, "\nendstream"), 0) << "wrong /Length";
        }
        return o;
    }

    std::string m_pdf;
    std::map<int, PdfObject> m_objects;
    bool m_valid = false;
};

std::string inflate(const std::string& in) {
    std::string out;
    z_stream z{};
    EXPECT_EQ(inflateInit(&z), Z_OK);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = uInt(in.size());
    char buf[1 << 16];
    int rc = Z_OK;
    do {
        z.next_out = reinterpret_cast<Bytef*>(buf);
        z.avail_out = sizeof buf;
        rc = ::inflate(&z, Z_NO_FLUSH);
        out.append(buf, sizeof buf - z.avail_out);
    } while (rc == Z_OK);
    EXPECT_EQ(rc, Z_STREAM_END) << "image data is not a complete zlib stream";
    inflateEnd(&z);
    return out;
}

struct Placement {
    std::string name;
    double a, b, c, d, e, f;
};

// "q a b c d e f cm /ImN Do Q" per layer, in painting order.
std::vector<Placement> placements(const std::string& content) {
    std::vector<Placement> out;
    std::size_t at = 0;
    while ((at = content.find("q ", at)) != std::string::npos) {
        Placement p{};
        char name[32] = {};
        if (std::sscanf(content.c_str() + at, "q %lf %lf %lf %lf %lf %lf cm /%31s Do Q", &p.a, &p.b,
                        &p.c, &p.d, &p.e, &p.f, name) == 7) {
            p.name = name;
            out.push_back(p);
        }
        at += 2;
    }
    return out;
}

// An image decoded to one colour per pixel, with the key-masked pixels reported separately.
struct DecodedImage {
    int width = 0, height = 0, bits = 0;
    bool indexed = false;
    std::size_t paletteSize = 0;
    std::vector<ColorValue> pixels;
    std::vector<bool> masked;
    ColorValue at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
    bool maskedAt(int x, int y) const { return masked[std::size_t(y) * width + x]; }
};

DecodedImage decode(const PdfObject& img) {
    DecodedImage out;
    out.width = int(numberAfter(img.dict, "/Width"));
    out.height = int(numberAfter(img.dict, "/Height"));
    out.bits = int(numberAfter(img.dict, "/BitsPerComponent"));
    EXPECT_NE(img.dict.find("/Filter /FlateDecode"), std::string::npos);
    EXPECT_EQ(img.dict.find("/Interpolate"), std::string::npos);
    EXPECT_EQ(img.dict.find("DCTDecode"), std::string::npos);
    const std::string data = inflate(img.stream);
    std::vector<int> mask;  // colour-key ranges
    if (const auto m = img.dict.find("/Mask ["); m != std::string::npos) {
        const char* p = img.dict.c_str() + m + 7;
        char* end = nullptr;
        for (long v = std::strtol(p, &end, 10); end != p; v = std::strtol(p, &end, 10)) {
            mask.push_back(int(v));
            p = end;
        }
    }
    const std::size_t n = std::size_t(out.width) * out.height;
    out.pixels.resize(n);
    out.masked.resize(n);
    const auto pal = img.dict.find("/Indexed /DeviceRGB ");
    if (pal != std::string::npos) {
        out.indexed = true;
        const int hival = std::atoi(img.dict.c_str() + pal + 20);
        const auto hex = img.dict.find('<', pal) + 1;
        std::vector<ColorValue> palette;
        for (int i = 0; i <= hival; ++i) {
            const unsigned v = unsigned(
                std::strtoul(img.dict.substr(hex + 6 * std::size_t(i), 6).c_str(), nullptr, 16));
            palette.push_back(
                colorFromRgb(std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)));
        }
        out.paletteSize = palette.size();
        const std::size_t rowBytes = (std::size_t(out.width) * out.bits + 7) / 8;
        EXPECT_EQ(data.size(), rowBytes * out.height);
        if (data.size() != rowBytes * out.height) return out;
        for (int y = 0; y < out.height; ++y) {
            for (int x = 0; x < out.width; ++x) {
                const std::size_t bit = std::size_t(x) * out.bits;
                const unsigned byte = std::uint8_t(data[y * rowBytes + bit / 8]);
                const unsigned index = (byte >> (8 - out.bits - bit % 8)) & ((1u << out.bits) - 1);
                EXPECT_LT(index, palette.size());
                const std::size_t k = std::size_t(y) * out.width + x;
                out.pixels[k] = index < palette.size() ? palette[index] : 0xFFFFFFFF;
                out.masked[k] = mask.size() == 2 && int(index) >= mask[0] && int(index) <= mask[1];
            }
        }
    } else {
        EXPECT_NE(img.dict.find("/ColorSpace /DeviceRGB"), std::string::npos);
        EXPECT_EQ(out.bits, 8);
        EXPECT_EQ(data.size(), n * 3);
        if (data.size() != n * 3) return out;
        for (std::size_t k = 0; k < n; ++k) {
            const auto r = std::uint8_t(data[3 * k]), g = std::uint8_t(data[3 * k + 1]),
                       b = std::uint8_t(data[3 * k + 2]);
            out.pixels[k] = colorFromRgb(r, g, b);
            out.masked[k] = mask.size() == 6 && r >= mask[0] && r <= mask[1] && g >= mask[2] &&
                            g <= mask[3] && b >= mask[4] && b <= mask[5];
        }
    }
    return out;
}

using DotMap = std::map<std::pair<int, int>, ColorValue>;

// Checks that one dot layer holds exactly `expected` (device dots) and is placed so that
// each image pixel covers one device dot of the page.
void expectDotLayer(const PdfReader& pdf, const Placement& pl, const LabelPage& page,
                    const DotMap& expected, bool overEarlier) {
    int minX = 1 << 30, minY = 1 << 30, maxX = -1, maxY = -1;
    for (const auto& [pos, c] : expected) {
        minX = std::min(minX, pos.first);
        maxX = std::max(maxX, pos.first);
        minY = std::min(minY, pos.second);
        maxY = std::max(maxY, pos.second);
    }
    const DecodedImage img = decode(pdf.image(pl.name));
    ASSERT_EQ(img.width, maxX - minX + 1);
    ASSERT_EQ(img.height, maxY - minY + 1);
    const double k = 72.0 / page.dpi;
    EXPECT_NEAR(pl.a, img.width * k, 1e-6);
    EXPECT_NEAR(pl.d, img.height * k, 1e-6);
    EXPECT_EQ(pl.b, 0.0);
    EXPECT_EQ(pl.c, 0.0);
    EXPECT_NEAR(pl.e, minX * k, 1e-6);
    EXPECT_NEAR(pl.f, (page.heightDots() - minY - img.height) * k, 1e-6);
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            const auto it = expected.find({minX + x, minY + y});
            if (it != expected.end()) {
                ASSERT_FALSE(img.maskedAt(x, y)) << x << "," << y;
                ASSERT_EQ(img.at(x, y), it->second) << "dot " << minX + x << "," << minY + y;
            } else if (overEarlier) {
                ASSERT_TRUE(img.maskedAt(x, y)) << "unplotted pixel would cover what is below";
            } else {
                ASSERT_FALSE(img.maskedAt(x, y));
                ASSERT_EQ(img.at(x, y), 0xFFFFFFu) << "unplotted pixel " << x << "," << y;
            }
        }
    }
}

const LabelPage kLabel600{288.0, 432.0, 600};

TEST(LabelDocument, EmptyDocumentIsOneBlankPageOfThePrinterSize) {
    for (const LabelPage& page : {kLabel600, LabelPage{595.28, 841.89, 300}}) {
        LabelDocument doc(page);
        EXPECT_TRUE(doc.empty());
        PdfReader pdf(doc.toPdf());
        ASSERT_TRUE(pdf.valid());
        const std::string& dict = pdf.page().dict;
        double w = 0, h = 0;
        ASSERT_EQ(std::sscanf(dict.c_str() + dict.find("/MediaBox [0 0 "), "/MediaBox [0 0 %lf %lf",
                              &w, &h),
                  2);
        EXPECT_DOUBLE_EQ(w, page.widthPt);
        EXPECT_DOUBLE_EQ(h, page.heightPt);
        EXPECT_TRUE(placements(pdf.content()).empty());
        EXPECT_EQ(pdf.content().find("Do"), std::string::npos);
    }
}

TEST(LabelDocument, DotsBecomeOnePaletteImageOnDeviceDots) {
    // Pure and near colours, fractional positions (floored), several bounding-box shapes.
    for (const LabelPage& page : {kLabel600, LabelPage{288, 432, 300}, LabelPage{288, 432, 1200}}) {
        LabelDocument doc(page);
        const ColorValue colors[] = {kBlack,   kPureRed, kPureGreen, kPureBlue,
                                     0x0000FE, 0x00FF01, 0xFE0000};
        DotMap expected;
        for (int i = 0; i < 7; ++i) {
            doc.plot(12.7 + i * 9, 30.2 + i * 4, colors[i]);
            expected[{12 + i * 9, 30 + i * 4}] = colors[i];
            doc.plot(200 + i, 77.999, colors[i]);
            expected[{200 + i, 77}] = colors[i];
        }
        PdfReader pdf(doc.toPdf());
        ASSERT_TRUE(pdf.valid());
        const auto pl = placements(pdf.content());
        ASSERT_EQ(pl.size(), 1u);
        const DecodedImage img = decode(pdf.image(pl[0].name));
        EXPECT_TRUE(img.indexed);
        EXPECT_EQ(img.bits, 4);  // white + 7 colours
        expectDotLayer(pdf, pl[0], page, expected, false);
    }
}

TEST(LabelDocument, IndexWidthFollowsTheNumberOfColours) {
    // 1, 3, 15 and 16 colours (plus white): 1, 2, 4 and 8 bits; odd widths exercise the
    // packing at the end of a row.
    const std::pair<int, int> cases[] = {{1, 1}, {3, 2}, {15, 4}, {16, 8}, {255, 8}};
    for (const auto& [colors, bits] : cases) {
        LabelDocument doc(kLabel600);
        DotMap expected;
        std::mt19937 rng{static_cast<unsigned>(colors)};
        for (int i = 0; i < 400; ++i) {
            const int x = 3 + int(rng() % 37), y = 5 + int(rng() % 11);
            const ColorValue c = ColorValue(i % colors) * 0x010203u + 0x000100u;
            doc.plot(float(x), float(y), c);
            expected[{x, y}] = c;
        }
        PdfReader pdf(doc.toPdf());
        const auto pl = placements(pdf.content());
        ASSERT_EQ(pl.size(), 1u);
        const DecodedImage img = decode(pdf.image(pl[0].name));
        EXPECT_TRUE(img.indexed);
        EXPECT_EQ(img.bits, bits) << colors << " colours";
        EXPECT_EQ(img.paletteSize, std::size_t(colors) + 1);
        expectDotLayer(pdf, pl[0], kLabel600, expected, false);
    }
}

TEST(LabelDocument, MoreColoursThanAPaletteHoldsSwitchToRgb) {
    LabelDocument doc(kLabel600);
    DotMap expected;
    for (int i = 0; i < 300; ++i) {
        const ColorValue c = ColorValue(i) * 0x00030507u;
        doc.plot(float(100 + i % 20), float(50 + i / 20), c & 0xFFFFFF);
        expected[{100 + i % 20, 50 + i / 20}] = c & 0xFFFFFF;
    }
    PdfReader pdf(doc.toPdf());
    const auto pl = placements(pdf.content());
    ASSERT_EQ(pl.size(), 1u);
    const DecodedImage img = decode(pdf.image(pl[0].name));
    EXPECT_FALSE(img.indexed);
    expectDotLayer(pdf, pl[0], kLabel600, expected, false);
}

TEST(LabelDocument, DotsOffThePageAreClippedAndLaterDotsWin) {
    const LabelPage small{28.8, 43.2, 600};  // 240 x 360 dots
    LabelDocument doc(small);
    const float nan = std::nanf(""), inf = INFINITY;
    for (auto [x, y] : std::initializer_list<std::pair<float, float>>{{-1, 5},
                                                                      {-0.01f, 5},
                                                                      {5, -0.5f},
                                                                      {240, 5},
                                                                      {5, 360},
                                                                      {240.5f, 360.5f},
                                                                      {nan, 5},
                                                                      {5, nan},
                                                                      {inf, 5},
                                                                      {-inf, 5},
                                                                      {1e30f, 1e30f}}) {
        doc.plot(x, y, kPureRed);
    }
    EXPECT_TRUE(doc.empty());
    EXPECT_EQ(doc.dotCount(), 0u);
    PdfReader blank(doc.toPdf());
    EXPECT_TRUE(placements(blank.content()).empty());

    // The corners are on the page; a dot plotted twice keeps its last colour, also when the
    // two plots are far apart in the sequence and in other rows.
    doc.plot(0, 0, kPureRed);
    doc.plot(239.9f, 359.9f, kPureBlue);
    doc.plot(7, 9, kPureGreen);
    doc.plot(8, 9, kBlack);
    doc.plot(0, 0, kPureGreen);
    doc.plot(7.5f, 9.5f, 0x123456);
    PdfReader pdf(doc.toPdf());
    const auto pl = placements(pdf.content());
    ASSERT_EQ(pl.size(), 1u);
    DotMap expected{
        {{0, 0}, kPureGreen}, {{239, 359}, kPureBlue}, {{7, 9}, 0x123456}, {{8, 9}, kBlack}};
    expectDotLayer(pdf, pl[0], small, expected, false);
}

std::vector<std::uint32_t> randomPicture(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint32_t> px(std::size_t(w) * h);
    for (auto& p : px) p = std::uint32_t(rng());  // top byte is garbage on purpose
    return px;
}

TEST(LabelDocument, PicturesAreLosslessRgbImagesPaintedInOrder) {
    LabelDocument doc(kLabel600);
    const int w = 37, h = 23;
    auto px = randomPicture(w, h, 7);
    // Padded rows: the stride is not the width.
    std::vector<std::uint32_t> padded(std::size_t(w + 3) * h);
    for (int y = 0; y < h; ++y) std::copy_n(px.begin() + y * w, w, padded.begin() + y * (w + 3));

    doc.plot(5, 5, kPureBlue);  // below the picture
    doc.drawPicture(PictureView{padded.data(), w, h, w + 3}, 10.5, 20.25, 378.0, 474.0);
    std::fill(padded.begin(), padded.end(), 0u);  // the caller clears it right away
    doc.plot(12, 22, kPureRed);                   // on top of it
    doc.plot(100, 200, kPureGreen);
    doc.drawPicture(PictureView{}, 0, 0, 10, 10);                   // nothing to draw
    doc.drawPicture(PictureView{px.data(), w, h, w}, 0, 0, 0, 10);  // no area

    PdfReader pdf(doc.toPdf());
    ASSERT_TRUE(pdf.valid());
    const auto pl = placements(pdf.content());
    ASSERT_EQ(pl.size(), 3u);

    expectDotLayer(pdf, pl[0], kLabel600, {{{5, 5}, kPureBlue}}, false);

    const DecodedImage pic = decode(pdf.image(pl[1].name));
    EXPECT_FALSE(pic.indexed);
    ASSERT_EQ(pic.width, w);
    ASSERT_EQ(pic.height, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(pic.at(x, y), px[std::size_t(y) * w + x] & 0xFFFFFF) << x << "," << y;
    const double k = 72.0 / 600;
    EXPECT_NEAR(pl[1].a, 378.0 * k, 1e-6);
    EXPECT_NEAR(pl[1].d, 474.0 * k, 1e-6);
    EXPECT_NEAR(pl[1].e, 10.5 * k, 1e-6);
    EXPECT_NEAR(pl[1].f, (3600 - 20.25 - 474.0) * k, 1e-6);

    // Dots over a picture must leave the rest of the picture visible.
    expectDotLayer(pdf, pl[2], kLabel600, {{{12, 22}, kPureRed}, {{100, 200}, kPureGreen}}, true);
}

TEST(LabelDocument, RgbDotsOverAPictureMaskWithAColourNoDotUses) {
    LabelDocument doc(kLabel600);
    auto px = randomPicture(4, 4, 1);
    doc.drawPicture(PictureView{px.data(), 4, 4, 4}, 0, 0, 4, 4);
    DotMap expected;
    // 300 colours including black and the first key candidates, with gaps in the bbox.
    for (int i = 0; i < 300; ++i) {
        const ColorValue c = ColorValue(i);
        doc.plot(float(2 * (i % 25)), float(3 * (i / 25)), c);
        expected[{2 * (i % 25), 3 * (i / 25)}] = c;
    }
    PdfReader pdf(doc.toPdf());
    const auto pl = placements(pdf.content());
    ASSERT_EQ(pl.size(), 2u);
    const DecodedImage img = decode(pdf.image(pl[1].name));
    EXPECT_FALSE(img.indexed);
    expectDotLayer(pdf, pl[1], kLabel600, expected, true);
}

TEST(LabelDocument, ManyRandomDotsRoundTrip) {
    // A dense layer like a full label: every position, 30 % coloured, some plotted twice.
    const LabelPage page{288, 432, 300};
    LabelDocument doc(page);
    std::mt19937 rng(3);
    const ColorValue colors[] = {kBlack, kPureRed, kPureGreen, kPureBlue};
    DotMap expected;
    for (int i = 0; i < 60000; ++i) {
        const int x = 50 + int(rng() % 300), y = 40 + int(rng() % 200);
        const ColorValue c = colors[rng() % 4];
        doc.plot(float(x), float(y), c);
        expected[{x, y}] = c;
    }
    PdfReader pdf(doc.toPdf());
    const auto pl = placements(pdf.content());
    ASSERT_EQ(pl.size(), 1u);
    expectDotLayer(pdf, pl[0], page, expected, false);
}

}  // namespace
}  // namespace plx
