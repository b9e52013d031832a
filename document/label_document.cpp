#include "document/label_document.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <span>
#include <stdexcept>
#include <unordered_map>

namespace plx {

namespace {

// Flate (zlib) compression into a growing string, fed in pieces.
class Deflater {
  public:
    explicit Deflater(std::string& out, int level = Z_BEST_SPEED) : m_out(out) {
        m_z.zalloc = Z_NULL;
        m_z.zfree = Z_NULL;
        m_z.opaque = Z_NULL;
        if (deflateInit(&m_z, level) != Z_OK) throw std::runtime_error("zlib: deflateInit failed");
    }
    ~Deflater() { deflateEnd(&m_z); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    void write(const unsigned char* data, std::size_t size) { run(data, size, Z_NO_FLUSH); }
    void finish() { run(nullptr, 0, Z_FINISH); }

  private:
    void run(const unsigned char* data, std::size_t size, int flush) {
        // zlib counts in uInt; feed huge buffers in slices. Output goes through a fixed
        // buffer so the stream is never grown and zero-filled ahead of what deflate writes.
        unsigned char buf[64 * 1024];
        do {
            const std::size_t slice = std::min<std::size_t>(size, 1u << 30);
            m_z.next_in = const_cast<unsigned char*>(data);
            m_z.avail_in = static_cast<uInt>(slice);
            const int f = (slice == size) ? flush : Z_NO_FLUSH;
            int rc = Z_OK;
            do {
                m_z.next_out = buf;
                m_z.avail_out = sizeof buf;
                rc = deflate(&m_z, f);
                if (rc == Z_STREAM_ERROR) throw std::runtime_error("zlib: deflate failed");
                m_out.append(reinterpret_cast<const char*>(buf), sizeof buf - m_z.avail_out);
            } while (m_z.avail_out == 0 || (f == Z_FINISH && rc != Z_STREAM_END));
            if (data != nullptr) data += slice;
            size -= slice;
        } while (size > 0);
    }

    std::string& m_out;
    z_stream m_z{};
};

// PDF numbers: fixed notation, never the locale's decimal comma, no exponent.
void appendNumber(std::string& out, double value) {
    if (!std::isfinite(value)) value = 0.0;
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6);
    if (ec != std::errc()) {
        out += '0';
        return;
    }
    // Trim trailing zeros: 0.120000 -> 0.12, 300.000000 -> 300.
    char* dot = std::find(buf, end, '.');
    if (dot != end) {
        while (end > dot + 1 && end[-1] == '0') --end;
        if (end == dot + 1) end = dot;
    }
    if (end - buf == 2 && buf[0] == '-' && buf[1] == '0') {
        out += '0';
        return;
    }
    out.append(buf, end);
}

void appendInt(std::string& out, long long value) {
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    (void)ec;
    out.append(buf, end);
}

void appendHexByte(std::string& out, unsigned v) {
    static const char* digits = "0123456789ABCDEF";
    out += digits[(v >> 4) & 0xF];
    out += digits[v & 0xF];
}

struct ImageObject {
    std::string dict;    // entries between << and >> except /Length
    std::string stream;  // compressed data
    // A picture's data, compressed when it was drawn, written from where it lies.
    const std::string* kept = nullptr;
};

// " /ColorSpace [/Indexed /DeviceRGB n <RRGGBB...>]" for the palette's colours.
void appendIndexedSpace(std::string& dict, const std::vector<ColorValue>& palette) {
    dict += " /ColorSpace [/Indexed /DeviceRGB ";
    appendInt(dict, static_cast<long long>(palette.size() - 1));
    dict += " <";
    for (ColorValue c : palette) {
        appendHexByte(dict, redOf(c));
        appendHexByte(dict, greenOf(c));
        appendHexByte(dict, blueOf(c));
    }
    dict += ">]";
}

int bitsForEntries(std::size_t entries) {
    if (entries <= 2) return 1;
    if (entries <= 4) return 2;
    if (entries <= 16) return 4;
    return 8;
}

}  // namespace

int LabelPage::widthDots() const {
    return static_cast<int>(std::floor(widthPt * dpi / 72.0 + 0.5));
}
int LabelPage::heightDots() const {
    return static_cast<int>(std::floor(heightPt * dpi / 72.0 + 0.5));
}

LabelDocument::LabelDocument(LabelPage page)
    : m_page(page), m_widthDots(page.widthDots()), m_heightDots(page.heightDots()) {}

void LabelDocument::plot(double xDots, double yDots, ColorValue color) {
    // The negated comparisons also drop NaN.
    if (!(xDots >= 0.0 && yDots >= 0.0)) return;
    const double fx = std::floor(xDots);
    const double fy = std::floor(yDots);
    if (!(fx < m_widthDots && fy < m_heightDots)) return;
    m_dots.push_back(
        Dot{static_cast<std::int32_t>(fx), static_cast<std::int32_t>(fy), color & 0x00FFFFFFu});
    if (m_layers.empty() || !std::holds_alternative<DotRun>(m_layers.back())) {
        m_layers.emplace_back(DotRun{m_dots.size() - 1, m_dots.size()});
    } else {
        std::get<DotRun>(m_layers.back()).end = m_dots.size();
    }
}

void LabelDocument::drawPicture(const PictureView& picture, double xDots, double yDots,
                                double widthDots, double heightDots,
                                const std::function<bool()>& pace) {
    if (picture.empty()) return;
    if (!std::isfinite(xDots) || !std::isfinite(yDots) || !std::isfinite(widthDots) ||
        !std::isfinite(heightDots) || widthDots <= 0.0 || heightDots <= 0.0) {
        return;
    }
    Picture p{picture.width, picture.height, xDots, yDots, widthDots, heightDots, {}, {}};
    Deflater z(p.flate);
    if (picture.indexed()) {
        p.palette.assign(picture.palette, picture.palette + 256);
        for (int y = 0; y < picture.height; ++y) {
            if (pace && !pace()) return;
            z.write(picture.indexRow(y), std::size_t(picture.width));
        }
    } else if (picture.packed()) {
        for (int y = 0; y < picture.height; ++y) {  // already the PDF's R, G, B bytes
            if (pace && !pace()) return;
            z.write(picture.rgbRow(y), std::size_t(picture.width) * 3);
        }
    } else {
        // In pieces: a row as wide as the pixel limit needs no row-sized buffer.
        constexpr int kPiece = 16384;
        std::vector<ColorValue> colours(std::size_t(std::min(picture.width, kPiece)));
        std::vector<unsigned char> rgb(colours.size() * 3);
        for (int y = 0; y < picture.height; ++y) {
            if (pace && !pace()) return;
            for (int x0 = 0; x0 < picture.width; x0 += kPiece) {
                const auto n = std::size_t(std::min(kPiece, picture.width - x0));
                picture.readRow(y, x0, n, colours.data());
                unsigned char* d = rgb.data();
                for (std::size_t i = 0; i < n; ++i) {
                    *d++ = redOf(colours[i]);
                    *d++ = greenOf(colours[i]);
                    *d++ = blueOf(colours[i]);
                }
                z.write(rgb.data(), n * 3);
            }
        }
    }
    z.finish();
    m_layers.emplace_back(std::move(p));
}

// The PDF of one document, built in its steps: one image per layer (a picture, or a run of
// dots over its bounding box), the content that places them, and the PDF objects around them.
class LabelPdf {
  public:
    LabelPdf(const LabelDocument& doc, const std::function<bool()>& pace)
        : m_doc(doc), m_ptPerDot(72.0 / doc.m_page.dpi), m_pace(pace) {}

    // Nothing once the pace says stop.
    std::optional<PdfPieces> build() {
        for (std::size_t li = 0; li < m_doc.m_layers.size(); ++li) {
            if (const auto* pic = std::get_if<LabelDocument::Picture>(&m_doc.m_layers[li]))
                addPicture(*pic);
            else if (!addDots(std::get<LabelDocument::DotRun>(m_doc.m_layers[li]), li > 0))
                return std::nullopt;
        }
        return objects();
    }

  private:
    using Dot = LabelDocument::Dot;

    // Dots of a run grouped by row of their bounding box, keeping their order inside a row so
    // that later dots win. Memory per dot and per row only, never per pixel of the box.
    struct Rows {
        int minX = 0, minY = 0, w = 0, h = 0;
        std::vector<std::uint32_t> start;  // h + 1 offsets into order
        std::vector<std::uint32_t> order;  // dot indices, relative to the run
    };

    // Places an image of w x h units whose top-left corner is at device dot (x, y). The page's
    // top edge is the raster's first row, so vertical positions count from the rounded height.
    void place(double x, double y, double w, double h) {
        m_content += "q ";
        appendNumber(m_content, w * m_ptPerDot);
        m_content += " 0 0 ";
        appendNumber(m_content, h * m_ptPerDot);
        m_content += ' ';
        appendNumber(m_content, x * m_ptPerDot);
        m_content += ' ';
        appendNumber(m_content, (m_doc.m_heightDots - y - h) * m_ptPerDot);
        m_content += " cm /Im";
        appendInt(m_content, static_cast<long long>(m_images.size()));
        m_content += " Do Q\n";
    }

    static std::string imageDict(int w, int h) {
        std::string dict = "/Type /XObject /Subtype /Image /Width ";
        appendInt(dict, w);
        dict += " /Height ";
        appendInt(dict, h);
        return dict;
    }

    void addPicture(const LabelDocument::Picture& pic) {
        place(pic.x, pic.y, pic.w, pic.h);
        ImageObject img;
        img.dict = imageDict(pic.width, pic.height);
        if (pic.palette.empty())
            img.dict += " /ColorSpace /DeviceRGB";
        else
            appendIndexedSpace(img.dict, pic.palette);
        img.dict += " /BitsPerComponent 8 /Filter /FlateDecode";
        img.kept = &pic.flate;
        m_images.push_back(std::move(img));
    }

    // False once the pace says stop.
    bool addDots(const LabelDocument::DotRun& run, bool overEarlier) {
        const std::span<const Dot> dots(m_doc.m_dots.data() + run.begin, run.end - run.begin);
        const Rows rows = rowsOf(dots);
        ImageObject img;
        img.dict = imageDict(rows.w, rows.h);
        Deflater z(img.stream);
        std::vector<ColorValue> palette;
        std::vector<std::uint8_t> indexOf;
        const bool done = paletteOf(dots, palette, indexOf)
                              ? writeIndexed(dots, rows, palette, indexOf, overEarlier, img.dict, z)
                              : writeRgb(dots, rows, overEarlier, img.dict, z);
        if (!done) return false;
        z.finish();
        img.dict += " /Filter /FlateDecode";
        place(rows.minX, rows.minY, rows.w, rows.h);
        m_images.push_back(std::move(img));
        return true;
    }

    static Rows rowsOf(std::span<const Dot> dots) {
        Rows r;
        int minX = std::numeric_limits<int>::max(), minY = minX;
        int maxX = std::numeric_limits<int>::min(), maxY = maxX;
        for (const Dot& d : dots) {
            minX = std::min(minX, d.x);
            maxX = std::max(maxX, d.x);
            minY = std::min(minY, d.y);
            maxY = std::max(maxY, d.y);
        }
        r.minX = minX;
        r.minY = minY;
        r.w = maxX - minX + 1;
        r.h = maxY - minY + 1;
        r.start.assign(std::size_t(r.h) + 1, 0);
        for (const Dot& d : dots) ++r.start[std::size_t(d.y - minY) + 1];
        for (std::size_t y = 0; y < std::size_t(r.h); ++y) r.start[y + 1] += r.start[y];
        r.order.resize(dots.size());
        std::vector<std::uint32_t> next(r.start.begin(), r.start.end() - 1);
        for (std::size_t i = 0; i < dots.size(); ++i)
            r.order[next[std::size_t(dots[i].y - minY)]++] = static_cast<std::uint32_t>(i);
        return r;
    }

    // Palette in order of first use; index 0 is what is not plotted (white, or masked out
    // when something was painted before). False beyond 256 entries.
    static bool paletteOf(std::span<const Dot> dots, std::vector<ColorValue>& palette,
                          std::vector<std::uint8_t>& indexOf) {
        palette.assign(1, 0xFFFFFF);
        indexOf.resize(dots.size());
        std::unordered_map<ColorValue, std::uint8_t> lookup;
        ColorValue lastColor = 0;
        std::uint8_t lastIndex = 0;
        bool haveLast = false;
        for (std::size_t i = 0; i < dots.size(); ++i) {
            const ColorValue c = dots[i].color;
            if (haveLast && c == lastColor) {
                indexOf[i] = lastIndex;
                continue;
            }
            auto it = lookup.find(c);
            if (it == lookup.end()) {
                if (palette.size() == 256) return false;
                it = lookup.emplace(c, static_cast<std::uint8_t>(palette.size())).first;
                palette.push_back(c);
            }
            indexOf[i] = it->second;
            lastColor = c;
            lastIndex = it->second;
            haveLast = true;
        }
        return true;
    }

    bool writeIndexed(std::span<const Dot> dots, const Rows& rows,
                      const std::vector<ColorValue>& palette,
                      const std::vector<std::uint8_t>& indexOf, bool overEarlier, std::string& dict,
                      Deflater& z) const {
        const int bits = bitsForEntries(palette.size());
        appendIndexedSpace(dict, palette);
        dict += " /BitsPerComponent ";
        appendInt(dict, bits);
        if (overEarlier) dict += " /Mask [0 0]";

        std::vector<std::uint8_t> idx(std::size_t(rows.w), 0);
        std::vector<unsigned char> packed((std::size_t(rows.w) * std::size_t(bits) + 7) / 8);
        const int perByte = 8 / bits;
        for (std::size_t r = 0; r < std::size_t(rows.h); ++r) {
            if (m_pace && !m_pace()) return false;
            std::fill(idx.begin(), idx.end(), std::uint8_t{0});
            for (std::uint32_t k = rows.start[r]; k < rows.start[r + 1]; ++k) {
                const std::uint32_t i = rows.order[k];
                idx[std::size_t(dots[i].x - rows.minX)] = indexOf[i];
            }
            if (bits == 8) {
                z.write(idx.data(), idx.size());
                continue;
            }
            std::fill(packed.begin(), packed.end(), static_cast<unsigned char>(0));
            for (int x = 0; x < rows.w; ++x) {
                const int shift = 8 - bits * (x % perByte + 1);
                packed[std::size_t(x / perByte)] |=
                    static_cast<unsigned char>(idx[std::size_t(x)] << shift);
            }
            z.write(packed.data(), packed.size());
        }
        return true;
    }

    // Too many colours for a palette: plain RGB. Over earlier layers, what is not plotted
    // carries a colour no dot uses, masked out as a colour key.
    bool writeRgb(std::span<const Dot> dots, const Rows& rows, bool overEarlier, std::string& dict,
                  Deflater& z) const {
        ColorValue background = 0xFFFFFF;
        if (overEarlier) {
            std::vector<std::uint64_t> used((1u << 24) / 64, 0);
            for (const Dot& d : dots) used[d.color >> 6] |= std::uint64_t{1} << (d.color & 63);
            ColorValue key = 0;
            while (used[key >> 6] & (std::uint64_t{1} << (key & 63))) ++key;
            background = key;
        }
        dict += " /ColorSpace /DeviceRGB /BitsPerComponent 8";
        if (overEarlier) {
            dict += " /Mask [";
            for (unsigned v : {redOf(background), greenOf(background), blueOf(background)}) {
                appendInt(dict, v);
                dict += ' ';
                appendInt(dict, v);
                dict += ' ';
            }
            dict.back() = ']';
        }
        std::vector<unsigned char> rgb(std::size_t(rows.w) * 3);
        for (std::size_t r = 0; r < std::size_t(rows.h); ++r) {
            if (m_pace && !m_pace()) return false;
            for (std::size_t x = 0; x < std::size_t(rows.w); ++x) {
                rgb[3 * x] = redOf(background);
                rgb[3 * x + 1] = greenOf(background);
                rgb[3 * x + 2] = blueOf(background);
            }
            for (std::uint32_t k = rows.start[r]; k < rows.start[r + 1]; ++k) {
                const Dot& d = dots[rows.order[k]];
                unsigned char* p = &rgb[3 * std::size_t(d.x - rows.minX)];
                p[0] = redOf(d.color);
                p[1] = greenOf(d.color);
                p[2] = blueOf(d.color);
            }
            z.write(rgb.data(), rgb.size());
        }
        return true;
    }

    // Objects: 1 catalog, 2 page tree, 3 page, 4 content, 5.. images; then the cross-reference
    // table that points at each.
    // The image streams are moved out (or, for pictures, pointed at), so this runs once.
    PdfPieces objects() {
        PdfPieces out;
        std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
        std::size_t before = 0;  // bytes in the pieces before `pdf`
        std::vector<std::size_t> offsets;
        auto beginObject = [&]() {
            offsets.push_back(before + pdf.size());
            appendInt(pdf, static_cast<long long>(offsets.size()));
            pdf += " 0 obj\n";
        };
        auto stream = [&](const std::string& dict, PdfPieces::Piece data) {
            beginObject();
            pdf += "<< ";
            pdf += dict;
            pdf += dict.empty() ? "/Length " : " /Length ";
            appendInt(pdf, static_cast<long long>(data.bytes().size()));
            pdf += " >>\nstream\n";
            before += pdf.size() + data.bytes().size();
            out.m_pieces.push_back({std::move(pdf), nullptr});
            out.m_pieces.push_back(std::move(data));
            pdf = "\nendstream\nendobj\n";
        };
        beginObject();
        pdf += "<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
        beginObject();
        pdf += "<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n";
        beginObject();
        pdf += "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ";
        appendNumber(pdf, m_doc.m_page.widthPt);
        pdf += ' ';
        appendNumber(pdf, m_doc.m_page.heightPt);
        pdf += "] /Resources << /XObject <<";
        for (std::size_t i = 0; i < m_images.size(); ++i) {
            pdf += " /Im";
            appendInt(pdf, static_cast<long long>(i));
            pdf += ' ';
            appendInt(pdf, 5 + static_cast<long long>(i));
            pdf += " 0 R";
        }
        pdf += " >> >> /Contents 4 0 R >>\nendobj\n";
        stream("", {std::move(m_content), nullptr});
        for (ImageObject& img : m_images) stream(img.dict, {std::move(img.stream), img.kept});
        const std::size_t xref = before + pdf.size();
        pdf += "xref\n0 ";
        appendInt(pdf, static_cast<long long>(offsets.size()) + 1);
        pdf += "\n0000000000 65535 f \n";
        for (std::size_t off : offsets) {
            char line[24];
            std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
            pdf += line;
        }
        pdf += "trailer\n<< /Size ";
        appendInt(pdf, static_cast<long long>(offsets.size()) + 1);
        pdf += " /Root 1 0 R >>\nstartxref\n";
        appendInt(pdf, static_cast<long long>(xref));
        pdf += "\n%%EOF\n";
        out.m_pieces.push_back({std::move(pdf), nullptr});
        return out;
    }

    const LabelDocument& m_doc;
    const double m_ptPerDot;
    const std::function<bool()>& m_pace;
    std::vector<ImageObject> m_images;
    std::string m_content;
};

bool PdfPieces::writeTo(const Sink& sink) const {
    for (const Piece& p : m_pieces) {
        if (!p.bytes().empty() && !sink(p.bytes().data(), p.bytes().size())) return false;
    }
    return true;
}

std::string PdfPieces::joined() const {
    std::string pdf;
    for (const Piece& p : m_pieces) pdf += p.bytes();
    return pdf;
}

std::optional<PdfPieces> LabelDocument::buildPdf(const std::function<bool()>& pace) const {
    return LabelPdf(*this, pace).build();
}

std::string LabelDocument::toPdf() const { return buildPdf()->joined(); }

}  // namespace plx
