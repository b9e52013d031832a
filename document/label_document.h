#pragma once
// One label page as the print server receives it: a PDF written by hand so that every dot
// and every picture pixel reaches the printer's raster exactly (lossless Flate images placed
// on device-dot boundaries; Qt's PDF engine would store images as JPEG).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "common/color.h"

namespace plx {

// The page the document is laid out for: its size as the print server states it, and the
// resolution of the raster the printer will receive.
struct LabelPage {
    double widthPt = 288.0;   // 1/72 in
    double heightPt = 432.0;  // 1/72 in
    int dpi = 600;

    // Device dots across and down, rounded as the raster interpreter rounds the page.
    int widthDots() const;
    int heightDots() const;
};

// A finished PDF in pieces: its own bytes, and each picture's compressed data where it already
// lies in the document it came from (which must outlive it), so a big picture is never copied
// into one string with the rest.
class PdfPieces {
  public:
    using Sink = std::function<bool(const char* data, std::size_t size)>;
    // The PDF to `sink` piece by piece; false once the sink fails.
    bool writeTo(const Sink& sink) const;
    std::string joined() const;

  private:
    friend class LabelPdf;
    struct Piece {
        std::string own;
        const std::string* kept = nullptr;
        const std::string& bytes() const { return kept != nullptr ? *kept : own; }
    };
    std::vector<Piece> m_pieces;
};

class LabelDocument {
  public:
    explicit LabelDocument(LabelPage page);

    const LabelPage& page() const { return m_page; }

    // A dot at the device dot floor(x), floor(y), counted from the top-left of the page.
    // Dots off the page (or not numbers) are dropped. Costs no allocation beyond amortised
    // growth of one vector.
    void plot(double xDots, double yDots, ColorValue color);

    // The picture stretched into the rectangle (in device dots from the top-left). The pixels
    // are compressed right away, so the caller may release the picture. A palette picture
    // keeps its palette (one byte a pixel to compress instead of three). `pace` is asked
    // between rows; false drops the picture.
    void drawPicture(const PictureView& picture, double xDots, double yDots, double widthDots,
                     double heightDots, const std::function<bool()>& pace = {});

    bool empty() const { return m_layers.empty(); }
    std::size_t dotCount() const { return m_dots.size(); }

    // The whole document as a one-page PDF, painted in the order the operations were made.
    // `pace` is asked between rows of the images made here; once it says stop there is none.
    std::optional<PdfPieces> buildPdf(const std::function<bool()>& pace = {}) const;
    std::string toPdf() const;

  private:
    friend class LabelPdf;  // writes the PDF from the layers

    struct Dot {
        std::int32_t x;
        std::int32_t y;
        ColorValue color;
    };
    // Consecutive plots form one layer, rendered as one image over their bounding box.
    struct DotRun {
        std::size_t begin;
        std::size_t end;
    };
    struct Picture {
        int width;
        int height;
        double x, y, w, h;                // device dots
        std::vector<ColorValue> palette;  // 256 entries for a palette picture, else empty
        std::string flate;                // zlib stream of width*height bytes (palette) or *3 (RGB)
    };
    using Layer = std::variant<DotRun, Picture>;

    LabelPage m_page;
    int m_widthDots;
    int m_heightDots;
    std::vector<Dot> m_dots;
    std::vector<Layer> m_layers;
};

}  // namespace plx
