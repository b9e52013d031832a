#include "bench/bench_support.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string_view>

#include "common/memory.h"

namespace plx::bench {

std::size_t Picture::printDots() const {
    std::size_t n = 0;
    for (std::uint32_t w : words) n += isMainPrintColor(w & 0x00FFFFFFu) ? 1 : 0;
    return n;
}

const Picture& standardPicture() {
    static const Picture p = randomColours(kPictureWidth, kPictureHeight, kPrintShare);
    return p;
}

Picture randomColours(int width, int height, double share, unsigned seed) {
    Picture p{width, height, std::vector<std::uint32_t>(std::size_t(width) * height)};
    std::mt19937 rng(seed);
    const std::uint32_t threshold = std::uint32_t(share * 4294967296.0);
    const ColorValue colours[] = {kBlack, kPureRed, kPureGreen, kPureBlue};
    for (std::uint32_t& w : p.words) {
        const std::uint32_t r = std::uint32_t(rng());
        const ColorValue c = r < threshold ? colours[rng() & 3u] : 0x00FFFFFFu;
        w = c | ((r & 0xFFu) << 24);  // garbage in the unused byte
    }
    return p;
}

Picture checkerboard(int width, int height) {
    Picture p{width, height, std::vector<std::uint32_t>(std::size_t(width) * height)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p.words[std::size_t(y) * width + x] = ((x + y) % 2 == 0) ? kBlack : 0xFF'FFFFFFu;
    return p;
}

bool MedianReporter::ReportContext(const Context& context) {
    return ConsoleReporter::ReportContext(context);
}

void MedianReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.error_occurred) continue;
        Figures f;
        f.realSeconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        for (const auto& [name, c] : run.counters) f.counters[name] = c.value;
        const std::string name = run.run_name.str();
        if (run.run_type == Run::RT_Aggregate) {
            if (run.aggregate_name == "median") m_medians[name] = f;
        } else {
            m_single[name] = f;
        }
    }
    ConsoleReporter::ReportRuns(runs);
}

const MedianReporter::Figures* MedianReporter::find(const std::string& name) const {
    for (const auto* m : {&m_medians, &m_single}) {
        for (const auto& [key, f] : *m) {
            if (key == name || key.rfind(name + "/", 0) == 0) return &f;
        }
    }
    return nullptr;
}

double MedianReporter::counter(const std::string& name, const std::string& counter) const {
    const Figures* f = find(name);
    if (f == nullptr) return 0.0;
    const auto it = f->counters.find(counter);
    return it == f->counters.end() ? 0.0 : it->second;
}

double MedianReporter::seconds(const std::string& name) const {
    const Figures* f = find(name);
    return f == nullptr ? 0.0 : f->realSeconds;
}

bool runBenchmarks(int* argc, char** argv, MedianReporter& reporter) {
    keepFreedMemory();  // as the station does: the figures are its steady state
    benchmark::Initialize(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(*argc, argv)) return false;
    const std::size_t ran = benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return ran > 0;
}

void printFigure(const std::string& figure, const std::string& goal, const std::string& measured,
                 std::optional<bool> met) {
    std::printf("FIGURE | %s | %s | %s | %s\n", figure.c_str(), goal.c_str(), measured.c_str(),
                !met ? "-" : (*met ? "yes" : "NO"));
    std::fflush(stdout);
}

ColorValue PdfImage::at(int x, int y) const {
    if (!indexed) {
        const std::size_t i = (std::size_t(y) * width + x) * 3;
        return colorFromRgb(data[i], data[i + 1], data[i + 2]);
    }
    const std::size_t rowBytes = (std::size_t(width) * bitsPerComponent + 7) / 8;
    const std::size_t bit = std::size_t(x) * bitsPerComponent;
    const unsigned byte = data[std::size_t(y) * rowBytes + bit / 8];
    const unsigned shift = unsigned(8 - bitsPerComponent) - unsigned(bit % 8);
    const unsigned index = (byte >> shift) & ((1u << bitsPerComponent) - 1u);
    if (index >= palette.size()) throw std::runtime_error("palette index past the palette");
    return palette[index];
}

namespace {

long long numberAfter(std::string_view dict, std::string_view key) {
    const auto at = dict.find(key);
    if (at == std::string_view::npos) throw std::runtime_error("no " + std::string(key));
    return std::strtoll(std::string(dict.substr(at + key.size(), 24)).c_str(), nullptr, 10);
}

std::vector<std::uint8_t> inflate(std::string_view in, std::size_t expected) {
    std::vector<std::uint8_t> out(expected);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) throw std::runtime_error("inflateInit");
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = ::inflate(&z, Z_FINISH);
    const std::size_t produced = out.size() - z.avail_out;
    inflateEnd(&z);
    if (rc != Z_STREAM_END || produced != expected) {
        throw std::runtime_error("image stream inflates to " + std::to_string(produced) +
                                 " bytes, not " + std::to_string(expected));
    }
    return out;
}

}  // namespace

std::vector<PdfImage> pdfImages(const std::string& pdf) {
    std::vector<PdfImage> images;
    std::size_t from = 0;
    for (;;) {
        const auto mark = pdf.find("/Subtype /Image", from);
        if (mark == std::string::npos) break;
        const auto open = pdf.rfind("<<", mark);
        const auto close = pdf.find(">>\nstream\n", mark);
        if (open == std::string::npos || close == std::string::npos)
            throw std::runtime_error("image dictionary without stream");
        const std::string_view dict(pdf.data() + open, close - open);
        PdfImage img;
        img.width = int(numberAfter(dict, "/Width "));
        img.height = int(numberAfter(dict, "/Height "));
        img.bitsPerComponent = int(numberAfter(dict, "/BitsPerComponent "));
        const long long length = numberAfter(dict, "/Length ");
        if (dict.find("/FlateDecode") == std::string_view::npos)
            throw std::runtime_error("image not Flate-compressed");
        const auto idx = dict.find("/Indexed /DeviceRGB ");
        std::size_t components = 3;
        if (idx != std::string_view::npos) {
            img.indexed = true;
            components = 1;
            const auto lt = dict.find('<', idx);
            const auto gt = dict.find('>', lt);
            const std::string hex(dict.substr(lt + 1, gt - lt - 1));
            for (std::size_t i = 0; i + 6 <= hex.size(); i += 6) {
                const unsigned long rgb = std::strtoul(hex.substr(i, 6).c_str(), nullptr, 16);
                img.palette.push_back(colorFromRgb(std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8),
                                                   std::uint8_t(rgb)));
            }
        } else if (dict.find("/DeviceRGB") == std::string_view::npos || img.bitsPerComponent != 8) {
            throw std::runtime_error("image neither indexed nor 8-bit RGB");
        }
        const std::size_t start = close + 10;
        if (length < 0 || start + std::size_t(length) > pdf.size())
            throw std::runtime_error("image stream runs past the end of the document");
        const std::size_t rowBytes =
            (std::size_t(img.width) * components * std::size_t(img.bitsPerComponent) + 7) / 8;
        img.data = inflate(std::string_view(pdf.data() + start, std::size_t(length)),
                           rowBytes * std::size_t(img.height));
        images.push_back(std::move(img));
        from = start + std::size_t(length);
    }
    return images;
}

}  // namespace plx::bench
