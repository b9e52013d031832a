// The label document read back through qpdf the way a PDF consumer reads it: the page, the
// images it paints, where its content stream places them and their decoded pixels.
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFMatrix.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <climits>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "document/label_document.h"

namespace plx {
namespace {

// A pixel the image's colour key hides: what was painted before shows through.
constexpr ColorValue kMasked = 0xFF000000u;

// One painted image: where the content stream put it (points) and its decoded pixels.
struct Image {
    double x = 0, y = 0, w = 0, h = 0;
    int width = 0, height = 0, bits = 0;
    bool indexed = false;
    std::size_t paletteSize = 0;
    std::vector<ColorValue> pixels;
    ColorValue at(int px, int py) const { return pixels.at(std::size_t(py) * width + px); }
};

struct ReadPdf {
    double width = 0, height = 0;  // the MediaBox
    std::vector<Image> painted;    // in painting order
};

Image decode(QPDFObjectHandle img) {
    Image out;
    QPDFObjectHandle dict = img.getDict();
    out.width = dict.getKey("/Width").getIntValueAsInt();
    out.height = dict.getKey("/Height").getIntValueAsInt();
    out.bits = dict.getKey("/BitsPerComponent").getIntValueAsInt();
    // Lossless and never smoothed: a dot must stay a dot.
    EXPECT_TRUE(dict.getKey("/Filter").isNameAndEquals("/FlateDecode"));
    EXPECT_FALSE(dict.hasKey("/Interpolate"));
    std::vector<int> key;  // colour-key ranges, low and high per component
    if (dict.getKey("/Mask").isArray())
        for (auto v : dict.getKey("/Mask").getArrayAsVector()) key.push_back(v.getIntValueAsInt());
    QPDFObjectHandle space = dict.getKey("/ColorSpace");
    out.indexed = space.isArray();
    std::string lookup;  // the palette's RGB triples
    if (out.indexed) {
        EXPECT_TRUE(space.getArrayItem(0).isNameAndEquals("/Indexed"));
        EXPECT_TRUE(space.getArrayItem(1).isNameAndEquals("/DeviceRGB"));
        lookup = space.getArrayItem(3).getStringValue();
        out.paletteSize = lookup.size() / 3;
        EXPECT_EQ(out.paletteSize, std::size_t(space.getArrayItem(2).getIntValueAsInt() + 1));
    } else {
        EXPECT_TRUE(space.isNameAndEquals("/DeviceRGB"));
        EXPECT_EQ(out.bits, 8);
    }
    const auto buffer = img.getStreamData(qpdf_dl_all);
    const int bitsPerPixel = out.indexed ? out.bits : 24;
    const std::size_t rowBytes = (std::size_t(out.width) * bitsPerPixel + 7) / 8;
    EXPECT_EQ(buffer->getSize(), rowBytes * out.height);
    if (buffer->getSize() != rowBytes * out.height) return out;
    for (int y = 0; y < out.height; ++y) {
        const unsigned char* row = buffer->getBuffer() + y * rowBytes;
        for (int x = 0; x < out.width; ++x) {
            std::vector<unsigned> c;  // the index, or red, green and blue
            if (out.indexed) {
                const std::size_t bit = std::size_t(x) * out.bits;
                c = {(row[bit / 8] >> (8 - out.bits - bit % 8)) & ((1u << out.bits) - 1)};
                EXPECT_LT(c[0], out.paletteSize);
                if (c[0] >= out.paletteSize) return out;
            } else {
                c = {row[3 * x], row[3 * x + 1], row[3 * x + 2]};
            }
            bool masked = key.size() == 2 * c.size();
            for (std::size_t i = 0; masked && i < c.size(); ++i)
                masked = int(c[i]) >= key[2 * i] && int(c[i]) <= key[2 * i + 1];
            const auto* rgb = out.indexed
                                  ? reinterpret_cast<const unsigned char*>(&lookup[3 * c[0]])
                                  : row + 3 * x;
            out.pixels.push_back(masked ? kMasked : colorFromRgb(rgb[0], rgb[1], rgb[2]));
        }
    }
    return out;
}

// Each image the content stream paints ("Do"), placed by the matrix in force (cm, q and Q).
class Painter : public QPDFObjectHandle::ParserCallbacks {
  public:
    explicit Painter(std::map<std::string, QPDFObjectHandle> images)
        : m_images(std::move(images)) {}
    std::vector<Image> painted;

    void handleObject(QPDFObjectHandle o) override {
        if (!o.isOperator()) return m_operands.push_back(o);
        const std::string op = o.getOperatorValue();
        if (op == "q") m_saved.push_back(m_ctm);
        if (op == "Q" && !m_saved.empty()) m_ctm = m_saved.back(), m_saved.pop_back();
        if (op == "cm" && m_operands.size() == 6) {
            double v[6];
            for (int i = 0; i < 6; ++i) v[i] = m_operands[std::size_t(i)].getNumericValue();
            m_ctm.concat(QPDFMatrix(v[0], v[1], v[2], v[3], v[4], v[5]));
        }
        if (op == "Do" && m_operands.size() == 1) {
            EXPECT_EQ(m_ctm.b, 0.0);  // neither turned nor skewed
            EXPECT_EQ(m_ctm.c, 0.0);
            painted.push_back(decode(m_images.at(m_operands[0].getName())));
            Image& i = painted.back();
            std::tie(i.x, i.y, i.w, i.h) = std::tuple(m_ctm.e, m_ctm.f, m_ctm.a, m_ctm.d);
        }
        m_operands.clear();
    }
    void handleEOF() override {}

  private:
    std::map<std::string, QPDFObjectHandle> m_images;
    std::vector<QPDFObjectHandle> m_operands;
    QPDFMatrix m_ctm;
    std::vector<QPDFMatrix> m_saved;
};

// The whole document, read strictly: a cross-reference or stream length qpdf would have to
// repair, or any other warning, fails the test.
ReadPdf readPdf(const std::string& bytes) {
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    pdf.setAttemptRecovery(false);
    pdf.processMemoryFile("label document", bytes.data(), bytes.size());
    ReadPdf out;
    auto pages = QPDFPageDocumentHelper(pdf).getAllPages();
    EXPECT_EQ(pages.size(), 1u);
    if (pages.empty()) return out;
    const auto box = pages[0].getMediaBox().getArrayAsRectangle();
    EXPECT_EQ(box.llx, 0.0);
    EXPECT_EQ(box.lly, 0.0);
    std::tie(out.width, out.height) = std::pair(box.urx, box.ury);
    Painter painter(pages[0].getImages());
    pages[0].parseContents(&painter);
    out.painted = std::move(painter.painted);
    for (const QPDFExc& w : pdf.getWarnings()) ADD_FAILURE() << w.what();
    return out;
}

using DotMap = std::map<std::pair<int, int>, ColorValue>;

// One dot layer holds exactly `expected` (device dots), each image pixel on one device dot;
// its other pixels are white, or hidden by the key when the layer lies over earlier paint.
void expectDotLayer(const Image& img, const LabelPage& page, const DotMap& expected,
                    bool overEarlier) {
    int minX = INT_MAX, minY = INT_MAX, maxX = -1, maxY = -1;
    for (const auto& [pos, c] : expected) {
        minX = std::min(minX, pos.first), maxX = std::max(maxX, pos.first);
        minY = std::min(minY, pos.second), maxY = std::max(maxY, pos.second);
    }
    ASSERT_EQ(img.width, maxX - minX + 1);
    ASSERT_EQ(img.height, maxY - minY + 1);
    const double k = 72.0 / page.dpi;
    EXPECT_NEAR(img.w, img.width * k, 1e-6);
    EXPECT_NEAR(img.h, img.height * k, 1e-6);
    EXPECT_NEAR(img.x, minX * k, 1e-6);
    EXPECT_NEAR(img.y, (page.heightDots() - minY - img.height) * k, 1e-6);
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            const auto it = expected.find({minX + x, minY + y});
            const ColorValue want = it != expected.end() ? it->second
                                    : overEarlier        ? kMasked
                                                         : 0xFFFFFFu;
            ASSERT_EQ(img.at(x, y), want) << "dot " << minX + x << "," << minY + y;
        }
    }
}

const LabelPage kLabel600{288.0, 432.0, 600};

TEST(LabelDocument, EmptyDocumentIsOneBlankPageOfThePrinterSize) {
    for (const LabelPage& page : {kLabel600, LabelPage{595.28, 841.89, 300}}) {
        LabelDocument doc(page);
        EXPECT_TRUE(doc.empty());
        const ReadPdf pdf = readPdf(doc.toPdf());
        EXPECT_DOUBLE_EQ(pdf.width, page.widthPt);
        EXPECT_DOUBLE_EQ(pdf.height, page.heightPt);
        EXPECT_TRUE(pdf.painted.empty());
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
        const ReadPdf pdf = readPdf(doc.toPdf());
        const auto& pl = pdf.painted;
        ASSERT_EQ(pl.size(), 1u);
        const Image& img = pl[0];
        EXPECT_TRUE(img.indexed);
        EXPECT_EQ(img.bits, 4);  // white + 7 colours
        expectDotLayer(pl[0], page, expected, false);
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
        const ReadPdf pdf = readPdf(doc.toPdf());
        const auto& pl = pdf.painted;
        ASSERT_EQ(pl.size(), 1u);
        const Image& img = pl[0];
        EXPECT_TRUE(img.indexed);
        EXPECT_EQ(img.bits, bits) << colors << " colours";
        EXPECT_EQ(img.paletteSize, std::size_t(colors) + 1);
        expectDotLayer(pl[0], kLabel600, expected, false);
    }
}

TEST(LabelDocument, MoreColoursThanAPaletteHoldsSwitchToRgb) {
    for (const int colours : {256, 300}) {  // with white, 256 is already one too many
        LabelDocument doc(kLabel600);
        DotMap expected;
        for (int i = 0; i < colours; ++i) {
            const ColorValue c = (ColorValue(i) * 0x00030507u) & 0xFFFFFF;
            doc.plot(float(100 + i % 20), float(50 + i / 20), c);
            expected[{100 + i % 20, 50 + i / 20}] = c;
        }
        const ReadPdf pdf = readPdf(doc.toPdf());
        ASSERT_EQ(pdf.painted.size(), 1u);
        EXPECT_FALSE(pdf.painted[0].indexed);
        expectDotLayer(pdf.painted[0], kLabel600, expected, false);
    }
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
    EXPECT_TRUE(readPdf(doc.toPdf()).painted.empty());

    // The corners are on the page; a dot plotted twice keeps its last colour, also when the
    // two plots are far apart in the sequence and in other rows.
    doc.plot(0, 0, kPureRed);
    doc.plot(239.9f, 359.9f, kPureBlue);
    doc.plot(7, 9, kPureGreen);
    doc.plot(8, 9, kBlack);
    doc.plot(0, 0, kPureGreen);
    doc.plot(7.5f, 9.5f, 0x123456);
    const ReadPdf pdf = readPdf(doc.toPdf());
    const auto& pl = pdf.painted;
    ASSERT_EQ(pl.size(), 1u);
    DotMap expected{
        {{0, 0}, kPureGreen}, {{239, 359}, kPureBlue}, {{7, 9}, 0x123456}, {{8, 9}, kBlack}};
    expectDotLayer(pl[0], small, expected, false);
}

std::vector<std::uint32_t> randomPicture(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint32_t> px(std::size_t(w) * h);
    for (auto& p : px) p = std::uint32_t(rng());  // top byte is garbage on purpose
    return px;
}

TEST(LabelDocument, PicturesAreLosslessImagesPaintedInOrder) {
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
    doc.drawPicture(PictureView{px.data(), w, h, w}, 0, 0, 9, 9, [] { return false; });  // stopped
    // A palette picture keeps its palette: indices over a 256-colour lookup.
    std::vector<std::uint8_t> indices(std::size_t(w + 1) * h);
    for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = std::uint8_t(i * 7);
    std::vector<ColorValue> palette(256);
    for (std::size_t i = 0; i < 256; ++i) palette[i] = px[i] & 0xFFFFFF;
    doc.drawPicture(PictureView::indexed8(indices.data(), w, h, w + 1, palette.data()), 30, 40, w,
                    h);
    EXPECT_FALSE(doc.buildPdf([] { return false; }));

    const ReadPdf pdf = readPdf(doc.toPdf());
    const auto& pl = pdf.painted;
    ASSERT_EQ(pl.size(), 4u);

    expectDotLayer(pl[0], kLabel600, {{{5, 5}, kPureBlue}}, false);

    const Image& pic = pl[1];
    EXPECT_FALSE(pic.indexed);
    ASSERT_EQ(pic.width, w);
    ASSERT_EQ(pic.height, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(pic.at(x, y), px[std::size_t(y) * w + x] & 0xFFFFFF) << x << "," << y;
    const double k = 72.0 / 600;
    EXPECT_NEAR(pl[1].w, 378.0 * k, 1e-6);
    EXPECT_NEAR(pl[1].h, 474.0 * k, 1e-6);
    EXPECT_NEAR(pl[1].x, 10.5 * k, 1e-6);
    EXPECT_NEAR(pl[1].y, (3600 - 20.25 - 474.0) * k, 1e-6);

    // Dots over a picture must leave the rest of the picture visible.
    expectDotLayer(pl[2], kLabel600, {{{12, 22}, kPureRed}, {{100, 200}, kPureGreen}}, true);

    const Image& indexed = pl[3];
    EXPECT_TRUE(indexed.indexed);
    ASSERT_EQ(indexed.width, w);
    ASSERT_EQ(indexed.height, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(indexed.at(x, y), palette[indices[std::size_t(y) * (w + 1) + x]])
                << x << "," << y;
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
    const ReadPdf pdf = readPdf(doc.toPdf());
    const auto& pl = pdf.painted;
    ASSERT_EQ(pl.size(), 2u);
    const Image& img = pl[1];
    EXPECT_FALSE(img.indexed);
    expectDotLayer(pl[1], kLabel600, expected, true);
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
    const ReadPdf pdf = readPdf(doc.toPdf());
    const auto& pl = pdf.painted;
    ASSERT_EQ(pl.size(), 1u);
    expectDotLayer(pl[0], page, expected, false);
}

}  // namespace
}  // namespace plx
