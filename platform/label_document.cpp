#include "platform/label_document.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
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
};

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
                                double widthDots, double heightDots) {
    if (picture.empty()) return;
    if (!std::isfinite(xDots) || !std::isfinite(yDots) || !std::isfinite(widthDots) ||
        !std::isfinite(heightDots) || widthDots <= 0.0 || heightDots <= 0.0) {
        return;
    }
    Picture p{picture.width, picture.height, xDots, yDots, widthDots, heightDots, {}};
    std::vector<unsigned char> row(std::size_t(picture.width) * 3);
    Deflater z(p.flateRgb);
    for (int y = 0; y < picture.height; ++y) {
        const std::uint32_t* src = picture.row(y);
        unsigned char* d = row.data();
        for (int x = 0; x < picture.width; ++x) {
            const ColorValue c = src[x];
            *d++ = redOf(c);
            *d++ = greenOf(c);
            *d++ = blueOf(c);
        }
        z.write(row.data(), row.size());
    }
    z.finish();
    m_layers.emplace_back(std::move(p));
}

std::string LabelDocument::toPdf() const {
    const double ptPerDot = 72.0 / m_page.dpi;
    std::vector<ImageObject> images;
    std::string content;

    // Places an image of w x h units whose top-left corner is at device dot (x, y). The page's
    // top edge is the raster's first row, so vertical positions count from the rounded height.
    auto place = [&](double x, double y, double w, double h) {
        content += "q ";
        appendNumber(content, w * ptPerDot);
        content += " 0 0 ";
        appendNumber(content, h * ptPerDot);
        content += ' ';
        appendNumber(content, x * ptPerDot);
        content += ' ';
        appendNumber(content, (m_heightDots - y - h) * ptPerDot);
        content += " cm /Im";
        appendInt(content, static_cast<long long>(images.size()));
        content += " Do Q\n";
    };

    for (std::size_t li = 0; li < m_layers.size(); ++li) {
        const bool overEarlier = li > 0;
        if (const auto* pic = std::get_if<Picture>(&m_layers[li])) {
            place(pic->x, pic->y, pic->w, pic->h);
            ImageObject img;
            img.dict = "/Type /XObject /Subtype /Image /Width ";
            appendInt(img.dict, pic->width);
            img.dict += " /Height ";
            appendInt(img.dict, pic->height);
            img.dict += " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode";
            img.stream = pic->flateRgb;
            images.push_back(std::move(img));
            continue;
        }

        const DotRun& run = std::get<DotRun>(m_layers[li]);
        const std::size_t n = run.end - run.begin;
        int minX = std::numeric_limits<int>::max(), minY = minX;
        int maxX = std::numeric_limits<int>::min(), maxY = maxX;
        for (std::size_t i = run.begin; i < run.end; ++i) {
            minX = std::min(minX, m_dots[i].x);
            maxX = std::max(maxX, m_dots[i].x);
            minY = std::min(minY, m_dots[i].y);
            maxY = std::max(maxY, m_dots[i].y);
        }
        const int w = maxX - minX + 1;
        const int h = maxY - minY + 1;

        // Palette in order of first use; index 0 is what is not plotted (white, or masked
        // out when something was painted before). Gives up beyond 256 entries.
        std::vector<ColorValue> palette{0xFFFFFF};
        std::vector<std::uint8_t> indexOf(n);
        bool indexed = true;
        {
            std::unordered_map<ColorValue, std::uint8_t> lookup;
            ColorValue lastColor = 0;
            std::uint8_t lastIndex = 0;
            bool haveLast = false;
            for (std::size_t i = 0; i < n; ++i) {
                const ColorValue c = m_dots[run.begin + i].color;
                if (haveLast && c == lastColor) {
                    indexOf[i] = lastIndex;
                    continue;
                }
                auto it = lookup.find(c);
                if (it == lookup.end()) {
                    if (palette.size() == 256) {
                        indexed = false;
                        break;
                    }
                    it = lookup.emplace(c, static_cast<std::uint8_t>(palette.size())).first;
                    palette.push_back(c);
                }
                const std::size_t found = it->second;
                indexOf[i] = static_cast<std::uint8_t>(found);
                lastColor = c;
                lastIndex = static_cast<std::uint8_t>(found);
                haveLast = true;
            }
        }

        // Dots grouped by row, keeping their order inside a row so that later dots win. This
        // needs memory per dot and per row only, never per pixel of the bounding box.
        std::vector<std::uint32_t> rowStart(std::size_t(h) + 1, 0);
        for (std::size_t i = run.begin; i < run.end; ++i) ++rowStart[m_dots[i].y - minY + 1];
        for (int r = 0; r < h; ++r) rowStart[r + 1] += rowStart[r];
        std::vector<std::uint32_t> order(n);
        {
            std::vector<std::uint32_t> next(rowStart.begin(), rowStart.end() - 1);
            for (std::size_t i = 0; i < n; ++i) {
                order[next[m_dots[run.begin + i].y - minY]++] = static_cast<std::uint32_t>(i);
            }
        }

        ImageObject img;
        img.dict = "/Type /XObject /Subtype /Image /Width ";
        appendInt(img.dict, w);
        img.dict += " /Height ";
        appendInt(img.dict, h);
        Deflater z(img.stream);

        if (indexed) {
            const int bits = bitsForEntries(palette.size());
            img.dict += " /ColorSpace [/Indexed /DeviceRGB ";
            appendInt(img.dict, static_cast<long long>(palette.size() - 1));
            img.dict += " <";
            for (ColorValue c : palette) {
                appendHexByte(img.dict, redOf(c));
                appendHexByte(img.dict, greenOf(c));
                appendHexByte(img.dict, blueOf(c));
            }
            img.dict += ">] /BitsPerComponent ";
            appendInt(img.dict, bits);
            if (overEarlier) img.dict += " /Mask [0 0]";

            std::vector<std::uint8_t> idx(std::size_t(w), 0);
            std::vector<unsigned char> packed((std::size_t(w) * bits + 7) / 8);
            const int perByte = 8 / bits;
            for (int r = 0; r < h; ++r) {
                std::fill(idx.begin(), idx.end(), std::uint8_t{0});
                for (std::uint32_t k = rowStart[r]; k < rowStart[r + 1]; ++k) {
                    const std::uint32_t i = order[k];
                    idx[m_dots[run.begin + i].x - minX] = indexOf[i];
                }
                if (bits == 8) {
                    z.write(idx.data(), idx.size());
                    continue;
                }
                std::fill(packed.begin(), packed.end(), static_cast<unsigned char>(0));
                for (int x = 0; x < w; ++x) {
                    const int shift = 8 - bits * (x % perByte + 1);
                    packed[x / perByte] |= static_cast<unsigned char>(idx[x] << shift);
                }
                z.write(packed.data(), packed.size());
            }
        } else {
            // Too many colours for a palette: plain RGB. Over earlier layers, what is not
            // plotted carries a colour no dot uses, masked out as a colour key.
            ColorValue background = 0xFFFFFF;
            if (overEarlier) {
                std::vector<std::uint64_t> used((1u << 24) / 64, 0);
                for (std::size_t i = run.begin; i < run.end; ++i) {
                    used[m_dots[i].color >> 6] |= std::uint64_t{1} << (m_dots[i].color & 63);
                }
                ColorValue key = 0;
                while (used[key >> 6] & (std::uint64_t{1} << (key & 63))) ++key;
                background = key;
            }
            img.dict += " /ColorSpace /DeviceRGB /BitsPerComponent 8";
            if (overEarlier) {
                img.dict += " /Mask [";
                for (unsigned v : {redOf(background), greenOf(background), blueOf(background)}) {
                    appendInt(img.dict, v);
                    img.dict += ' ';
                    appendInt(img.dict, v);
                    img.dict += ' ';
                }
                img.dict.back() = ']';
            }
            std::vector<unsigned char> rgb(std::size_t(w) * 3);
            for (int r = 0; r < h; ++r) {
                for (int x = 0; x < w; ++x) {
                    rgb[3 * x] = redOf(background);
                    rgb[3 * x + 1] = greenOf(background);
                    rgb[3 * x + 2] = blueOf(background);
                }
                for (std::uint32_t k = rowStart[r]; k < rowStart[r + 1]; ++k) {
                    const Dot& d = m_dots[run.begin + order[k]];
                    unsigned char* p = &rgb[3 * std::size_t(d.x - minX)];
                    p[0] = redOf(d.color);
                    p[1] = greenOf(d.color);
                    p[2] = blueOf(d.color);
                }
                z.write(rgb.data(), rgb.size());
            }
        }
        z.finish();
        img.dict += " /Filter /FlateDecode";
        place(minX, minY, w, h);
        images.push_back(std::move(img));
    }

    // Objects: 1 catalog, 2 page tree, 3 page, 4 content, 5.. images.
    std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets;
    auto beginObject = [&]() {
        offsets.push_back(pdf.size());
        appendInt(pdf, static_cast<long long>(offsets.size()));
        pdf += " 0 obj\n";
    };
    beginObject();
    pdf += "<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
    beginObject();
    pdf += "<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n";
    beginObject();
    pdf += "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ";
    appendNumber(pdf, m_page.widthPt);
    pdf += ' ';
    appendNumber(pdf, m_page.heightPt);
    pdf += "] /Resources << /XObject <<";
    for (std::size_t i = 0; i < images.size(); ++i) {
        pdf += " /Im";
        appendInt(pdf, static_cast<long long>(i));
        pdf += ' ';
        appendInt(pdf, static_cast<long long>(5 + i));
        pdf += " 0 R";
    }
    pdf += " >> >> /Contents 4 0 R >>\nendobj\n";
    beginObject();
    pdf += "<< /Length ";
    appendInt(pdf, static_cast<long long>(content.size()));
    pdf += " >>\nstream\n";
    pdf += content;
    pdf += "\nendstream\nendobj\n";
    for (const ImageObject& img : images) {
        beginObject();
        pdf += "<< ";
        pdf += img.dict;
        pdf += " /Length ";
        appendInt(pdf, static_cast<long long>(img.stream.size()));
        pdf += " >>\nstream\n";
        pdf += img.stream;
        pdf += "\nendstream\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 ";
    appendInt(pdf, static_cast<long long>(offsets.size() + 1));
    pdf += "\n0000000000 65535 f \n";
    for (std::size_t off : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        pdf += line;
    }
    pdf += "trailer\n<< /Size ";
    appendInt(pdf, static_cast<long long>(offsets.size() + 1));
    pdf += " /Root 1 0 R >>\nstartxref\n";
    appendInt(pdf, static_cast<long long>(xref));
    pdf += "\n%%EOF\n";
    return pdf;
}

}  // namespace plx
