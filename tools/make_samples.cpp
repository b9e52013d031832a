// Writes a few sample label pictures for the demo: text-like and barcode-like shapes in the
// four print colours, with grey and near-pure pixels that dot replication must leave blank.
//   make_samples FOLDER

#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

namespace {

const QColor kBlack(0, 0, 0), kRed(255, 0, 0), kGreen(0, 255, 0), kBlue(0, 0, 255);

void text(QPainter& p, int x, int y, int size, const QColor& c, const QString& s) {
    QFont f(QStringLiteral("DejaVu Sans"), 10, QFont::Bold);
    f.setPixelSize(size);
    f.setStyleStrategy(QFont::NoAntialias);  // pure colours only, no blended edges
    p.setFont(f);
    p.setPen(c);
    p.drawText(x, y, s);
}

void barcode(QPainter& p, int x, int y, int h, const QColor& c, unsigned seed) {
    for (int i = 0; i < 60; ++i) {
        seed = seed * 1103515245u + 12345u;
        const int w = 2 + int((seed >> 16) % 4);
        if (i % 2 == 0) p.fillRect(x, y, w, h, c);
        x += w;
    }
}

QImage label(const QString& title, const QColor& accent, unsigned seed) {
    QImage img(900, 600, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(0, 0, 900, 8, kBlack);
    p.fillRect(0, 592, 900, 8, kBlack);
    p.fillRect(0, 0, 8, 600, kBlack);
    p.fillRect(892, 0, 8, 600, kBlack);
    text(p, 40, 90, 64, kBlack, title);
    text(p, 40, 160, 36, accent, QStringLiteral("PLIXAGRAM LOT 42"));
    barcode(p, 40, 200, 160, kBlack, seed);
    p.fillRect(600, 200, 80, 80, kRed);
    p.fillRect(700, 200, 80, 80, kGreen);
    p.fillRect(800, 200, 60, 80, kBlue);
    // Grey shading and near-pure colours: shown on screen, never dot-printed.
    for (int i = 0; i < 8; ++i)
        p.fillRect(600 + i * 32, 300, 32, 60, QColor(i * 30, i * 30, i * 30 + 10));
    p.fillRect(600, 380, 80, 40, QColor(254, 0, 0));
    p.fillRect(700, 380, 80, 40, QColor(1, 255, 0));
    p.fillRect(800, 380, 60, 40, QColor(0, 0, 254));
    text(p, 40, 450, 40, kBlue, QStringLiteral("Use before 2027-06"));
    text(p, 40, 530, 40, kRed, QStringLiteral("Fragile"));
    return img;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples FOLDER\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    struct Sample {
        const char* name;
        const char* title;
        QColor accent;
    } samples[] = {{"lot42_front_2.bmp", "FRONT", kRed},
                   {"lot42_back_1.bmp", "BACK", kGreen},
                   {"order7_barcode_3.bmp", "ORDER 7", kBlue}};
    unsigned seed = 7;
    for (const Sample& s : samples) {
        const QString path = dir.filePath(QString::fromUtf8(s.name));
        // Written under a hidden name first so the station never sees half a file.
        const QString tmp = dir.filePath(QStringLiteral(".") + QString::fromUtf8(s.name));
        if (!label(QString::fromUtf8(s.title), s.accent, seed++).save(tmp, "BMP") ||
            !QDir().rename(tmp, path)) {
            std::fprintf(stderr, "make_samples: cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
