#include "document/print_document.h"

#include <algorithm>
#include <optional>

#include "document/label_raster.h"

namespace plx {

namespace {

class PdfDocument : public PrintDocument {
  public:
    explicit PdfDocument(const LabelPage& page) : PrintDocument("application/pdf"), m_doc(page) {}
    void plot(double x, double y, ColorValue color) override { m_doc.plot(x, y, color); }
    void plotRow(std::int64_t x0, std::int64_t y, const ColorValue* colours,
                 std::size_t count) override {
        for (std::size_t i = 0; i < count; ++i) {
            if (isDot(colours[i])) m_doc.plot(double(x0 + std::int64_t(i)), double(y), colours[i]);
        }
    }
    void drawPicture(const PictureView& picture, double x, double y, double width, double height,
                     const KeepGoing& pace) override {
        m_doc.drawPicture(picture, x, y, width, height, pace);
    }
    bool empty() const override { return m_doc.empty(); }
    bool finish(const KeepGoing& pace) override {
        m_pdf = m_doc.buildPdf(pace);
        return m_pdf.has_value();
    }
    // The print server makes the copies of a PDF.
    bool writeTo(int, const Sink& sink) const override { return m_pdf && m_pdf->writeTo(sink); }

  private:
    LabelDocument m_doc;
    std::optional<PdfPieces> m_pdf;
};

class RasterDocument : public PrintDocument {
  public:
    explicit RasterDocument(const DocumentRoute& route)
        : PrintDocument(route.format),
          m_route(route),
          m_page(route.width, route.height),
          m_left(route.left),
          m_top(route.top) {}
    void plot(double x, double y, ColorValue color) override {
        m_page.plot(x - m_left, y - m_top, color);
    }
    void plotRow(std::int64_t x0, std::int64_t y, const ColorValue* colours,
                 std::size_t count) override {
        m_page.plotRow(x0 - m_left, y - m_top, colours, count);
    }
    void drawPicture(const PictureView& picture, double x, double y, double width, double height,
                     const KeepGoing& pace) override {
        m_page.drawPicture(picture, x - m_left, y - m_top, width, height, pace);
    }
    bool empty() const override { return m_page.empty(); }
    // Rows are compressed while they are sent (again for each copy the driver does not make):
    // the page is never held compressed as well, and compressing overlaps the server reading.
    bool finish(const KeepGoing&) override { return true; }
    bool writeTo(int copies, const Sink& sink) const override {
        if (!sink(m_route.syncWord.data(), m_route.syncWord.size())) return false;
        const int pages = m_route.manualCopies ? std::max(copies, 1) : 1;
        for (int p = 0; p < pages; ++p) {
            if (!sink(m_route.pageHeader.data(), m_route.pageHeader.size()) ||
                !m_page.compressRows(sink))
                return false;
        }
        return true;
    }
    bool holdsCopies() const override { return m_route.manualCopies; }

  private:
    DocumentRoute m_route;
    LabelRaster m_page;
    int m_left;
    int m_top;
};

}  // namespace

std::unique_ptr<PrintDocument> makePrintDocument(const DocumentRoute& route,
                                                 const LabelPage& page) {
    if (route.raster) return std::make_unique<RasterDocument>(route);
    return std::make_unique<PdfDocument>(page);
}

}  // namespace plx
