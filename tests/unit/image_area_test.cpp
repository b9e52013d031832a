#include "picture/qt_image_area.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "picture/bmp_check.h"
#include "tests/support/bmp_writer.h"
#include "tests/support/temp_folder_test.h"

using namespace plx;
using namespace plx::test;

namespace {

// Pure print colours and their nearest neighbours: a decoder that is off by one shows here.
const std::vector<ColorValue> kEdgeColors = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000, 0x0000FE,
                                             0x00FF01, 0xFE0000, 0xFFFFFF, 0x010101, 0x7F8081};

std::vector<ColorValue> truecolorPicture(int w, int h) {
    std::vector<ColorValue> px;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (y < 2)
                px.push_back(kEdgeColors[std::size_t(x / 2 + y) % kEdgeColors.size()]);
            else
                px.push_back(colorFromRgb(std::uint8_t(x * 7 + y), std::uint8_t(y * 11),
                                          std::uint8_t(255 - x * 3 - y)));
        }
    return px;
}

std::vector<ColorValue> palette(std::size_t n) {
    std::vector<ColorValue> p(
        kEdgeColors.begin(), kEdgeColors.begin() + std::ptrdiff_t(std::min(n, kEdgeColors.size())));
    for (std::size_t i = p.size(); i < n; ++i)
        p.push_back(
            colorFromRgb(std::uint8_t(i * 37), std::uint8_t(i * 91), std::uint8_t(i * 13 + 5)));
    return p;
}

// Runs of one colour (left part), then every pixel different (right part): RLE writes real runs
// and literal runs.
std::vector<ColorValue> palettedPicture(int w, int h, const std::vector<ColorValue>& pal) {
    std::vector<ColorValue> px;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px.push_back(x < w / 3 ? pal[std::size_t(y) % pal.size()]
                                   : pal[std::size_t(x * 3 + y) % pal.size()]);
    return px;
}

std::string suiteDir() { return PLX_SOURCE_DIR "/tests/data/bmpsuite"; }

class ImageAreaTest : public plx::test::TempFolderTest {
  protected:
    void expectPixels(const QtImageArea& area, int w, int h, const std::vector<ColorValue>& want,
                      const std::string& what) {
        ASSERT_EQ(area.width(), float(w)) << what;
        ASSERT_EQ(area.height(), float(h)) << what;
        int wrong = 0;
        for (int y = 0; y < h && wrong < 5; ++y)
            for (int x = 0; x < w && wrong < 5; ++x)
                if (area.pixel(x, y) != want[std::size_t(y * w + x)]) {
                    ++wrong;
                    ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << std::hex
                                  << area.pixel(x, y) << ", want " << want[std::size_t(y * w + x)];
                }
    }
};

struct FormatCase {
    BmpFormat format;
    std::size_t paletteSize;  // 0: true colour
    bool topDown;
    const char* name;
};
void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class ImageAreaFormats : public ImageAreaTest, public ::testing::WithParamInterface<FormatCase> {};

}  // namespace

TEST_P(ImageAreaFormats, DecodesEveryPixelExactly) {
    const FormatCase& c = GetParam();
    // Odd sizes: rows need padding and RLE4 ends on half a byte.
    const int w = 37, h = 11;
    const std::vector<ColorValue> pal =
        c.paletteSize ? palette(c.paletteSize) : std::vector<ColorValue>{};
    const std::vector<ColorValue> px =
        c.paletteSize ? palettedPicture(w, h, pal) : truecolorPicture(w, h);
    const std::string file = write("p.bmp", encodeBmp(w, h, px, {c.format, pal, c.topDown}));

    QtImageArea area;
    auto r = area.load(file);
    ASSERT_TRUE(r.ok()) << r.error().message;
    std::vector<ColorValue> want;
    for (ColorValue v : px) want.push_back(decodedColor(c.format, v));
    expectPixels(area, w, h, want, c.name);

    const PictureView view = area.picture();
    ASSERT_FALSE(view.empty());
    EXPECT_EQ(view.width, w);
    EXPECT_EQ(view.height, h);
    // Read in place: a palette picture one byte a pixel, plain 24 bits three, the others as
    // 32-bit words.
    const bool palette = c.paletteSize != 0, rgb24 = c.format == BmpFormat::Rgb24;
    EXPECT_EQ(view.indexed(), palette);
    EXPECT_EQ(view.packed(), rgb24);
    const void* bits = palette ? static_cast<const void*>(view.indices)
                       : rgb24 ? static_cast<const void*>(view.rgb)
                               : view.pixels;
    EXPECT_EQ(bits, static_cast<const void*>(area.image().constBits()))
        << "the view must read the image in place";
    EXPECT_EQ(area.image().format(), palette ? QImage::Format_Indexed8
                                     : rgb24 ? QImage::Format_RGB888
                                             : QImage::Format_RGBX8888);
    EXPECT_EQ(view.at(5, 7), want[7 * w + 5]);
    std::vector<ColorValue> last(static_cast<std::size_t>(w));
    view.readRow(h - 1, 0, last.size(), last.data());
    EXPECT_EQ(last.back(), want.back());
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {w, 0}, {0, h}, {w, h}, {-1000000, 5}})
        EXPECT_EQ(area.pixel(x, y), kOutsidePicture) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    AllEncodings, ImageAreaFormats,
    ::testing::Values(FormatCase{BmpFormat::Pal1, 2, false, "Pal1"},
                      FormatCase{BmpFormat::Pal1, 2, true, "Pal1TopDown"},
                      FormatCase{BmpFormat::Pal4, 16, false, "Pal4"},
                      FormatCase{BmpFormat::Pal4, 9, true, "Pal4TopDown"},
                      FormatCase{BmpFormat::Pal8, 256, false, "Pal8"},
                      FormatCase{BmpFormat::Pal8, 200, true, "Pal8TopDown"},
                      FormatCase{BmpFormat::Rle4, 16, false, "Rle4"},
                      FormatCase{BmpFormat::Rle8, 256, false, "Rle8"},
                      FormatCase{BmpFormat::Rle8, 10, false, "Rle8SmallPalette"},
                      FormatCase{BmpFormat::Rgb555, 0, false, "Rgb555"},
                      FormatCase{BmpFormat::Rgb555Bitfields, 0, true, "Rgb555BitfieldsTopDown"},
                      FormatCase{BmpFormat::Rgb565, 0, false, "Rgb565"},
                      FormatCase{BmpFormat::Rgb24, 0, false, "Rgb24"},
                      FormatCase{BmpFormat::Rgb24, 0, true, "Rgb24TopDown"},
                      FormatCase{BmpFormat::Rgb32, 0, false, "Rgb32"},
                      FormatCase{BmpFormat::Rgb32Bitfields, 0, true, "Rgb32BitfieldsTopDown"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(ImageAreaTest, PureColoursKeepFullScaleInEveryTrueColourFormat) {
    const std::vector<ColorValue> pure = {kBlack, kPureRed, kPureGreen, kPureBlue, 0xFFFFFF};
    for (BmpFormat f : {BmpFormat::Rgb555, BmpFormat::Rgb565, BmpFormat::Rgb24, BmpFormat::Rgb32,
                        BmpFormat::Rgb32Bitfields}) {
        QtImageArea area;
        auto r = area.load(write("pure.bmp", encodeBmp(5, 1, pure, {f})));
        ASSERT_TRUE(r.ok()) << r.error().message;
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(area.pixel(x, 0), pure[std::size_t(x)]) << "format " << int(f) << " x " << x;
    }
}

TEST_F(ImageAreaTest, ClearEmptiesAndCallbackFollowsEveryChange) {
    QtImageArea area;
    int changes = 0;
    area.setChangedCallback([&] { ++changes; });
    EXPECT_EQ(area.width(), 0.f);
    EXPECT_TRUE(area.picture().empty());
    EXPECT_EQ(area.pixel(0, 0), kOutsidePicture);

    ASSERT_TRUE(area.load(write("a.bmp", encodeBmp(3, 2, truecolorPicture(3, 2)))).ok());
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(area.load(path("missing.bmp")).ok());
    EXPECT_EQ(changes, 1) << "a failed load changes nothing";
    area.clear();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(area.width(), 0.f);
    EXPECT_EQ(area.height(), 0.f);
    EXPECT_TRUE(area.picture().empty());
    EXPECT_TRUE(area.image().isNull());
    EXPECT_EQ(area.pixel(0, 0), kOutsidePicture);
}

TEST_F(ImageAreaTest, TruncatedFilesAreIncompleteAndKeepThePreviousPicture) {
    QtImageArea area;
    const auto keep = truecolorPicture(4, 3);
    ASSERT_TRUE(area.load(write("keep.bmp", encodeBmp(4, 3, keep))).ok());

    const auto pal = palette(256);
    const std::vector<std::uint8_t> pal8 =
        encodeBmp(40, 30, palettedPicture(40, 30, pal), {BmpFormat::Pal8, pal});
    const std::vector<std::uint8_t> rgb =
        encodeBmp(40, 30, truecolorPicture(40, 30), {BmpFormat::Rgb24});
    const std::vector<std::uint8_t> rle =
        encodeBmp(40, 30, palettedPicture(40, 30, pal), {BmpFormat::Rle8, pal});
    struct Cut {
        const std::vector<std::uint8_t>* file;
        std::size_t keep;
        const char* where;
    };
    const std::vector<Cut> cuts = {
        {&pal8, 0, "empty file"},
        {&pal8, 1, "one byte"},
        {&pal8, 8, "file header"},
        {&pal8, 30, "info header"},
        {&pal8, 54 + 500, "palette"},
        {&pal8, 54 + 1024, "before pixel data"},
        {&pal8, pal8.size() / 2 + 54, "middle of the pixel rows"},
        {&pal8, pal8.size() - 1, "one byte short"},
        {&rgb, rgb.size() / 2, "24-bit pixel rows"},
        {&rgb, rgb.size() - 1, "24-bit one byte short"},
        {&rle, rle.size() - 2, "RLE without end marker"},
        {&rle, rle.size() - 40, "RLE cut mid-stream"},
    };
    for (const Cut& c : cuts) {
        std::vector<std::uint8_t> part(c.file->begin(), c.file->begin() + std::ptrdiff_t(c.keep));
        const std::string file = write("cut.bmp", part);
        auto r = area.load(file);
        ASSERT_FALSE(r.ok()) << c.where << " loaded";
        EXPECT_EQ(r.error().kind, ErrorKind::Incomplete) << c.where << ": " << r.error().message;
        EXPECT_NE(r.error().message.find(file), std::string::npos) << r.error().message;
        expectPixels(area, 4, 3, keep, std::string("after ") + c.where);
    }
    // Once the file is complete, it loads.
    ASSERT_TRUE(area.load(write("cut.bmp", rle)).ok());
    EXPECT_EQ(area.width(), 40.f);
}

TEST_F(ImageAreaTest, MissingUnreadableAndNonPictureFilesAreRefused) {
    QtImageArea area;
    auto missing = area.load(path("nothing-here.bmp"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().kind, ErrorKind::NotFound);
    EXPECT_NE(missing.error().message.find("nothing-here.bmp"), std::string::npos);

    const std::string text = write("notes.bmp", {'h', 'e', 'l', 'l', 'o', '\n'});
    auto notPicture = area.load(text);
    ASSERT_FALSE(notPicture.ok());
    EXPECT_EQ(notPicture.error().kind, ErrorKind::Invalid);

    // There, but not readable as a file: an I/O failure to retry, not a bad picture. A FIFO
    // must not block the load waiting for a writer. Permission bits do not stop root, a
    // descriptor limit does.
    const std::string fifo = path("pipe.bmp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(area.load(fifo).error().kind, ErrorKind::Io);
    EXPECT_EQ(area.load(m_dir.path().toStdString()).error().kind, ErrorKind::Io);
    const std::string good = write("good.bmp", encodeBmp(2, 2, truecolorPicture(2, 2)));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = ::open(m_dir.path().toLocal8Bit().constData(), O_RDONLY);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const Result<void> noDescriptor = area.load(good);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_FALSE(noDescriptor.ok());
    EXPECT_EQ(noDescriptor.error().kind, ErrorKind::Io) << noDescriptor.error().message;
    EXPECT_TRUE(area.load(good).ok());
}

TEST_F(ImageAreaTest, HugeHeadersAreRefusedBeforeAllocating) {
    QtImageArea area;
    // A 60000 x 60000 24-bit header with no pixel data: refused as too large, not as unfinished.
    std::vector<std::uint8_t> bmp = encodeBmp(1, 1, {kBlack});
    bmp.resize(54);
    for (int i = 0; i < 4; ++i) {
        bmp[18 + std::size_t(i)] = std::uint8_t(60000 >> (8 * i));
        bmp[22 + std::size_t(i)] = std::uint8_t(60000 >> (8 * i));
    }
    auto r = area.load(write("huge.bmp", bmp));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Invalid);

    // The same limit for other formats: a PNG whose header claims 20000 x 20000.
    QImage small(3, 3, QImage::Format_RGB32);
    small.fill(Qt::red);
    const std::string png = path("huge.png");
    ASSERT_TRUE(small.save(QString::fromStdString(png), "PNG"));
    std::vector<std::uint8_t> bytes = readFile(png);
    ASSERT_GT(bytes.size(), 33u);
    for (std::size_t at : {16u, 20u}) {  // IHDR width and height, big-endian
        bytes[at] = 0;
        bytes[at + 1] = 0;
        bytes[at + 2] = 0x4E;
        bytes[at + 3] = 0x20;
    }
    // Fix the IHDR checksum so the header itself is well-formed.
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 12; i < 29; ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc ^= 0xFFFFFFFF;
    for (int i = 0; i < 4; ++i) bytes[29 + std::size_t(i)] = std::uint8_t(crc >> (24 - 8 * i));
    auto p = area.load(write("huge.png", bytes));
    ASSERT_FALSE(p.ok());
    EXPECT_EQ(p.error().kind, ErrorKind::Invalid);
    EXPECT_NE(p.error().message.find("limit"), std::string::npos) << p.error().message;
    EXPECT_TRUE(area.picture().empty());
}

TEST_F(ImageAreaTest, LoadsOtherFormatsQtReads) {
    QImage img(4, 2, QImage::Format_RGB32);
    for (int x = 0; x < 4; ++x) {
        img.setPixel(x, 0, qRgb(255, 0, 0));
        img.setPixel(x, 1, qRgb(0, 0, x == 3 ? 254 : 255));
    }
    const std::string png = path("label.png");
    ASSERT_TRUE(img.save(QString::fromStdString(png), "PNG"));
    QtImageArea area;
    auto r = area.load(png);
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(area.pixel(0, 0), kPureRed);
    EXPECT_EQ(area.pixel(2, 1), kPureBlue);
    EXPECT_EQ(area.pixel(3, 1), 0xFE0000u);
}

TEST_F(ImageAreaTest, DecodingAsideLetsTheCallerRunItsEventsOrAbandonIt) {
    const int w = 2000, h = 1500;
    const std::vector<ColorValue> px = truecolorPicture(w, h);
    const std::string file = write("big.bmp", encodeBmp(w, h, px));
    const std::string small = write("small.bmp", encodeBmp(3, 2, truecolorPicture(3, 2)));
    QtImageArea area;
    int waits = 0;
    bool eventRan = false;
    area.setDecodeWait([&] {
        ++waits;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return true;
    });
    QTimer::singleShot(0, [&] { eventRan = true; });
    ASSERT_TRUE(area.load(file).ok());
    EXPECT_GE(waits, 1);
    EXPECT_TRUE(eventRan);
    expectPixels(area, w, h, px, "decoded aside");

    // Abandoned (the station closing): Aborted, and the picture before stays.
    area.setDecodeWait({});
    ASSERT_TRUE(area.load(small).ok());
    area.setDecodeWait([] { return false; });
    const Result<void> abandoned = area.load(file);
    ASSERT_FALSE(abandoned.ok());
    EXPECT_EQ(abandoned.error().kind, ErrorKind::Aborted);
    expectPixels(area, 3, 2, truecolorPicture(3, 2), "kept");
}

// 4800 x 7200 at 24 bits: 138 MB decoded, above Qt's default allocation limit.
TEST_F(ImageAreaTest, LoadsA1200DpiLabel) {
    const int w = 4800, h = 7200;
    std::vector<ColorValue> px(std::size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[std::size_t(y) * w + x] =
                colorFromRgb(std::uint8_t(x), std::uint8_t(y), std::uint8_t(x ^ y));
    const std::string file = write("label.bmp", encodeBmp(w, h, px));
    px.clear();
    px.shrink_to_fit();
    QtImageArea area;
    auto r = area.load(file);
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(area.width(), float(w));
    EXPECT_EQ(area.height(), float(h));
    for (auto [x, y] : {std::pair{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}, {1234, 5678}})
        EXPECT_EQ(area.pixel(x, y),
                  colorFromRgb(std::uint8_t(x), std::uint8_t(y), std::uint8_t(x ^ y)))
            << x << "," << y;
}

// ---- The public BMP suite ----

namespace {

std::vector<ColorValue> pixelsOf(const QtImageArea& a) {
    std::vector<ColorValue> v;
    for (int y = 0; y < int(a.height()); ++y)
        for (int x = 0; x < int(a.width()); ++x) v.push_back(a.pixel(x, y));
    return v;
}

std::vector<std::string> suiteFiles(const std::string& sub) {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(suiteDir() + "/" + sub))
        if (e.path().extension() == ".bmp") files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    return files;
}

class BmpSuite : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::is_directory(suiteDir() + "/g"))
            << "BMP suite missing at " << suiteDir();
    }
    std::vector<ColorValue> load(const std::string& rel) {
        QtImageArea a;
        auto r = a.load(suiteDir() + "/" + rel);
        EXPECT_TRUE(r.ok()) << rel << ": " << r.error().message;
        return pixelsOf(a);
    }
};

}  // namespace

TEST_F(BmpSuite, EveryGoodFileLoadsWithItsSize) {
    const std::map<std::string, std::pair<int, int>> sizes = {{"pal8nonsquare.bmp", {127, 32}},
                                                              {"pal8w124.bmp", {124, 61}},
                                                              {"pal8w125.bmp", {125, 62}},
                                                              {"pal8w126.bmp", {126, 63}}};
    const auto files = suiteFiles("g");
    EXPECT_GE(files.size(), 27u);
    for (const std::string& f : files) {
        QtImageArea a;
        auto r = a.load(suiteDir() + "/g/" + f);
        ASSERT_TRUE(r.ok()) << f << ": " << r.error().message;
        auto it = sizes.find(f);
        const auto [w, h] = it != sizes.end() ? it->second : std::pair{127, 64};
        EXPECT_EQ(a.width(), float(w)) << f;
        EXPECT_EQ(a.height(), float(h)) << f;
    }
}

TEST_F(BmpSuite, GoodFilesDecodeToTheSamePixels) {
    const auto rgb24 = load("g/rgb24.bmp");
    ASSERT_EQ(rgb24.size(), 127u * 64u);
    for (const char* f : {"g/rgb24pal.bmp", "g/rgb32.bmp", "g/rgb32bf.bmp", "g/rgb32bfdef.bmp",
                          "q/rgb24largepal.bmp", "q/rgb24lprof.bmp", "q/rgb32-xbgr.bmp",
                          "q/rgb32fakealpha.bmp", "q/rgb32h52.bmp"})
        EXPECT_EQ(load(f), rgb24) << f;

    // 16 bits: the same picture within one 5-bit step per channel, every level at full scale
    // (31 reads 255), and the variants of one layout identical.
    const auto near = [](ColorValue a, ColorValue b) {
        for (int s = 0; s < 24; s += 8)
            if (std::abs(int((a >> s) & 0xFF) - int((b >> s) & 0xFF)) > 8) return false;
        return true;
    };
    const auto rgb16 = load("g/rgb16.bmp");
    const auto rgb565 = load("g/rgb16-565.bmp");
    ASSERT_EQ(rgb16.size(), rgb24.size());
    ASSERT_EQ(rgb565.size(), rgb24.size());
    for (std::size_t i = 0; i < rgb24.size(); ++i) {
        ASSERT_TRUE(near(rgb16[i], rgb24[i]))
            << i << std::hex << ": " << rgb16[i] << " vs " << rgb24[i];
        ASSERT_TRUE(near(rgb565[i], rgb24[i]))
            << i << std::hex << ": " << rgb565[i] << " vs " << rgb24[i];
        ASSERT_EQ(decodedColor(BmpFormat::Rgb555, rgb16[i]), rgb16[i]) << i;
        ASSERT_EQ(decodedColor(BmpFormat::Rgb565, rgb565[i]), rgb565[i]) << i;
    }
    EXPECT_NE(std::find(rgb16.begin(), rgb16.end(), 0xFFFFFFu), rgb16.end())
        << "white lost full scale";
    EXPECT_EQ(load("g/rgb16bfdef.bmp"), rgb16);
    EXPECT_EQ(load("q/rgb16faketrns.bmp"), rgb16);
    EXPECT_EQ(load("g/rgb16-565pal.bmp"), rgb565);

    const auto pal8 = load("g/pal8.bmp");
    for (const char* f : {"g/pal8-0.bmp", "g/pal8os2.bmp", "g/pal8rle.bmp", "g/pal8topdown.bmp",
                          "g/pal8v4.bmp", "g/pal8v5.bmp", "q/pal8offs.bmp", "q/pal8os2v2.bmp",
                          "q/pal8os2v2-16.bmp", "q/pal8os2v2-sz.bmp", "q/pal8os2v2-40sz.bmp"})
        EXPECT_EQ(load(f), pal8) << f;
    EXPECT_EQ(load("g/pal4rle.bmp"), load("g/pal4.bmp"));
    EXPECT_EQ(load("g/pal1wb.bmp"), load("g/pal1.bmp"));
}

// Palette and grey pictures are kept one byte a pixel; every pixel must still read as the
// 32-bit conversion Qt makes of the decoded picture, alpha in the palette included. Files Qt
// reads through another header are compared with their plain twins above.
TEST_F(BmpSuite, OneBytePicturesReadAsTheirRgbConversion) {
    std::vector<std::string> files;
    for (const char* sub : {"g", "q", "b"})
        for (const std::string& f : suiteFiles(sub))
            files.push_back(suiteDir() + "/" + sub + "/" + f);
    // Other pictures Qt gives one byte a pixel: a palette with (half) transparent entries, grey.
    QTemporaryDir tmp;
    QImage pal(37, 5, QImage::Format_Indexed8);
    pal.setColorTable({qRgba(255, 0, 0, 255), qRgba(0, 0, 255, 0), qRgba(0, 255, 0, 128),
                       qRgba(0, 0, 0, 255), qRgba(250, 240, 230, 1)});
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 37; ++x) pal.scanLine(y)[x] = std::uint8_t((x + y) % 5);
    QImage grey(19, 3, QImage::Format_Grayscale8);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 19; ++x) grey.scanLine(y)[x] = std::uint8_t(x * 13 + y * 100);
    for (const auto& [image, name] : {std::pair{pal, "pal.png"}, {grey, "grey.png"}}) {
        const QString file = tmp.filePath(QString::fromUtf8(name));
        ASSERT_TRUE(image.save(file));
        files.push_back(file.toStdString());
    }

    int compared = 0;
    for (const std::string& f : files) {
        const std::vector<std::uint8_t> bytes = readFile(f);
        const Result<BmpInfo> info = checkBmp(bytes);
        if (info && info->needsPlainHeader) continue;
        QtImageArea area;
        if (!area.load(f) || !area.picture().indexed()) continue;
        QImage reference = QImageReader(QString::fromStdString(f)).read();
        ASSERT_EQ(reference.size(), QSize(int(area.width()), int(area.height()))) << f;
        reference.convertTo(QImage::Format_RGBX8888);
        for (int y = 0; y < reference.height(); ++y) {
            const auto* words = reinterpret_cast<const std::uint32_t*>(reference.constScanLine(y));
            for (int x = 0; x < reference.width(); ++x)
                ASSERT_EQ(area.pixel(x, y), words[x] & 0xFFFFFFu) << f << " at " << x << "," << y;
        }
        ++compared;
    }
    EXPECT_GE(compared, 30);
}

TEST_F(BmpSuite, BadFilesAreRefusedOrHandledAsDecided) {
    // Loaded on purpose: the pixels are intact and unambiguous.
    const auto pal1 = load("g/pal1.bmp");
    EXPECT_EQ(load("b/baddens1.bmp"), pal1);  // odd density: the station prints device pixels
    EXPECT_EQ(load("b/baddens2.bmp"), pal1);
    EXPECT_EQ(load("b/badfilesize.bmp"), pal1);  // bfSize is not used; the data is all there
    // 8-8-0 bitfields: red and green exact, no blue channel at all.
    std::vector<ColorValue> redGreen;
    for (ColorValue c : load("g/rgb24.bmp")) redGreen.push_back(c & 0x00FFFF);
    EXPECT_EQ(load("b/rgb16-880.bmp"), redGreen);

    const std::map<std::string, ErrorKind> refused = {
        {"shortfile.bmp", ErrorKind::Incomplete},
        {"badbitcount.bmp", ErrorKind::Invalid},
        {"badbitssize.bmp", ErrorKind::Invalid},
        {"badheadersize.bmp", ErrorKind::Invalid},
        {"badpalettesize.bmp", ErrorKind::Invalid},
        {"badplanes.bmp", ErrorKind::Invalid},
        {"badrle.bmp", ErrorKind::Invalid},
        {"badrlebis.bmp", ErrorKind::Invalid},
        {"badrleter.bmp", ErrorKind::Invalid},
        {"badrle4.bmp", ErrorKind::Invalid},
        {"badrle4bis.bmp", ErrorKind::Invalid},
        {"badrle4ter.bmp", ErrorKind::Invalid},
        {"badwidth.bmp", ErrorKind::Invalid},
        {"reallybig.bmp", ErrorKind::Invalid},
        {"rletopdown.bmp", ErrorKind::Invalid},
        {"pal8badindex.bmp", ErrorKind::Invalid},  // an index past the palette has no colour
    };
    QtImageArea area;
    ASSERT_TRUE(area.load(suiteDir() + "/g/rgb24.bmp").ok());
    const auto before = pixelsOf(area);
    std::size_t seen = 0;
    for (const std::string& f : suiteFiles("b")) {
        if (f == "baddens1.bmp" || f == "baddens2.bmp" || f == "badfilesize.bmp" ||
            f == "rgb16-880.bmp")
            continue;
        auto it = refused.find(f);
        ASSERT_NE(it, refused.end()) << "no decision for b/" << f;
        ++seen;
        auto r = area.load(suiteDir() + "/b/" + f);
        ASSERT_FALSE(r.ok()) << "b/" << f << " loaded";
        EXPECT_EQ(r.error().kind, it->second) << f << ": " << r.error().message;
        EXPECT_NE(r.error().message.find(f), std::string::npos) << r.error().message;
    }
    EXPECT_EQ(seen, refused.size());
    EXPECT_EQ(pixelsOf(area), before) << "a refused file replaced the picture";
}

TEST_F(BmpSuite, QuestionableFilesLoadOrAreRefusedAsDecided) {
    // true: loads; false: refused as Invalid with its reason.
    const std::map<std::string, bool> decided = {
        {"pal1huffmsb.bmp", false},  // OS/2 Huffman compression
        {"pal1p1.bmp", true},        // one-colour palette, every pixel uses it
        {"pal2.bmp", false},         // 2 bits per pixel
        {"pal2color.bmp", false},
        {"pal4rlecut.bmp", false},   // RLE ends early: pixels undefined
        {"pal4rletrns.bmp", false},  // RLE deltas: pixels undefined
        {"pal8rlecut.bmp", false},
        {"pal8rletrns.bmp", false},
        {"pal8offs.bmp", true},
        {"pal8os2-hs.bmp", true},
        {"pal8os2-sz.bmp", true},
        {"pal8os2sp.bmp", false},  // OS/2 palette shorter than 256: offset inside the palette
        {"pal8os2v2-16.bmp", true},
        {"pal8os2v2-40sz.bmp", true},
        {"pal8os2v2-sz.bmp", true},
        {"pal8os2v2.bmp", true},
        {"pal8oversizepal.bmp", false},  // 300 palette entries at 8 bits
        {"rgb16-231.bmp", true},
        {"rgb16-3103.bmp", false},  // 10-bit channel
        {"rgb16faketrns.bmp", true},
        {"rgb24jpeg.bmp", false},
        {"rgb24largepal.bmp", true},
        {"rgb24lprof.bmp", true},
        {"rgb24png.bmp", false},
        {"rgb24rle24.bmp", false},
        {"rgb32-111110.bmp", false},  // channels wider than 8 bits
        {"rgb32-7187.bmp", false},
        {"rgb32-xbgr.bmp", true},
        {"rgb32fakealpha.bmp", true},
        {"rgb32h52.bmp", true},
        {"rgba16-1924.bmp", false},
        {"rgba16-4444.bmp", true},
        {"rgba16-5551.bmp", true},
        {"rgba32-1.bmp", true},
        {"rgba32-1010102.bmp", false},
        {"rgba32-2.bmp", true},
        {"rgba32-61754.bmp", false},
        {"rgba32-81284.bmp", false},
        {"rgba32abf.bmp", true},
        {"rgba32h56.bmp", true},
        {"rgba64.bmp", false},  // 64 bits per pixel
    };
    for (const std::string& f : suiteFiles("q")) {
        auto it = decided.find(f);
        ASSERT_NE(it, decided.end()) << "no decision for q/" << f;
        QtImageArea area;
        auto r = area.load(suiteDir() + "/q/" + f);
        if (it->second) {
            EXPECT_TRUE(r.ok()) << f << ": " << r.error().message;
            EXPECT_EQ(area.width(), 127.f) << f;
            EXPECT_EQ(area.height(), 64.f) << f;
        } else {
            ASSERT_FALSE(r.ok()) << "q/" << f << " loaded";
            EXPECT_EQ(r.error().kind, ErrorKind::Invalid) << f << ": " << r.error().message;
            EXPECT_GT(r.error().message.size(), f.size() + 12) << r.error().message;
        }
    }
    // Narrow channels come back at full scale: 2-3-1 bits hold pure colours exactly.
    QtImageArea a;
    ASSERT_TRUE(a.load(suiteDir() + "/q/rgb16-231.bmp").ok());
    const auto v = pixelsOf(a);
    for (ColorValue c : v) {
        const auto full = [](std::uint8_t ch, std::initializer_list<int> allowed) {
            return std::find(allowed.begin(), allowed.end(), int(ch)) != allowed.end();
        };
        ASSERT_TRUE(full(redOf(c), {0, 85, 170, 255}) &&
                    full(greenOf(c), {0, 36, 73, 109, 146, 182, 219, 255}) &&
                    full(blueOf(c), {0, 255}))
            << std::hex << c;
    }
}
