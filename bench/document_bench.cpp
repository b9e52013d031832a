// The print document for a mode "1" picture: time to build the PDF bytes from the picture and
// their size, beside a naive PDF with one rectangle fill ("x y 1 1 re f") per dot.
//
//   document_bench [google benchmark flags]
//
// Pictures: 2400 x 3000 with 30 % random pure colours, and a checkerboard of the same size
// (alternating black and white: no two dots touch, the worst case for merging dots).
// Label/*       LabelDocument: every print-coloured pixel plotted, then toPdf().
// NaivePlain/*  one "re f" per dot (colour set only when it changes), uncompressed.
// NaiveFlate/*  the same content stream Flate-compressed (zlib level 1), for reference.
// NaiveQt/*     QPdfWriter (600 dpi, 4 x 6 in, no margins) with one QPainter::fillRect per dot,
//               for reference: what a plain Qt implementation would write.
// Before timing, the label document's image is inflated and compared with the picture.
#include <zlib.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "bench/bench_support.h"
#include "document/label_document.h"

namespace plx::bench {
namespace {

const LabelPage kPage{288.0, 432.0, 600};

const Picture& randomPicture() { return standardPicture(); }
const Picture& checkerPicture() {
    static const Picture p = checkerboard(kPictureWidth, kPictureHeight);
    return p;
}

std::string labelDocument(const Picture& pic) {
    LabelDocument doc(kPage);
    const PictureView v = pic.view();
    for (int y = 0; y < v.height; ++y) {
        const std::uint32_t* row = v.row(y);
        for (int x = 0; x < v.width; ++x) {
            const ColorValue c = row[x] & 0x00FFFFFFu;
            if (isMainPrintColor(c)) doc.plot(x, y, c);
        }
    }
    return doc.toPdf();
}

void appendRgb(std::string& s, ColorValue c) {
    static const char* const levels[2] = {"0", "1"};
    s += levels[redOf(c) != 0];
    s += ' ';
    s += levels[greenOf(c) != 0];
    s += ' ';
    s += levels[blueOf(c) != 0];
    s += " rg\n";
}

std::string naiveDocument(const Picture& pic, bool flate) {
    std::string content = "0.12 0 0 -0.12 0 432 cm\n";  // device dots, first row at the top
    const PictureView v = pic.view();
    ColorValue current = kOutsidePicture;
    char buf[32];
    for (int y = 0; y < v.height; ++y) {
        const std::uint32_t* row = v.row(y);
        for (int x = 0; x < v.width; ++x) {
            const ColorValue c = row[x] & 0x00FFFFFFu;
            if (!isMainPrintColor(c)) continue;
            if (c != current) {
                appendRgb(content, c);
                current = c;
            }
            const int n = std::snprintf(buf, sizeof buf, "%d %d 1 1 re f\n", x, y);
            content.append(buf, std::size_t(n));
        }
    }
    std::string stream = content;
    std::string filter;
    if (flate) {
        uLongf size = compressBound(uLong(content.size()));
        stream.resize(size);
        if (compress2(reinterpret_cast<Bytef*>(stream.data()), &size,
                      reinterpret_cast<const Bytef*>(content.data()), uLong(content.size()),
                      1) != Z_OK) {
            throw std::runtime_error("compress2 failed");
        }
        stream.resize(size);
        filter = " /Filter /FlateDecode";
    }
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    auto obj = [&](const std::string& body) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    obj("<< /Type /Catalog /Pages 2 0 R >>");
    obj("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    obj("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 288 432] /Contents 4 0 R >>");
    offsets.push_back(pdf.size());
    pdf += "4 0 obj\n<< /Length " + std::to_string(stream.size()) + filter + " >>\nstream\n";
    pdf += stream;
    pdf += "\nendstream\nendobj\n";
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 5\n0000000000 65535 f \n";
    for (std::size_t off : offsets) {
        std::snprintf(buf, sizeof buf, "%010zu 00000 n \n", off);
        pdf += buf;
    }
    pdf += "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

std::string qtDocument(const Picture& pic) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(600);
        writer.setPageSize(QPageSize(QSizeF(4.0, 6.0), QPageSize::Inch));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&writer);
        const PictureView v = pic.view();
        for (int y = 0; y < v.height; ++y) {
            const std::uint32_t* row = v.row(y);
            for (int x = 0; x < v.width; ++x) {
                const ColorValue c = row[x] & 0x00FFFFFFu;
                if (isMainPrintColor(c))
                    painter.fillRect(QRect(x, y, 1, 1), QColor(redOf(c), greenOf(c), blueOf(c)));
            }
        }
    }
    return buffer.data().toStdString();
}

// The document must show exactly the picture's print-coloured pixels, the rest white.
bool labelDocumentMatches(const Picture& pic, std::string& why) {
    const std::vector<PdfImage> images = pdfImages(labelDocument(pic));
    if (images.size() != 1) {
        why = std::to_string(images.size()) + " images instead of one";
        return false;
    }
    const PdfImage& img = images[0];
    int minX = pic.width, minY = pic.height, maxX = -1, maxY = -1;
    for (int y = 0; y < pic.height; ++y)
        for (int x = 0; x < pic.width; ++x)
            if (isMainPrintColor(pic.view().at(x, y))) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
    if (img.width != maxX - minX + 1 || img.height != maxY - minY + 1) {
        why = "image is " + std::to_string(img.width) + " x " + std::to_string(img.height) +
              ", the dots' bounding box " + std::to_string(maxX - minX + 1) + " x " +
              std::to_string(maxY - minY + 1);
        return false;
    }
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const ColorValue c = pic.view().at(x + minX, y + minY);
            const ColorValue want = isMainPrintColor(c) ? c : 0xFFFFFFu;
            if (img.at(x, y) != want) {
                why = "pixel " + std::to_string(x + minX) + "," + std::to_string(y + minY) +
                      " differs";
                return false;
            }
        }
    return true;
}

void run(benchmark::State& state, const Picture& pic, int kind) {
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string pdf = kind == 0   ? labelDocument(pic)
                                : kind == 3 ? qtDocument(pic)
                                            : naiveDocument(pic, kind == 2);
        bytes = pdf.size();
        benchmark::DoNotOptimize(pdf.data());
    }
    state.counters["bytes"] = double(bytes);
    state.counters["dots"] = double(pic.printDots());
}

void Label(benchmark::State& s, const Picture* p) { run(s, *p, 0); }
void NaivePlain(benchmark::State& s, const Picture* p) { run(s, *p, 1); }
void NaiveFlate(benchmark::State& s, const Picture* p) { run(s, *p, 2); }
void NaiveQt(benchmark::State& s, const Picture* p) { run(s, *p, 3); }

}  // namespace
}  // namespace plx::bench

int main(int argc, char** argv) {
    using namespace plx::bench;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);  // QPdfWriter's painter wants one
    for (auto [name, pic] :
         {std::pair{"random", &randomPicture()}, {"checker", &checkerPicture()}}) {
        std::string why;
        if (!labelDocumentMatches(*pic, why)) {
            std::fprintf(stderr, "document_bench: the %s picture's document is wrong: %s\n", name,
                         why.c_str());
            return 1;
        }
        std::printf("%s picture: label document decoded back and compared: exact\n", name);
        for (auto [kind, fn] : {std::pair{"Label/", &Label},
                                {"NaivePlain/", &NaivePlain},
                                {"NaiveFlate/", &NaiveFlate}}) {
            benchmark::RegisterBenchmark((std::string(kind) + name).c_str(), fn, pic)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
        // Seconds per document: one iteration each, three times.
        benchmark::RegisterBenchmark((std::string("NaiveQt/") + name).c_str(), NaiveQt, pic)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1)
            ->Repetitions(3);
    }
    MedianReporter reporter;
    if (!runBenchmarks(&argc, argv, reporter)) return 1;
    std::printf("\n");
    for (auto [name, limit] : {std::pair{"random", 1.0}, {"checker", 3.0}}) {
        const std::string n = name;
        const double t = reporter.seconds("Label/" + n);
        const double b = reporter.counter("Label/" + n, "bytes");
        const double nt = reporter.seconds("NaivePlain/" + n);
        const double nb = reporter.counter("NaivePlain/" + n, "bytes");
        const double ft = reporter.seconds("NaiveFlate/" + n);
        const double fb = reporter.counter("NaiveFlate/" + n, "bytes");
        char m[200], goal[64];
        std::snprintf(goal, sizeof goal, "< %.0f s", limit);
        std::snprintf(m, sizeof m, "%.3f s", t);
        printFigure("Document " + n + ": build time", goal, m, t > 0 && t < limit);
        std::snprintf(m, sizeof m, "%.3f MB", b / 1e6);
        printFigure("Document " + n + ": size", "< 5 MB", m, b > 0 && b < 5e6);
        std::snprintf(m, sizeof m, "%.1f x (naive %.3f s, %.1f MB)", nt / t, nt, nb / 1e6);
        printFigure("Document " + n + ": faster than naive re-f PDF", ">= 10 x", m,
                    t > 0 && nt / t >= 10.0);
        std::snprintf(m, sizeof m, "%.1f x", nb / b);
        printFigure("Document " + n + ": smaller than naive re-f PDF", ">= 10 x", m,
                    b > 0 && nb / b >= 10.0);
        std::snprintf(m, sizeof m, "%.1f x faster, %.1f x smaller (naive Flate %.3f s, %.2f MB)",
                      ft / t, fb / b, ft, fb / 1e6);
        printFigure("Document " + n + ": vs naive re-f PDF, Flate-compressed", "(reference)", m,
                    std::nullopt);
        const double qt = reporter.seconds("NaiveQt/" + n);
        const double qb = reporter.counter("NaiveQt/" + n, "bytes");
        std::snprintf(m, sizeof m, "%.1f x faster, %.1f x smaller (QPdfWriter %.3f s, %.2f MB)",
                      qt / t, qb / b, qt, qb / 1e6);
        printFigure("Document " + n + ": vs naive QPdfWriter fillRect per dot",
                    ">= 10 x (reference peer)", m, t > 0 && qt / t >= 10.0 && qb / b >= 10.0);
    }
    return 0;
}
