// Pictures in formats other than BMP that are cut short must wait like a BMP still being
// written, not print with a made-up rest.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <cstdint>
#include <string>
#include <vector>

#include "picture/qt_image_area.h"
#include "tests/support/bmp_writer.h"
#include "tests/support/temp_folder_test.h"

using namespace plx;
using namespace plx::test;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes encoded(const QImage& img, const char* format) {
    QByteArray a;
    QBuffer buf(&a);
    buf.open(QIODevice::WriteOnly);
    EXPECT_TRUE(img.save(&buf, format, 100)) << format;
    return Bytes(a.begin(), a.end());
}

QImage picture() {
    QImage img(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, qRgb(x * 4, 255 - y * 5, (x * y) & 255));
    return img;
}

class EndMarker : public plx::test::TempFolderTest {};

}  // namespace

TEST_F(EndMarker, JpegCutShortWaitsInsteadOfLoadingGrey) {
    const Bytes jpg = encoded(picture(), "JPG");
    ASSERT_GT(jpg.size(), 200u);
    QtImageArea area;
    ASSERT_TRUE(area.load(write("whole.bmp", jpg)).ok());
    area.clear();
    // Cut inside the compressed data: Qt would decode this and fill the rest with grey.
    const Bytes cut(jpg.begin(), jpg.end() - 40);
    const auto r = area.load(write("cut.bmp", cut));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Incomplete) << r.error().message;
    EXPECT_TRUE(area.picture().empty());
}

TEST_F(EndMarker, PngAndGifCutShortWait) {
    const Bytes png = encoded(picture(), "PNG");
    QtImageArea area;
    ASSERT_TRUE(area.load(write("whole_png.bmp", png)).ok());
    for (std::size_t keep : {png.size() - 1, png.size() - 12, png.size() / 2}) {
        const auto r =
            area.load(write("cut_png.bmp", Bytes(png.begin(), png.begin() + std::ptrdiff_t(keep))));
        ASSERT_FALSE(r.ok()) << keep;
        EXPECT_EQ(r.error().kind, ErrorKind::Incomplete) << keep << ": " << r.error().message;
    }

    // 2 x 2 GIF, red and blue; without its trailer byte its pixels are all there but the file
    // is not finished.
    const char gifText[] =
        "GIF89a\x02\x00\x02\x00\x80\x00\x00\xff\x00\x00\x00\x00\xff,\x00\x00"
        "\x00\x00\x02\x00\x02\x00\x00\x02\x02\x44\x50\x00;";
    const Bytes gif(gifText, gifText + sizeof gifText - 1);
    const auto whole = area.load(write("whole_gif.bmp", gif));
    ASSERT_TRUE(whole.ok()) << whole.error().message;
    const auto r = area.load(write("cut_gif.bmp", Bytes(gif.begin(), gif.end() - 1)));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Incomplete) << r.error().message;
}
