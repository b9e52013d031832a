// pwgtopng IN OUT_PREFIX: one PNG per page of a PWG or CUPS raster file (OUT_PREFIX-1.png, ...),
// so a printed label can be looked at or compared pixel for pixel.
#include <QImage>
#include <cstdio>
#include <string>

#include "tools/raster_pages.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pwgtopng IN.pwg OUT_PREFIX\n");
        return 1;
    }
    auto pages = plx::readRaster(argv[1]);
    if (!pages) {
        std::fprintf(stderr, "pwgtopng: %s\n", pages.error().message.c_str());
        return 1;
    }
    int number = 0;
    for (const plx::RasterPage& page : pages.value()) {
        ++number;
        if (page.width > 0x7FFFFFFFu || page.height > 0x7FFFFFFFu) {
            std::fprintf(stderr, "pwgtopng: page %d too large\n", number);
            return 1;
        }
        QImage image(int(page.width), int(page.height), QImage::Format_RGB888);
        if (image.isNull()) {
            std::fprintf(stderr, "pwgtopng: out of memory for page %d\n", number);
            return 1;
        }
        for (unsigned y = 0; y < page.height; ++y) {
            uchar* out = image.scanLine(int(y));
            for (unsigned x = 0; x < page.width; ++x) {
                const plx::ColorValue c = page.pixel(x, y);
                if (c == plx::kOutsidePicture) {
                    std::fprintf(
                        stderr,
                        "pwgtopng: page %d: colour space %u with %u bits is not supported\n",
                        number, page.colorSpace, page.bitsPerColor);
                    return 1;
                }
                out[3 * x] = plx::redOf(c);
                out[3 * x + 1] = plx::greenOf(c);
                out[3 * x + 2] = plx::blueOf(c);
            }
        }
        if (page.resX > 0 && page.resY > 0) {
            image.setDotsPerMeterX(int(page.resX * 10000.0 / 254.0 + 0.5));
            image.setDotsPerMeterY(int(page.resY * 10000.0 / 254.0 + 0.5));
        }
        const std::string path = std::string(argv[2]) + "-" + std::to_string(number) + ".png";
        if (!image.save(QString::fromStdString(path), "PNG")) {
            std::fprintf(stderr, "pwgtopng: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
