#include "cups/cups_surface_shared.h"

#include <algorithm>
#include <cmath>

#include "cups/ipp_decisions.h"

namespace plx {

using namespace ipp;

namespace {

double hundredthsMmToPt(int v) { return v * 72.0 / 2540.0; }

}  // namespace

void CupsPrintSurface::setCopies(std::int16_t copies) { m_copies = copies; }

void CupsPrintSurface::setUnit(Unit unit) { m_unit = unit; }

void CupsPrintSurface::setPrintQuality(int dpi) { m_quality = dpi > 0 ? dpi : 0; }

// The queue's page and resolution, and how it stands: as this round's answers have them
// while no job has gone to the queue since, else asked in one request (libcups' own
// destination info would fetch every attribute the queue has, several times over).
Result<void> CupsPrintSurface::setUpPage() {
    Result<PrinterInfo> printer = current();
    if (!printer) return printer.error();
    Result<const QueueFacts*> known = queueFacts(printer->queue);
    if (!known) return known.error();
    const QueueFacts& queue = **known;
    const PageFacts& facts = queue.page;
    m_docState = queue.state;
    m_docMedia = facts.media;

    int dpi = facts.defaultDpi;
    if (m_quality > 0) {
        // A resolution the queue does not offer would be ignored by the server and the dots
        // scaled: take the closest one it offers (sizes in inches stay the same) and say so.
        dpi = m_quality;
        const int closest = closestDpi(facts.offeredDpi, m_quality);
        if (closest > 0 && closest != m_quality) {
            dpi = closest;
            m_docNotice =
                Message(PLX_TR("Station",
                               "print queue \"%1\" does not offer %2 dpi: "
                               "printed at %3 dpi, the label keeps its size"),
                        {printer->queue, std::to_string(m_quality), std::to_string(closest)});
        }
    }
    // A queue without a driver (a raw queue) states no resolution: lay the page out at the
    // common 600 dpi rather than refuse every job.
    if (dpi <= 0) dpi = 600;

    LabelPage page;
    page.widthPt = hundredthsMmToPt(facts.width);
    page.heightPt = hundredthsMmToPt(facts.length);
    page.dpi = dpi;
    m_originX = std::floor(hundredthsMmToPt(facts.left) * dpi / 72.0 + 0.5);
    m_originY = std::floor(hundredthsMmToPt(facts.top) * dpi / 72.0 + 0.5);

    // The printer's own raster where its driver takes one, else the PDF.
    const DocumentRoute route =
        m_rasterDocuments ? routeFor(printer->queue, queue, page, m_docMedia) : DocumentRoute{};
    m_page = page;
    m_docRoute = route.reason;
    m_doc = makePrintDocument(route, page);
    return {};
}

PrintDocument& CupsPrintSurface::document() {
    if (m_doc) return *m_doc;
    m_docError.reset();
    m_docNotice = Message();
    m_docRoute.clear();
    m_originX = m_originY = 0.0;
    m_docMedia.clear();
    Result<void> setUp = setUpPage();
    if (!setUp) {
        // Laid out blind so the drawing can go on; never submitted.
        m_docError = setUp.error();
        m_page = LabelPage{};
        if (m_quality > 0) m_page.dpi = m_quality;
        m_doc = makePrintDocument(DocumentRoute{}, m_page);
    }
    return *m_doc;
}

double CupsPrintSurface::scale() const {
    return m_unit == Unit::Inch ? static_cast<double>(m_page.dpi) : 1.0;
}

void CupsPrintSurface::plot(float x, float y, ColorValue color) {
    PrintDocument& doc = document();
    const double s = scale();
    const double dx = std::floor(double(x) * s);
    const double dy = std::floor(double(y) * s);
    // Off the printable area to the left or top: clipped, not moved into the margin.
    if (!(dx >= 0.0 && dy >= 0.0)) return;
    doc.plot(dx + m_originX, dy + m_originY, color);
}

void CupsPrintSurface::plotRow(std::int64_t x0, float y, const ColorValue* colours,
                               std::size_t count) {
    if (m_unit != Unit::Pixel) {
        PrintSurface::plotRow(x0, y, colours, count);
        return;
    }
    PrintDocument& doc = document();
    const double dy = std::floor(double(y));
    // Off the printable area to the left or top: clipped, as plot() clips.
    if (!(dy >= 0.0) || count == 0) return;
    const std::size_t skip =
        x0 >= 0 ? 0 : std::size_t(std::min<std::uint64_t>(std::uint64_t(-(x0 + 1)) + 1, count));
    if (skip == count) return;
    doc.plotRow(x0 + std::int64_t(skip) + std::int64_t(m_originX), std::int64_t(dy + m_originY),
                colours + skip, count - skip);
}

void CupsPrintSurface::drawPicture(const PictureView& picture, double x, double y, double width,
                                   double height, const KeepGoing& pace) {
    PrintDocument& doc = document();
    const double s = scale();
    doc.drawPicture(picture, x * s + m_originX, y * s + m_originY, width * s, height * s, pace);
}

void CupsPrintSurface::abortDocument() {
    m_doc.reset();
    m_docError.reset();
    m_jobToken.clear();
}
}  // namespace plx
